#include "platform/MakeDirectory.h"

#include <sys/stat.h>

#include <cerrno>

namespace sorvel {

MakeDirectoryResult makeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return {true, 0};
  const int mkdirError = errno;
  struct stat st {};
  const bool isDirectory = mkdirError == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  errno = mkdirError;
  return {isDirectory, mkdirError};
}

}  // namespace sorvel
