#include "mount/MountTree.h"

#include <algorithm>
#include <utility>

#include "app/Messages.h"
#include "app/OutputPlan.h"
#include "platform/Utf16.h"
#include "tree/FolderTree.h"

namespace sorvel::mount {

MountTree MountTree::build(Archive& archive, const RootTimes& rootTimes) {
  MountTree tree;
  const OutputPlan plan(archive, kRootPath);
  const FolderTree& items = archive.tree();

  MountNode root;
  root.parent = kRootNode;
  root.folder = true;
  root.damagedFolder = plan.isDamagedFolder(plan.start());
  root.created = rootTimes.created;
  root.modified = rootTimes.modified;
  root.accessed = rootTimes.accessed;
  tree.nodes_.push_back(std::move(root));

  // Every job's chain, planned as extraction plans it; kept only for the files shown.
  std::vector<ChainTable::ContentChain> chains(plan.jobs().size());
  plan.planChains(archive.container(), [&](JobIndex job, const ChainTable::ContentChain& chain) {
    if (!plan.jobs()[job].claimOnly) chains[job] = chain;
  });
  const std::uint64_t archiveSize = archive.container().archiveFile().fileSize();

  std::vector<NodeId> shownAs(items.nodeCount(), 0);  // the node each folder is shown as, or 0
  shownAs[kTreeRoot] = kRootNode;
  std::vector<std::vector<NodeId>> childrenOf(1);  // per node; only folders fill theirs
  auto tellAbsent = [&](std::size_t index) {
    for (const OutputPlan::Absent& absent : plan.absentAfter(index, PathStyle::Slash))
      tree.leaveOut(absent.path, absent.reason);
  };
  tellAbsent(OutputPlan::kAfterStart);
  for (std::size_t i = 0; i < plan.items().size(); ++i) {
    const PlannedItem& item = plan.items()[i];
    if (!item.detailFile) {
      tree.place(plan, item, item.job == kNoJob ? nullptr : &chains[item.job], archiveSize, shownAs, childrenOf);
    }
    tellAbsent(i);
  }
  tree.indexChildren(childrenOf);
  return tree;
}

void MountTree::leaveOut(std::u16string_view path, std::string_view reason) {
  leftOut_.push_back(itemLine(Message::CannotExtract, path, reason, PathStyle::Slash));
}

void MountTree::place(const OutputPlan& plan, const PlannedItem& item, const ChainTable::ContentChain* chain,
                      std::uint64_t archiveSize, std::vector<NodeId>& shownAs,
                      std::vector<std::vector<NodeId>>& childrenOf) {
  if (!item.written()) return leaveOut(plan.pathOf(item), plan.reasonOf(item));
  const FolderTree& items = plan.tree();
  const TreeNode& child = items.node(item.node);
  const NodeId parent = shownAs[child.parent];
  if (parent == 0) return;
  MountNode node;
  node.parent = parent;
  node.folder = child.isFolder();
  node.created = child.record.created;
  node.modified = child.record.modified;
  node.accessed = child.record.accessed;
  node.damagedFolder = plan.isDamagedFolder(item);
  node.readOnly = child.record.isReadOnly();
  if (chain != nullptr) {
    const ContentOutcome outcome =
        contentOutcome(child.record.size(), chain->bytes, chain->bytes, chain->end, archiveSize);
    // Not written by extraction: not shown either.
    if (outcome.unreadable) return leaveOut(plan.pathOf(item), Message::ContentUnreadable);
    node.readable = chain->bytes;
    node.end = chain->end;
    node.size = outcome.length;
    node.extentBegin = static_cast<std::uint32_t>(extents_.size());
    node.extentCount = static_cast<std::uint32_t>(chain->extents.size());
    std::uint64_t start = 0;
    for (const Extent& extent : chain->extents) {
      extents_.push_back(extent);
      extentStarts_.push_back(start);
      start += extent.blockCount();
    }
  }
  node.name = toUtf8Lossy(items.nameOf(child));
  nodes_.push_back(std::move(node));
  const NodeId id = nodes_.size();
  childrenOf[parent - 1].push_back(id);
  childrenOf.emplace_back();
  if (child.isFolder()) shownAs[item.node] = id;
}

void MountTree::indexChildren(std::vector<std::vector<NodeId>>& childrenOf) {
  // Children in byte order of their names, for lookups (the plan leaves no two alike).
  for (std::size_t i = 0; i < nodes_.size(); ++i) {
    std::vector<NodeId>& list = childrenOf[i];
    if (list.empty()) continue;
    std::sort(list.begin(), list.end(), [&](NodeId a, NodeId b) { return nodes_[a - 1].name < nodes_[b - 1].name; });
    MountNode& folder = nodes_[i];
    folder.childBegin = children_.size();
    folder.childCount = list.size();
    for (NodeId id : list) folder.subfolders += nodes_[id - 1].folder ? 1 : 0;
    children_.insert(children_.end(), list.begin(), list.end());
    std::vector<NodeId>().swap(list);
  }
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
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += (path.empty() ? "" : "/") + shownName(**it);
  return path.empty() ? "/" : path;
}

}  // namespace sorvel::mount
