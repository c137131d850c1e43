#include "platform/OutputFolders.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/SystemError.h"

namespace sorvel {
namespace {

constexpr const char* kLinkInTheWay = "symbolic link in the way";

}  // namespace

bool OutputFolders::openBase(const std::string& path, bool create, Failure& failure) {
  close();
  if (create && ::mkdir(path.empty() ? "." : path.c_str(), 0777) != 0 && errno != EEXIST) {
    failure = {errno, systemErrorText(errno)};
    return false;
  }
  if (!base_.open(path)) {
    failure = {errno, systemErrorText(errno)};
    return false;
  }
  return true;
}

const DirectoryHandle* OutputFolders::reach(const std::vector<std::string>& names, bool makeLast, Failure& failure) {
  if (!base_.isOpen()) {
    failure = {EBADF, systemErrorText(EBADF)};
    return nullptr;
  }
  // Folders come in listing order, so the ones open for the last item are mostly the ones wanted.
  std::size_t kept = 0;
  while (kept < open_.size() && kept < names.size() && open_[kept].first == names[kept] &&
         !(makeLast && kept + 1 == names.size())) {
    ++kept;
  }
  open_.resize(kept);
  for (std::size_t i = kept; i < names.size(); ++i) {
    const DirectoryHandle& parent = i == 0 ? base_ : open_.back().second;
    const std::string& name = names[i];
    if (makeLast && i + 1 == names.size() && ::mkdirat(static_cast<int>(parent.handle()), name.c_str(), 0777) != 0 && errno != EEXIST) {
      failure = {errno, systemErrorText(errno)};
      return nullptr;
    }
    DirectoryHandle folder;
    if (!folder.openIn(parent, name)) {
      const int error = errno;
      struct stat st {};
      const bool link = ::fstatat(static_cast<int>(parent.handle()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
      failure = {error, link ? kLinkInTheWay : systemErrorText(error)};
      return nullptr;
    }
    open_.emplace_back(name, std::move(folder));
  }
  return names.empty() ? &base_ : &open_.back().second;
}

void OutputFolders::close() {
  open_.clear();
  base_.close();
}

}  // namespace sorvel
