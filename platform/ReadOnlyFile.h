#pragma once
// An archive file opened for reading only, others may read it but not write it where the host
// can deny that (Windows). Positioned reads keep no shared file offset, so one open file can
// serve several threads.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/NativeHandle.h"

namespace sorvel {

class ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile& operator=(ReadOnlyFile&& other) noexcept;
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // False when the file cannot be opened for reading; errno tells why. Only a regular file is
  // kept open (anything else: EINVAL), and opening never waits, whatever the path names.
  bool open(const std::string& path);
  // The same on a file the caller opened: a duplicate of `handle` is kept, the caller's stays its
  // own to close. False (errno) when it cannot be duplicated or is not a regular file.
  bool openDuplicate(NativeHandle handle);
  // Reads standard input to its end into an unnamed temporary file (in $TMPDIR, else /tmp, or in
  // memory where the host has no such file), which stays open for reading and goes when it is
  // closed: an archive read from a pipe, whose reads need to go back and forth. False when
  // standard input is a terminal (ENOTTY), or cannot be read or copied (errno tells why).
  bool openCopyOfStandardInput();
  void close();
  bool isOpen() const { return handle_ != kNoHandle; }

  // Reads up to `length` bytes at `offset`; fewer only at the end of the file or on an error.
  std::size_t readAt(std::uint64_t offset, std::uint8_t* dst, std::size_t length) const;

  std::optional<std::uint64_t> size() const;

 private:
#if defined(_WIN32)
  bool keepIfDisk(void* handle);  // keeps a file handle of a disk file, else closes it (EINVAL)
#endif
  NativeHandle handle_ = kNoHandle;
};

}  // namespace sorvel
