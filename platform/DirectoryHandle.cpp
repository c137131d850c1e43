#include "platform/DirectoryHandle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace sorvel {

DirectoryHandle::~DirectoryHandle() { close(); }

DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::exchange(other.path_, {})) {}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

bool DirectoryHandle::open(const std::string& path) {
  close();
  int fd;
  do {
    fd = ::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = path;
  return true;
}

bool DirectoryHandle::openIn(const DirectoryHandle& parent, const std::string& name) {
  close();
  if (!parent.isOpen() || name.empty() || name.find('/') != std::string::npos) {
    errno = EINVAL;
    return false;
  }
  int fd;
  do {
    fd = ::openat(parent.fd(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = name;
  return true;
}

void DirectoryHandle::close() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  path_.clear();
}

}  // namespace sorvel
