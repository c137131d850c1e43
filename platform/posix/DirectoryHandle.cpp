#include "platform/DirectoryHandle.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace sorvel {

bool DirectoryHandle::open(const std::string& path) {
  close();
  int fd;
  do {
    fd = ::open(path.empty() ? "." : path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  handle_ = fd;
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
    fd = ::openat(static_cast<int>(parent.handle()), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  handle_ = fd;
  path_ = name;
  return true;
}

void DirectoryHandle::close() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(std::exchange(handle_, kNoHandle)));
  path_.clear();
}

}  // namespace sorvel
