#include "mount/MountTree.h"

#include <algorithm>
#include <utility>

#include "app/Messages.h"
#include "app/OutputPlan.h"
#include "app/ShownPath.h"
#include "platform/Utf16.h"

namespace sorvel::mount {

MountTree MountTree::build(std::shared_ptr<api::Archive::Impl> archive, const RootTimes& rootTimes) {
  MountTree tree;
  tree.archive_ = std::move(archive);
  const lib::ItemTable& table = tree.archive_->table;

  MountNode root;
  root.parent = kRootNode;
  root.folder = true;
  root.damagedFolder = table.rootDamaged();
  root.created = rootTimes.created;
  root.modified = rootTimes.modified;
  root.accessed = rootTimes.accessed;
  tree.nodes_.reserve(table.items().size() + 1);
  tree.nodes_.push_back(std::move(root));

  // Each shown folder's node, by its path in the archive (the root's: empty).
  std::unordered_map<std::u16string_view, NodeId> shownFolders{{std::u16string_view(), kRootNode}};
  std::vector<std::vector<NodeId>> childrenOf(1);  // per node; only folders fill theirs
  for (std::size_t i = 0; i < table.items().size(); ++i) {
    if (table.items()[i].leftOut) {
      // Not written by extraction: not shown either, and told with extraction's line.
      tree.leftOut_.push_back(itemLine(Message::CannotExtract, table.storedPathOf(i),
                                       table.leftOutReason(i, PathStyle::Slash), PathStyle::Slash));
    } else {
      tree.place(table, i, shownFolders, childrenOf);
    }
  }
  tree.indexChildren(childrenOf);
  return tree;
}

void MountTree::place(const lib::ItemTable& table, std::size_t index,
                      std::unordered_map<std::u16string_view, NodeId>& shownFolders,
                      std::vector<std::vector<NodeId>>& childrenOf) {
  const api::ItemInfo& item = table.items()[index];
  const std::u16string_view path = table.storedPathOf(index);
  const std::size_t separator = path.rfind(u'\\');
  const auto parent = shownFolders.find(path.substr(0, separator == std::u16string_view::npos ? 0 : separator));
  if (parent == shownFolders.end()) return;
  MountNode node;
  node.parent = parent->second;
  node.name = toUtf8Lossy(path.substr(separator + 1));
  node.folder = item.isFolder();
  node.damagedFolder = item.isFolder() && item.damaged;
  node.readOnly = item.readOnly();
  node.created = item.created;
  node.modified = item.modified;
  node.accessed = item.accessed;
  node.size = item.outputSize;
  node.readable = item.readableSize;
  node.item = index;
  nodes_.push_back(std::move(node));
  const NodeId id = nodes_.size();
  childrenOf[parent->second - 1].push_back(id);
  childrenOf.emplace_back();
  if (item.isFolder()) shownFolders.emplace(path, id);
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
  return lib::ItemTable::runAt(archive_->table.contentOf(file.item), offset).block;
}

std::string MountTree::archivePath(NodeId id) const {
  std::vector<const std::string*> names;
  for (NodeId at = id; contains(at) && at != kRootNode; at = node(at).parent) names.push_back(&node(at).name);
  std::string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) path += (path.empty() ? "" : "/") + shownName(**it);
  return path.empty() ? "/" : path;
}

}  // namespace sorvel::mount
