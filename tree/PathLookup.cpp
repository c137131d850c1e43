#include "tree/PathLookup.h"

#include <deque>
#include <utility>

#include "tree/DetailLookup.h"

namespace sorvel {

bool PathLookup::findItem(std::u16string_view path, ItemRecord& out) const {
  const FolderItemNode* node = tree_.findNode(path);
  if (node == nullptr) return false;
  out = node->record;
  return true;
}

bool PathLookup::listChildren(std::u16string_view folderPath, NameMap<ItemRecord>& out) const {
  const FolderItemNode* node = tree_.findNode(folderPath);
  if (node == nullptr || !node->isFolder()) return false;
  out.clear();
  for (const auto& [name, child] : static_cast<const SvFolder*>(node)->children) {
    out.emplace_hint(out.end(), child->name, child->record);
  }
  return true;
}

bool PathLookup::findFile(std::u16string_view path, ItemRecord& out) const {
  if (splitPath(path).empty()) return false;
  const FolderItemNode* node = tree_.findNode(path);
  if (node == nullptr || node->isFolder()) return false;
  out = node->record;
  return true;
}

std::uint32_t PathLookup::detailFileBlock(std::u16string_view folderPath) const {
  ItemRecord record;
  if (!findFile(folderPrefix(folderPath) + kDetailFileName, record)) return 0;
  return record.firstBlock();
}

namespace {

// One folder of a depth-first walk, its children visited in place.
struct WalkLevel {
  std::u16string prefix;
  const SvFolder* folder;
  NameMap<std::unique_ptr<FolderItemNode>>::const_iterator next;
  bool tableFetched = false;
  DetailTableRef table;
};

// Calls visit(level, child, path) for every item below the folder at `start`, depth first, a
// folder before its contents, siblings in name order; visit answers the path it listed the item
// under, or null for an item left out (with everything below it). An explicit stack keeps a deep tree from
// exhausting the call stack; each level stays in place while deeper ones are pushed.
template <typename Visit>
void walkBelow(const FolderItemNode* start, std::u16string_view startPath, Visit visit) {
  std::deque<WalkLevel> stack;
  auto descend = [&](const FolderItemNode* node, std::u16string_view path) {
    if (node == nullptr || !node->isFolder()) return;
    const auto* folder = static_cast<const SvFolder*>(node);
    stack.push_back(WalkLevel{folderPrefix(path), folder, folder->children.begin(), false, nullptr});
  };
  descend(start, startPath);
  while (!stack.empty()) {
    WalkLevel& level = stack.back();
    if (level.next == level.folder->children.end()) {
      stack.pop_back();
      continue;
    }
    const FolderItemNode* child = (level.next++)->second.get();
    std::u16string path = level.prefix + child->name;
    const std::u16string* listed = visit(level, *child, std::move(path));
    if (listed != nullptr && child->isFolder()) descend(child, *listed);
  }
}

}  // namespace

void PathLookup::listItems(std::u16string_view folderPath, DetailLookup& details, std::vector<std::u16string>& paths,
                           std::vector<DetailRecordRef>& detailRecords, std::vector<const ItemRecord*>* records) const {
  // Each level fetches its folder's detail table once, for the first item that needs it: the
  // work per item stays the same however large the folder.
  auto detailRecordIn = [&](WalkLevel& level, const std::u16string& name, const std::u16string& path) -> DetailRecordRef {
    // A "/" counts as a separator where detail records are looked up by path.
    if (name.find(u'/') != std::u16string::npos) return details.detailRecordFor(path);
    if (!level.tableFetched) {
      level.table = details.detailTableOf(level.prefix);
      level.tableFetched = true;
    }
    if (level.table == nullptr || !level.table->records) return nullptr;
    auto it = level.table->records->find(name);
    return it == level.table->records->end() ? nullptr : it->second;
  };
  walkBelow(tree_.findNode(folderPath), folderPath,
            [&](WalkLevel& level, const FolderItemNode& child, std::u16string path) -> const std::u16string* {
              if (compareNames(child.name, kDetailFileName) == 0) return nullptr;
              detailRecords.push_back(detailRecordIn(level, child.name, path));
              if (records != nullptr) records->push_back(&child.record);
              paths.push_back(std::move(path));
              return &paths.back();
            });
}

void PathLookup::listForExtraction(std::u16string_view folderPath, std::vector<ListedItem>& out) const {
  walkBelow(tree_.findNode(folderPath), folderPath,
            [&](WalkLevel&, const FolderItemNode& child, std::u16string path) -> const std::u16string* {
              const bool detailFile = compareNames(child.name, kDetailFileName) == 0;
              if (detailFile && child.isFolder()) return nullptr;  // never listed, as in listItems
              out.push_back(ListedItem{std::move(path), &child.record, detailFile});
              return &out.back().path;
            });
}

bool PathLookup::isDamagedFolder(std::u16string_view path) const {
  const FolderItemNode* node = tree_.findNode(path);
  return node != nullptr && node->isFolder() && static_cast<const SvFolder*>(node)->damaged;
}

}  // namespace sorvel
