#pragma once
// Writes one output file completely or not at all. The content goes to a new temporary file in
// the target's folder; only `commit` puts it in place of the target, with its times and
// read-only attribute, by an atomic rename. Every failure, and abandoning the writer, removes
// the temporary file, so an existing target keeps its old content.
//
// Every call that answers false leaves the writer abandoned; `error()` then holds the errno of
// the first failure (errno is set as well).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/DirectoryHandle.h"
#include "platform/NativeHandle.h"

namespace sorvel {

// What a written file keeps of its item's flags. Read-only holds everywhere (on POSIX hosts as
// the absence of write permission); the others only where the host has them (Windows).
struct FileFlags {
  bool readOnly = false;
  bool hidden = false;
  bool system = false;
  bool archive = false;
};

// What a writer's commit does with a file that stands at the target's name (a folder there is
// never replaced: EISDIR). Replacing takes the name from the old file and leaves the file itself
// as it was, to its other links too; a read-only file is one without owner write permission (on
// Windows, one with the read-only attribute). Keeping makes the name with a call that never
// replaces, so a file that appears at the name at any time before is kept all the same, and
// commit fails with EEXIST.
enum class ExistingFiles { ReplaceAll, ReplaceWritable, Keep };

class FileWriter {
 public:
  // The host's write call used for the content: bytes written, or -1 with errno set. Tests
  // substitute it to observe or fake the calls.
  using WriteCall = std::function<std::ptrdiff_t(NativeHandle file, const void* data, std::size_t count)>;

  // No write call is given more than this many bytes.
  static constexpr std::size_t kMaxWriteChunk = 0x10000000;
  // Starts a file that will replace `targetPath`. Refused (nothing is created) when the target
  // is a directory (EISDIR) or a file without owner write permission (EACCES), when the name is
  // empty (EINVAL) or unusable (ENAMETOOLONG, ENOENT, ...). A symbolic link of that name is
  // replaced by the file, never written through. Without `writeCall`, write(2) is used.
  static std::optional<FileWriter> create(const std::string& targetPath, WriteCall writeCall = {});
  // The same for the file `name` (one name, no "/") in an open folder, which must stay open
  // until the writer is done; every call resolves just that name. A name longer than the file
  // system takes is refused at once (ENAMETOOLONG). The target is not looked at before
  // `commit`, which refuses it then as `create` would (EISDIR, EACCES) and keeps it.
  // Where the file system allows, the content goes to an unnamed file that commit links in
  // place, and `temporaryPath()` stays empty.
  static std::optional<FileWriter> createIn(const DirectoryHandle& folder, const std::string& name,
                                            WriteCall writeCall = {});

  ~FileWriter();  // abandons an uncommitted file
  FileWriter(FileWriter&& other) noexcept;
  FileWriter& operator=(FileWriter&& other) noexcept;
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;

  // Appends `length` bytes; may be called any number of times.
  bool write(const std::uint8_t* data, std::size_t length);
  // Extends the file to `size` bytes with zeros without writing them. `size` must not be below
  // the current size (EINVAL). Later writes go after the zeros.
  bool extendTo(std::uint64_t size);
  // Where the host stores a creation time (Windows), commit sets it to `created`; elsewhere this
  // does nothing.
  void setCreationTime(std::int64_t created) { created_ = created; }
  // What commit does with a file at the target's name (by default: ReplaceWritable). A read-only
  // file is replaced only by a writer of `createIn`, which looks only then. On Windows a read-only
  // file is moved aside through a handle to the very file that stands there (a link of that name
  // is not followed), and its read-only attribute, taken off to remove it, is given back for its
  // other names.
  void setExistingFiles(ExistingFiles policy) { existing_ = policy; }
  // Sets the last-access and last-write times (whole seconds), removes every write permission
  // bit when `flags.readOnly` (on Windows: sets the read-only, hidden, system and archive
  // attributes as flagged), closes the file and renames it over the target. The target is
  // checked again first, as at `create`, by the policy on existing files.
  bool commit(std::int64_t accessed, std::int64_t modified, FileFlags flags);
  // Closes and removes the temporary file; nothing of it remains.
  void abandon();

  bool isOpen() const { return handle_ != kNoHandle; }
  std::uint64_t size() const { return size_; }
  int error() const { return error_; }
  // The temporary file while the writer is open (by name within its folder for `createIn`);
  // empty otherwise.
  const std::string& temporaryPath() const { return temporaryPath_; }

 private:
  FileWriter() = default;
  static std::optional<FileWriter> start(NativeHandle folder, const std::string& temporaryPrefix,
                                         const std::string& target, bool targetMissing, WriteCall writeCall);
  bool commitUnnamed();
  void clearTemporary();
  bool fail(int error);
  bool ensureOpen();

  NativeHandle handle_ = kNoHandle;
  NativeHandle folder_ = kNoHandle;  // the folder the names below are relative to (POSIX; AT_FDCWD: none)
  bool unnamed_ = false;             // the content is in an unnamed file until commit
  std::string targetPath_;
  std::string temporaryPath_;
  WriteCall writeCall_;
  std::uint64_t size_ = 0;
  int error_ = 0;
  std::int64_t created_ = 0;
  bool targetMissing_ = false;  // not seen at `create`: the rename must not replace anything
  ExistingFiles existing_ = ExistingFiles::ReplaceWritable;
};

}  // namespace sorvel
