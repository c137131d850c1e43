#include "mount/MountPoint.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/Messages.h"
#include "platform/SystemError.h"

namespace sorvel::mount {
namespace {

// A path as /proc/self/mountinfo writes it, with blanks, tabs, newlines and backslashes as
// octal escapes ("\040"), made plain again.
std::string unescapeMountPath(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const auto octal = [&](std::size_t at) { return at < field.size() && field[at] >= '0' && field[at] <= '7'; };
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

// The device ("major:minor") of the newest mount at `path` (without links, as the process's mount
// table has it); nothing when none is there. A bind mount of a folder of the same file system
// shows only here, not in the device number.
std::optional<std::string> deviceMountedAt(const std::string& path) {
  std::optional<std::string> found;
  std::ifstream table("/proc/self/mountinfo");
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    if (fields >> id >> parent >> device >> root >> point && unescapeMountPath(point) == path) found = device;
  }
  return found;
}

}  // namespace

std::optional<std::string> mountPointProblem(const std::string& path) {
  struct stat folder {};
  if (::stat(path.c_str(), &folder) != 0) {
    const int error = errno;
    return systemErrorText(error);
  }
  if (!S_ISDIR(folder.st_mode)) return std::string(Message::NotAFolder);
  // A mount's root lies on another device than its parent folder; "/" is its own parent.
  struct stat parent {};
  if (::stat((path + "/..").c_str(), &parent) == 0 &&
      (parent.st_dev != folder.st_dev || parent.st_ino == folder.st_ino)) {
    return std::string(Message::AlreadyAMountPoint);
  }
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (real != nullptr && deviceMountedAt(real.get())) return std::string(Message::AlreadyAMountPoint);
  return std::nullopt;
}

bool setMountReadAhead(const std::string& realPath, unsigned kibibytes) {
  const std::optional<std::string> device = deviceMountedAt(realPath);
  if (!device) return false;
  std::ofstream setting("/sys/class/bdi/" + *device + "/read_ahead_kb");
  setting << kibibytes << "\n" << std::flush;
  return static_cast<bool>(setting);
}

}  // namespace sorvel::mount
