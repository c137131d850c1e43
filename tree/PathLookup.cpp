#include "tree/PathLookup.h"

#include <utility>

#include "tree/DetailLookup.h"

namespace sorvel {
namespace {

NodeIndex indexOrNone(const FolderTree& tree, const TreeNode* node) {
  return node == nullptr ? kNoNode : tree.indexOf(*node);
}

}  // namespace

bool PathLookup::findItem(std::u16string_view path, ItemRecord& out) const {
  const TreeNode* node = tree_.findNode(path);
  if (node == nullptr) return false;
  out = node->record;
  return true;
}

bool PathLookup::listChildren(std::u16string_view folderPath, NameMap<ItemRecord>& out) const {
  const TreeNode* node = tree_.findNode(folderPath);
  if (node == nullptr || !node->isFolder()) return false;
  out.clear();
  for (const TreeNode& child : tree_.children(*node)) out.emplace_hint(out.end(), tree_.nameOf(child), child.record);
  return true;
}

bool PathLookup::findFile(std::u16string_view path, ItemRecord& out) const {
  if (splitPath(path).empty()) return false;
  const TreeNode* node = tree_.findNode(path);
  if (node == nullptr || node->isFolder()) return false;
  out = node->record;
  return true;
}

std::uint32_t PathLookup::detailFileBlock(std::u16string_view folderPath) const {
  ItemRecord record;
  if (!findFile(folderPrefix(folderPath) + kDetailFileName, record)) return 0;
  return record.firstBlock();
}

void PathLookup::listItems(std::u16string_view folderPath, DetailLookup& details, std::vector<std::u16string>& paths,
                           std::vector<DetailRecordRef>& detailRecords, std::vector<const ItemRecord*>* records) const {
  // Each open folder fetches its detail table once, for the first item that needs it: the work
  // per item stays the same however large the folder.
  struct Level {
    NodeIndex folder = kNoNode;
    bool tableFetched = false;
    DetailTableRef table;
  };
  std::vector<Level> levels;
  auto detailRecordIn = [&](const WalkedItem& item, std::u16string_view name) -> DetailRecordRef {
    // A "/" counts as a separator where detail records are looked up by path.
    if (name.find(u'/') != std::u16string_view::npos) return details.detailRecordFor(item.path);
    levels.resize(item.depth + 1);
    Level& level = levels[item.depth];
    if (level.folder != item.node.parent) level = Level{item.node.parent, false, nullptr};
    if (!level.tableFetched) {
      level.table = details.detailTableOf(std::u16string_view(item.path).substr(0, item.path.size() - name.size()));
      level.tableFetched = true;
    }
    if (level.table == nullptr || !level.table->records) return nullptr;
    auto it = level.table->records->find(name);
    return it == level.table->records->end() ? nullptr : it->second;
  };
  walkBelow(tree_, indexOrNone(tree_, tree_.findNode(folderPath)), folderPath, PathJoin::AsPrefix,
            [&](const WalkedItem& item) {
              const std::u16string_view name = tree_.nameOf(item.node);
              if (compareNames(name, kDetailFileName) == 0) return false;
              detailRecords.push_back(detailRecordIn(item, name));
              if (records != nullptr) records->push_back(&item.node.record);
              paths.push_back(item.path);
              return true;
            });
}

void PathLookup::listForExtraction(std::u16string_view folderPath, std::vector<ListedItem>& out) const {
  const NodeIndex start = indexOrNone(tree_, tree_.findNode(folderPath));
  if (start == kTreeRoot) out.reserve(out.size() + tree_.nodeCount() - 1);
  walkBelow(tree_, start, folderPath, PathJoin::AsPrefix, [&](const WalkedItem& item) {
    const bool detailFile = compareNames(tree_.nameOf(item.node), kDetailFileName) == 0;
    if (detailFile && item.node.isFolder()) return false;  // never listed, as in listItems
    out.push_back(ListedItem{item.index, detailFile});
    return true;
  });
}

std::u16string PathLookup::listedPath(std::u16string_view folderPath, const ListedItem& item) const {
  std::u16string path = folderPrefix(folderPath);
  tree_.appendPathBelow(indexOrNone(tree_, tree_.findNode(folderPath)), item.node, PathJoin::AsPrefix, path);
  return path;
}

bool PathLookup::isDamagedFolder(std::u16string_view path) const {
  const TreeNode* node = tree_.findNode(path);
  return node != nullptr && node->isFolder() && node->damaged;
}

}  // namespace sorvel
