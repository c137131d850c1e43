#include "platform/ExistingFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace sorvel {

bool entryExists(const DirectoryHandle& folder, const std::string& name) {
  struct stat status {};
  return ::fstatat(static_cast<int>(folder.handle()), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

int clearReadOnly(const DirectoryHandle& folder, const std::string& name) {
  const int fd = static_cast<int>(folder.handle());
  struct stat status {};
  if (::fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return 0;  // nothing there
  if (!S_ISREG(status.st_mode) || (status.st_mode & S_IWUSR) != 0) return 0;
  if (::fchmodat(fd, name.c_str(), (status.st_mode & 07777) | S_IWUSR, 0) != 0) return errno;
  return 0;
}

}  // namespace sorvel
