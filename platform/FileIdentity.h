#pragma once
// Which file a name or an open file stands for, so that two names of one file (links, other
// spellings of the path) are told from two files: the device and the file's number on it (on
// Windows the volume's serial number and the file index).
#include <cstdint>
#include <optional>
#include <string>

namespace sorvel {

struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;

  bool operator==(const FileIdentity&) const = default;
};

// The file `path` names, symbolic links followed; nothing when it cannot be looked at (absent,
// not permitted).
std::optional<FileIdentity> identityOfPath(const std::string& path);
// The file open as standard output; nothing when there is none or it cannot be looked at.
std::optional<FileIdentity> identityOfStandardOutput();

}  // namespace sorvel
