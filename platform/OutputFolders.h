#pragma once
// The folders of an output tree, reached from the output folder one name at a time, each from
// its parent's open descriptor and never through a symbolic link: whatever the tree already
// holds, nothing is created outside it. Only the output folder itself may be a link, since the
// user named it.
#include <string>
#include <utility>
#include <vector>

#include "platform/DirectoryHandle.h"

namespace sorvel {

class OutputFolders {
 public:
  // Why a folder could not be reached or made: the system's error, and what stands in the way
  // where a name leads elsewhere (a link is neither followed nor removed).
  enum class InTheWay { Nothing, SymbolicLink, ReparsePoint };
  struct Failure {
    int error = 0;
    InTheWay inTheWay = InTheWay::Nothing;
  };

  // Opens the output folder, made first when `create` and it is missing (its parent must exist).
  bool openBase(const std::string& path, bool create, Failure& failure);
  // Opens the output folder `other` has open, for a second thread: the same folder, not found
  // again by its path.
  bool openBeside(const OutputFolders& other);
  bool isOpen() const { return base_.isOpen(); }
  // The folder at `names` below the output folder, each name reached from the one before; the
  // last one made first when `makeLast` (an existing folder is fine). Null, with `failure` set,
  // when a name is missing, is not a folder or is a symbolic link (which is neither followed nor
  // removed). The answer stays valid until the next call.
  const DirectoryHandle* reach(const std::vector<std::string>& names, bool makeLast, Failure& failure);
  void close();

 private:
  // The host's part: makes the folder at `path` or `name` in `parent` (false, with errno set,
  // unless it is there now or was there already), and tells what stands in the way of `name` in
  // `parent` when its open as a folder failed with `error`.
  static bool makeFolder(const std::string& path);
  static bool makeFolderIn(const DirectoryHandle& parent, const std::string& name);
  static InTheWay inTheWay(const DirectoryHandle& parent, const std::string& name, int error);

  DirectoryHandle base_;
  std::vector<std::pair<std::string, DirectoryHandle>> open_;  // the folders last reached, outermost first
};

}  // namespace sorvel
