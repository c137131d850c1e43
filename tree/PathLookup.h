#pragma once
// Lookups and listings on a folder tree: items by path, a folder's children, and every item
// below a folder in the order in which they are listed and extracted.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tree/DetailTable.h"
#include "tree/FolderTree.h"
#include "tree/ItemRecord.h"
#include "tree/NameRules.h"

namespace sorvel {

class DetailLookup;

// An item of a listing for extraction: its node in the tree, and whether it is a folder's item
// detail file. Its record and path are found when they are needed (PathLookup::listedRecord,
// listedPath): a listing of every item of a large archive holds 8 bytes per item.
struct ListedItem {
  NodeIndex node;
  bool detailFile;
};

class PathLookup {
 public:
  explicit PathLookup(const FolderTree& tree) : tree_(tree) {}

  bool findItem(std::u16string_view path, ItemRecord& out) const;
  // A file (not a folder, not the root) at `path`.
  bool findFile(std::u16string_view path, ItemRecord& out) const;
  bool listChildren(std::u16string_view folderPath, NameMap<ItemRecord>& out) const;
  // True for a folder whose directory could not be trusted, read only in part or not at all.
  bool isDamagedFolder(std::u16string_view path) const;
  // The first block of the folder's item detail file, 0 when it has none.
  std::uint32_t detailFileBlock(std::u16string_view folderPath) const;

  // Every item below the folder, depth first, a folder before its contents, siblings in name
  // order, item detail files left out; with each item's detail record (from `details`) or null,
  // and, when asked, each item's record as the tree holds it (what findItem would copy).
  void listItems(std::u16string_view folderPath, DetailLookup& details, std::vector<std::u16string>& paths,
                 std::vector<DetailRecordRef>& detailRecords, std::vector<const ItemRecord*>* records) const;
  // Every item below the folder in the order of listItems, each folder's item detail file
  // included and flagged: the order in which extraction gives blocks to files. No detail record
  // is fetched.
  void listForExtraction(std::u16string_view folderPath, std::vector<ListedItem>& out) const;
  // The path of an item listed for extraction below `folderPath`: the one listItems gives it.
  std::u16string listedPath(std::u16string_view folderPath, const ListedItem& item) const;
  const ItemRecord& listedRecord(const ListedItem& item) const { return tree_.node(item.node).record; }

 private:
  const FolderTree& tree_;
};

}  // namespace sorvel
