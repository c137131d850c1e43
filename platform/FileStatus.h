#pragma once
// What a path names, with symbolic links followed.
#include <string>

namespace sorvel {

enum class FileKind { Absent, Regular, Other, Error };

struct FileStatus {
  FileKind kind = FileKind::Error;
  int error = 0;  // the errno value behind Absent and Error
};

// Absent covers a missing file and a path through something that is not a folder; any other
// failure to look is an Error. A dangling symbolic link is absent.
FileStatus queryFileStatus(const std::string& path);

}  // namespace sorvel
