#include "support/FileState.h"

namespace sorvel::testing {
namespace {

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

bool FileState::operator==(const FileState& other) const {
  return mode == other.mode && owner == other.owner && group == other.group && size == other.size &&
         sameTime(accessed, other.accessed) && sameTime(modified, other.modified);
}

FileState fileStateOf(const struct stat& status) {
  return {status.st_mode, status.st_uid, status.st_gid, status.st_size, status.st_atim, status.st_mtim};
}

FileState fileStateOf(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? fileStateOf(status) : FileState{};
}

void PrintTo(const FileState& state, std::ostream* out) {
  *out << "mode 0" << std::oct << state.mode << std::dec << ", owner " << state.owner << ":" << state.group << ", "
       << state.size << " bytes, accessed " << state.accessed.tv_sec << "." << state.accessed.tv_nsec << ", modified "
       << state.modified.tv_sec << "." << state.modified.tv_nsec;
}

}  // namespace sorvel::testing
