#pragma once
// The archive's folders and files in memory, built once when the archive is opened. Every item
// is one packed node in one table, numbered from 0 (the root); names are held once, in one
// table of UTF-16 units; a folder's children are consecutive nodes in name order. No item holds
// its path: paths are made from the names when they are needed.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tree/ItemRecord.h"
#include "tree/NameRules.h"
#include "tree/PackedArray.h"

namespace sorvel {

// The root folder's directory always begins at this block.
inline constexpr std::uint16_t kRootDirectoryBlock = 2;

using NodeIndex = std::uint32_t;
inline constexpr NodeIndex kTreeRoot = 0;
inline constexpr NodeIndex kNoNode = UINT32_MAX;

struct TreeNode {
  ItemRecord record;
  NodeIndex parent = kNoNode;  // kNoNode for the root
  std::uint32_t nameOffset = 0;
  NodeIndex firstChild = 0;
  std::uint32_t childCount = 0;
  std::uint16_t nameLength = 0;
  // Set when the folder's directory could not be trusted (malformed, a chain already read as
  // another folder's directory or running into one, or a tree past its bounds): the folder then
  // holds at most the items read before that point, although the archive meant more.
  bool damaged = false;

  bool isFolder() const { return record.isFolder(); }
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
  const TreeNode* after = nullptr;
};

// How a walk joins a folder's path to the names of its children: AsPrefix as folderPrefix does
// (trailing separators, slashes among them, dropped, then one backslash), Plain by one backslash.
enum class PathJoin { AsPrefix, Plain };

class FolderTree {
 public:
  FolderTree();  // the root alone: name "\", a folder whose directory starts at block 2
  FolderTree(const FolderTree&) = delete;
  FolderTree& operator=(const FolderTree&) = delete;

  const TreeNode& root() const { return nodes_[kTreeRoot]; }
  const TreeNode& node(NodeIndex index) const { return nodes_[index]; }
  NodeIndex indexOf(const TreeNode& node) const { return static_cast<NodeIndex>(&node - nodes_.data()); }
  std::size_t nodeCount() const { return nodes_.size(); }
  std::u16string_view nameOf(const TreeNode& node) const { return {names_.data() + node.nameOffset, node.nameLength}; }
  // A folder's children, in name order (none for a file).
  std::span<const TreeNode> children(const TreeNode& folder) const {
    return {nodes_.data() + folder.firstChild, folder.childCount};
  }

  // Appends a child to `folder`. The children of a folder are appended one after another with
  // no other node between them, in name order (compareNames, no two alike); the index of the
  // new node, or kNoNode when the tree can number no more nodes or names.
  NodeIndex appendChild(NodeIndex folder, std::u16string_view name, const ItemRecord& record);
  void markDamaged(NodeIndex folder) { nodes_[folder].damaged = true; }
  // Gives back the room the tables kept for growing: nothing more is appended.
  void finish() {
    nodes_.shrinkToFit();
    names_.shrinkToFit();
  }

  // The child of `folder` named `name` (compareNames), or null.
  const TreeNode* findChild(const TreeNode& folder, std::u16string_view name) const;
  // The node at `path` (the root for a path without components), or null.
  const TreeNode* findNode(std::u16string_view path) const;
  // The node's path: "\" and the names from the root down, joined by backslashes; "\" for the
  // root.
  std::u16string pathOf(NodeIndex index) const;
  // The names from below `ancestor` (which is on its way up) down to `index`, appended to
  // `prefix` and joined as `join` says: the path a walk from `ancestor` gives the node.
  void appendPathBelow(NodeIndex ancestor, NodeIndex index, PathJoin join, std::u16string& prefix) const;
  // Everything below the root goes, and the items left out.
  void clearTree();

  // The items left out of the tree, in the order they were met; `after` set by setLeftOut to the
  // deepest node found on the way to the namesake (SameName) or to the folder (UnsafeName).
  const std::vector<LeftOutItem>& leftOut() const { return leftOut_; }
  void setLeftOut(std::vector<LeftOutItem> items);

  // The bytes the tree's tables hold (nodes and names, as allocated).
  std::size_t bytesHeld() const { return nodes_.capacity() * sizeof(TreeNode) + names_.capacity() * sizeof(char16_t); }

 private:
  // The node reached by following `path` as far as the tree has it; `complete` when all the way.
  const TreeNode* deepestNode(std::u16string_view path, bool& complete) const;

  PackedArray<TreeNode> nodes_;
  PackedArray<char16_t> names_;
  std::vector<LeftOutItem> leftOut_;
};

// The path of a folder's children: its path joined as `join` says.
void joinFolderPath(std::u16string& path, PathJoin join);

// An item as a walk meets it.
struct WalkedItem {
  const std::u16string& path;  // valid during the visit
  NodeIndex index;
  const TreeNode& node;
  std::size_t depth;  // 0 for the start folder's children
};

// Calls visit(item) for every item below the folder `start`, depth first, a folder before its
// contents, siblings in name order. The item's path is made from `startPath` (as the caller
// spells it, folderPrefix applied) and the names below it, folders joined as `join` says; visit
// answers whether to go into a folder it was given (false leaves out everything below it). Uses
// no recursion and keeps one entry per open folder.
template <class Visit>
void walkBelow(const FolderTree& tree, NodeIndex start, std::u16string_view startPath, PathJoin join, Visit visit) {
  if (start == kNoNode || !tree.node(start).isFolder()) return;
  struct Level {
    const TreeNode* next;
    const TreeNode* end;
    std::size_t prefixLength;  // of `path`, at the names of this level
  };
  std::u16string path = folderPrefix(startPath);
  std::vector<Level> stack;
  auto open = [&](const TreeNode& folder) {
    const std::span<const TreeNode> children = tree.children(folder);
    stack.push_back(Level{children.data(), children.data() + children.size(), path.size()});
  };
  open(tree.node(start));
  while (!stack.empty()) {
    Level& level = stack.back();
    if (level.next == level.end) {
      stack.pop_back();
      continue;
    }
    const TreeNode& child = *level.next++;
    path.resize(level.prefixLength);
    path += tree.nameOf(child);
    if (visit(WalkedItem{path, tree.indexOf(child), child, stack.size() - 1}) && child.isFolder()) {
      joinFolderPath(path, join);
      open(child);
    }
  }
}

}  // namespace sorvel
