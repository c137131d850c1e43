#include "platform/ExistingFile.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace sorvel {

ExistingEntry existingEntry(const DirectoryHandle& folder, const std::string& name) {
  struct stat status {};
  if (::fstatat(static_cast<int>(folder.handle()), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return ExistingEntry::Nothing;
  }
  return S_ISDIR(status.st_mode) ? ExistingEntry::Folder : ExistingEntry::Other;
}

}  // namespace sorvel
