#pragma once
// The archive's folders and files in memory, built once when the archive is opened. Folders are
// SvFolder nodes, files Deposit nodes; each holds a copy of its directory group.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tree/ItemRecord.h"
#include "tree/NameRules.h"

namespace sorvel {

inline constexpr std::uint8_t kFolderKind = 0;
inline constexpr std::uint8_t kFileKind = 1;
// The root folder's directory always begins at this block.
inline constexpr std::uint16_t kRootDirectoryBlock = 2;

struct FolderItemNode {
  explicit FolderItemNode(std::uint8_t nodeKind) : kind(nodeKind) {}
  virtual ~FolderItemNode() = default;
  FolderItemNode(const FolderItemNode&) = delete;
  FolderItemNode& operator=(const FolderItemNode&) = delete;

  bool isFolder() const { return kind == kFolderKind; }

  std::uint8_t kind;
  std::u16string name;
  ItemRecord record;
};

struct SvFolder final : FolderItemNode {
  SvFolder() : FolderItemNode(kFolderKind) {}
  NameMap<std::unique_ptr<FolderItemNode>> children;
  // Set when the folder's directory could not be trusted (malformed, a chain already read as
  // another folder's directory or running into one, or a tree past its bounds): the folder then
  // holds at most the items read before that point, although the archive meant more.
  bool damaged = false;
};

struct Deposit final : FolderItemNode {
  Deposit() : FolderItemNode(kFileKind) {}
};

// An item of the archive that has no place of its own in the tree: its name is held by another
// item of its folder (compareNames alike, or alike on disk once unpaired surrogates become
// U+FFFD), or it is empty, or holds a backslash that leads into a folder that is not there.
// Kept so that extraction tells about it instead of losing it without a word.
struct LeftOutItem {
  enum class Why { SameName, UnsafeName };
  Why why;
  std::u16string path;      // its folder's path and its stored name
  std::u16string namesake;  // SameName: the path of the item that holds the name
  std::u16string folder;    // the path of the folder whose directory holds it
  // Told right after this node: the namesake, else the nearest folder of the tree on its way.
  const FolderItemNode* after = nullptr;
};

class FolderTree {
 public:
  FolderTree();  // the root alone: name "\", a folder whose directory starts at block 2
  ~FolderTree();
  FolderTree(const FolderTree&) = delete;
  FolderTree& operator=(const FolderTree&) = delete;

  SvFolder& root() { return *root_; }
  const SvFolder& root() const { return *root_; }

  // Inserts a folder, creating the missing folders on its path with a copy of `record`. False
  // when a file stands on the path (folders made by earlier steps stay).
  bool addFolder(std::u16string_view path, const ItemRecord& record);
  // Inserts a file into an existing folder; false if the folder is missing, the leaf is empty or
  // the name is taken.
  bool addFile(std::u16string_view path, const ItemRecord& record);
  // The folder that would hold `path` and the leaf name; (root, "") for the root; (null, "") when
  // a folder on the way is missing or is a file.
  std::pair<SvFolder*, std::u16string> findParentFolder(std::u16string_view path);
  // The node at `path` (the root for a path without components), or null.
  const FolderItemNode* findNode(std::u16string_view path) const;
  FolderItemNode* findNode(std::u16string_view path);
  // Deletes every node below the root, deepest first, without recursion, and the items left out.
  void clearTree();

  // The items left out of the tree, in the order they were met; `after` set by setLeftOut to the
  // deepest node found on the way to the namesake (SameName) or to the folder (UnsafeName).
  const std::vector<LeftOutItem>& leftOut() const { return leftOut_; }
  void setLeftOut(std::vector<LeftOutItem> items);

 private:
  // The node reached by following `path` as far as the tree has it; `complete` when all the way.
  const FolderItemNode* deepestNode(std::u16string_view path, bool& complete) const;

  std::unique_ptr<SvFolder> root_;
  std::vector<LeftOutItem> leftOut_;
};

}  // namespace sorvel
