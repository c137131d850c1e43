#include "platform/ExistingFile.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace sorvel {

bool entryExists(const DirectoryHandle& folder, const std::string& name) {
  struct stat status {};
  return ::fstatat(static_cast<int>(folder.handle()), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace sorvel
