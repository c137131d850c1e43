#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/OutputFolders.h"

namespace sorvel {

bool OutputFolders::makeFolder(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST; }

bool OutputFolders::makeFolderIn(const DirectoryHandle& parent, const std::string& name) {
  return ::mkdirat(static_cast<int>(parent.handle()), name.c_str(), 0777) == 0 || errno == EEXIST;
}

OutputFolders::InTheWay OutputFolders::inTheWay(const DirectoryHandle& parent, const std::string& name, int) {
  struct stat st {};
  const bool link =
      ::fstatat(static_cast<int>(parent.handle()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
  return link ? InTheWay::SymbolicLink : InTheWay::Nothing;
}

}  // namespace sorvel
