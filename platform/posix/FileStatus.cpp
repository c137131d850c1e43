#include "platform/FileStatus.h"

#include <sys/stat.h>

#include <cerrno>

namespace sorvel {

FileStatus queryFileStatus(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int error = errno;
    const bool absent = error == ENOENT || error == ENOTDIR;
    return {absent ? FileKind::Absent : FileKind::Error, error};
  }
  return {S_ISREG(info.st_mode) ? FileKind::Regular : FileKind::Other, 0};
}

}  // namespace sorvel
