#pragma once
// An open directory of the output tree, to create files in by name: every call made relative to
// it resolves one name instead of walking the whole path again.
#include <string>

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
  // directory that can be opened. "" stands for the current folder.
  bool open(const std::string& path);
  // Opens the folder `name` (one name, no "/") inside `parent`, never following a symbolic link:
  // false, with errno set (ELOOP, ENOTDIR, ...), for a link or anything but a directory.
  bool openIn(const DirectoryHandle& parent, const std::string& name);
  void close();
  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // The path it was opened with (the name alone for openIn).
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace sorvel
