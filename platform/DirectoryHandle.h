#pragma once
// An open directory of the output tree, to create files in by name: every call made relative to
// it resolves one name instead of walking the whole path again.
#include <string>

#include "platform/NativeHandle.h"

namespace sorvel {

class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  ~DirectoryHandle();
  DirectoryHandle(DirectoryHandle&& other) noexcept;
  DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;

  // Opens `path` (followed if it is a symbolic link); false, with errno set, when it is not a
  // directory that can be opened. "" stands for the current folder. While it is open the folder
  // cannot be renamed or removed on hosts that lock open folders (Windows).
  bool open(const std::string& path);
  // Opens the folder `name` (one name, no "/") inside `parent`, never following a symbolic link or
  // any other reparse point: false, with errno set (ELOOP, ENOTDIR, ...), for a link or anything
  // but a directory.
  bool openIn(const DirectoryHandle& parent, const std::string& name);
  void close();
  bool isOpen() const { return handle_ != kNoHandle; }
  NativeHandle handle() const { return handle_; }
  // The path it was opened with (the name alone for openIn).
  const std::string& path() const { return path_; }
  // The folder's full path, on hosts that create files by path rather than relative to an open
  // folder (Windows); empty elsewhere.
  const std::string& location() const { return location_; }

 private:
  NativeHandle handle_ = kNoHandle;
  std::string path_;
  std::string location_;
};

}  // namespace sorvel
