#pragma once
// What a test checks of a file that something must leave alone: its kind and permissions, owner,
// size and times, as lstat(2) tells them. The link count and the change time are left to the
// test: replacing another name of the file changes both.
#include <sys/stat.h>

#include <ctime>
#include <ostream>
#include <string>

namespace sorvel::testing {

struct FileState {
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  off_t size = 0;
  timespec accessed{};
  timespec modified{};

  bool operator==(const FileState& other) const;
};

FileState fileStateOf(const struct stat& status);
// The state of the entry at `path` (a link is not followed); a default state when there is none.
FileState fileStateOf(const std::string& path);

void PrintTo(const FileState& state, std::ostream* out);

}  // namespace sorvel::testing
