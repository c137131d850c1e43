#include "tree/FolderTree.h"

#include <algorithm>

namespace sorvel {
namespace {

// The root's name, "\", is the first unit of the name table.
constexpr std::uint16_t kRootNameLength = 1;

}  // namespace

FolderTree::FolderTree() { clearTree(); }

void FolderTree::clearTree() {
  leftOut_.clear();
  nodes_.clear();
  names_.clear();
  names_.push_back(kRootPath[0]);
  TreeNode root;
  root.record.attributeBits = kFolderAttribute;
  root.record.firstBlockNumber = kRootDirectoryBlock;
  root.nameLength = kRootNameLength;
  nodes_.push_back(root);
}

NodeIndex FolderTree::appendChild(NodeIndex folder, std::u16string_view name, const ItemRecord& record) {
  const std::size_t index = nodes_.size();
  if (index >= kNoNode || name.size() > UINT16_MAX || names_.size() + name.size() > UINT32_MAX) return kNoNode;
  TreeNode& parent = nodes_[folder];
  if (parent.childCount == 0) parent.firstChild = static_cast<NodeIndex>(index);
  ++parent.childCount;
  TreeNode node;
  node.record = record;
  node.parent = folder;
  node.nameOffset = static_cast<std::uint32_t>(names_.size());
  node.nameLength = static_cast<std::uint16_t>(name.size());
  names_.append(name.data(), name.size());
  nodes_.push_back(node);
  return static_cast<NodeIndex>(index);
}

const TreeNode* FolderTree::findChild(const TreeNode& folder, std::u16string_view name) const {
  const std::span<const TreeNode> children = this->children(folder);
  const auto it = std::lower_bound(
      children.begin(), children.end(), name,
      [&](const TreeNode& child, std::u16string_view key) { return compareNames(nameOf(child), key) < 0; });
  return it != children.end() && compareNames(nameOf(*it), name) == 0 ? &*it : nullptr;
}

const TreeNode* FolderTree::deepestNode(std::u16string_view path, bool& complete) const {
  const TreeNode* node = &root();
  complete = forEachComponent(path, [&](std::u16string_view component) {
    if (!node->isFolder()) return false;
    const TreeNode* child = findChild(*node, component);
    if (child == nullptr) return false;
    node = child;
    return true;
  });
  return node;
}

const TreeNode* FolderTree::findNode(std::u16string_view path) const {
  bool complete = false;
  const TreeNode* node = deepestNode(path, complete);
  return complete ? node : nullptr;
}

void FolderTree::appendPathBelow(NodeIndex ancestor, NodeIndex index, PathJoin join, std::u16string& prefix) const {
  std::vector<NodeIndex> chain;
  for (NodeIndex at = index; at != ancestor && at != kNoNode; at = nodes_[at].parent) chain.push_back(at);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin()) joinFolderPath(prefix, join);
    prefix += nameOf(nodes_[*it]);
  }
}

std::u16string FolderTree::pathOf(NodeIndex index) const {
  std::u16string path(kRootPath);
  appendPathBelow(kTreeRoot, index, PathJoin::Plain, path);
  return path;
}

void FolderTree::setLeftOut(std::vector<LeftOutItem> items) {
  for (LeftOutItem& item : items) {
    bool complete = false;
    item.after = deepestNode(item.why == LeftOutItem::Why::SameName ? item.namesake : item.folder, complete);
  }
  leftOut_ = std::move(items);
}

void joinFolderPath(std::u16string& path, PathJoin join) {
  if (join == PathJoin::AsPrefix) {
    while (!path.empty() && isSeparator(path.back())) path.pop_back();
  }
  path += u'\\';
}

}  // namespace sorvel
