#include "mount/MountTree.h"

#include <algorithm>
#include <utility>

#include "platform/Utf16.h"
#include "tree/DetailTable.h"
#include "tree/FolderTree.h"
#include "tree/NameRules.h"

namespace sorvel::mount {
namespace {

// The longest name a Linux file system takes, in bytes: extraction cannot write longer ones.
constexpr std::size_t kNameMax = 255;

// A name extraction refuses: it would leave its folder ("." and ".."), or reach below it ("/").
bool isUnsafeName(std::u16string_view name) {
  return name == u"." || name == u".." || name.find(u'/') != std::u16string_view::npos;
}

}  // namespace

MountTree MountTree::build(Archive& archive) {
  MountTree tree;
  ContainerFile& container = archive.container();
  const std::uint64_t archiveSize = container.archiveFile().fileSize();
  std::vector<bool> claimed = archive.directoryBlocks();
  std::vector<std::vector<NodeId>> childrenOf(1);  // per node; only folders fill theirs

  const FolderTree& items = archive.tree();
  const TreeNode& root = items.root();
  MountNode rootNode;
  rootNode.parent = kRootNode;
  rootNode.folder = true;
  rootNode.damagedFolder = root.damaged;
  rootNode.created = root.record.created;
  rootNode.modified = root.record.modified;
  rootNode.accessed = root.record.accessed;
  tree.nodes_.push_back(std::move(rootNode));

  // The order of extraction: a folder before its contents, siblings in name order, each
  // folder's item detail file among them (its blocks are claimed, it is not shown). Per depth
  // of the walk, the node of the folder whose children are there (0: the folder is not shown,
  // nor anything below it).
  std::vector<NodeId> folderAt{kRootNode};
  walkBelow(items, kTreeRoot, kRootPath, PathJoin::Plain, [&](const WalkedItem& item) {
    const TreeNode& child = item.node;
    const std::u16string_view childName = items.nameOf(child);
    const NodeId parent = folderAt[item.depth];
    const bool detailFile = compareNames(childName, kDetailFileName) == 0;
    if (detailFile && child.isFolder()) return false;  // never listed, nor anything below it

    std::string name = toUtf8Lossy(childName);
    const bool shown = parent != 0 && !detailFile && !isUnsafeName(childName) && !name.empty() &&
                       name.size() <= kNameMax;
    MountNode node;
    node.parent = parent;
    node.folder = child.isFolder();
    node.created = child.record.created;
    node.modified = child.record.modified;
    node.accessed = child.record.accessed;

    if (!node.folder && child.record.size() > 0) {
      ChainTable::ContentChain plan =
          container.chainTable().planContent(child.record.firstBlock(), child.record.size(), claimed);
      if (!shown) return false;
      const std::uint64_t size = child.record.size();
      // Content that cannot be read at all is not written by extraction: not shown either. A
      // file whose first block is missing from the archive file or is another item's is
      // damaged like any cut-off file.
      if (plan.bytes == 0 && plan.end != ChainTable::ContentEnd::Missing &&
          plan.end != ChainTable::ContentEnd::Claimed) {
        return false;
      }
      node.readable = plan.bytes;
      node.end = plan.end;
      // As extraction writes it: a damaged file's zero tail stops at the archive's size.
      node.size = plan.bytes < size ? std::min(size, std::max(plan.bytes, archiveSize)) : size;
      node.extentBegin = static_cast<std::uint32_t>(tree.extents_.size());
      node.extentCount = static_cast<std::uint32_t>(plan.extents.size());
      std::uint64_t start = 0;
      for (const Extent& extent : plan.extents) {
        tree.extents_.push_back(extent);
        tree.extentStarts_.push_back(start);
        start += extent.blockCount();
      }
    }

    NodeId id = 0;
    if (shown) {
      node.name = std::move(name);
      if (node.folder) node.damagedFolder = child.damaged;
      tree.nodes_.push_back(std::move(node));
      id = tree.nodes_.size();
      childrenOf[parent - 1].push_back(id);
      childrenOf.emplace_back();
    }
    if (child.isFolder()) {
      folderAt.resize(item.depth + 2);
      folderAt[item.depth + 1] = id;
    }
    return true;
  });

  // Children in byte order of their names, for lookups. Two names that come out the same in
  // UTF-8 (unpaired surrogates become U+FFFD) cannot both be shown: the first listed stays.
  for (std::size_t i = 0; i < tree.nodes_.size(); ++i) {
    std::vector<NodeId>& list = childrenOf[i];
    if (list.empty()) continue;
    std::stable_sort(list.begin(), list.end(),
                     [&](NodeId a, NodeId b) { return tree.nodes_[a - 1].name < tree.nodes_[b - 1].name; });
    list.erase(std::unique(list.begin(), list.end(),
                           [&](NodeId a, NodeId b) { return tree.nodes_[a - 1].name == tree.nodes_[b - 1].name; }),
               list.end());
    MountNode& folder = tree.nodes_[i];
    folder.childBegin = tree.children_.size();
    folder.childCount = list.size();
    for (NodeId id : list) folder.subfolders += tree.nodes_[id - 1].folder ? 1 : 0;
    tree.children_.insert(tree.children_.end(), list.begin(), list.end());
    std::vector<NodeId>().swap(list);
  }
  return tree;
}

NodeId MountTree::lookup(NodeId parent, std::string_view name) const {
  if (!contains(parent) || !node(parent).folder) return 0;
  const MountNode& folder = node(parent);
  const NodeId* first = children(folder);
  const NodeId* last = first + folder.childCount;
  const NodeId* found =
      std::lower_bound(first, last, name, [&](NodeId id, std::string_view key) { return node(id).name < key; });
  return found != last && node(*found).name == name ? *found : 0;
}

std::uint32_t MountTree::blockAt(const MountNode& file, std::uint64_t offset) const {
  const std::uint64_t index = offset / kBlockSize;
  const auto first = extentStarts_.begin() + file.extentBegin;
  const auto last = first + file.extentCount;
  // The last extent that begins at or before the block.
  const auto it = std::upper_bound(first, last, index) - 1;
  const Extent& extent = extents_[static_cast<std::size_t>(it - extentStarts_.begin())];
  return static_cast<std::uint32_t>(extent.first + (index - *it));
}

std::string MountTree::archivePath(NodeId id) const {
  std::vector<const std::string*> names;
  for (NodeId at = id; contains(at) && at != kRootNode; at = node(at).parent) names.push_back(&node(at).name);
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += "\\" + **it;
  return path.empty() ? "\\" : path;
}

}  // namespace sorvel::mount
