#include "platform/OutputFolders.h"

#include <cerrno>

namespace sorvel {

bool OutputFolders::openBase(const std::string& path, bool create, Failure& failure) {
  close();
  if ((create && !makeFolder(path.empty() ? std::string(".") : path)) || !base_.open(path)) {
    failure = {errno};
    return false;
  }
  return true;
}

bool OutputFolders::openBeside(const OutputFolders& other) {
  close();
  return other.base_.isOpen() && base_.openIn(other.base_, ".");
}

const DirectoryHandle* OutputFolders::reach(const std::vector<std::string>& names, bool makeLast, Failure& failure) {
  if (!base_.isOpen()) {
    failure = {EBADF};
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
    if (makeLast && i + 1 == names.size() && !makeFolderIn(parent, name)) {
      failure = {errno};
      return nullptr;
    }
    DirectoryHandle folder;
    if (!folder.openIn(parent, name)) {
      const int error = errno;
      failure = {error, inTheWay(parent, name, error)};
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
