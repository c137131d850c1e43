#pragma once
// Creates one directory of the output tree. No parent directories are made.
#include <string>

namespace sorvel {

struct MakeDirectoryResult {
  // True when the path names a directory afterwards, made now or already there (a symbolic
  // link to a directory counts).
  bool existsAsDirectory = false;
  // errno of mkdir: 0 when the directory was made now, EEXIST when something was there already.
  int error = 0;

  bool created() const { return existsAsDirectory && error == 0; }
  explicit operator bool() const { return existsAsDirectory; }
};

// mkdir with mode 0777, so the umask (or a default ACL) decides the permissions.
MakeDirectoryResult makeDirectory(const std::string& path);

}  // namespace sorvel
