// The item detail file of each folder: finding it, loading its table through the cache, and
// handing out one item's record.
#include "archive/Archive.h"
#include "archive/ChainByteSource.h"

namespace sorvel {

bool Archive::findFile(std::u16string_view path, ItemRecord& out) const {
  if (splitPath(path).empty()) return false;
  const FolderItemNode* node = tree_.findNode(path);
  if (node == nullptr || node->isFolder()) return false;
  out = node->record;
  return true;
}

std::uint32_t Archive::detailFileBlock(std::u16string_view folderPath) const {
  ItemRecord record;
  if (!findFile(folderPrefix(folderPath) + kDetailFileName, record)) return 0;
  return record.firstBlock();
}

bool Archive::loadDetailTable(std::uint32_t block, DetailTable& out) {
  lastError_ = kErrorSuccess;
  ++detailTableLoads_;
  if (block < kFirstDataBlock) return false;  // no chain begins below the first data block
  ExtentList extents;
  container_.chainExtents(block, extents);
  // Only what the file stores: a table whose records or blobs reach past its end cannot be
  // trusted, and must not make the reader allocate and decrypt blocks the file does not have.
  const std::uint64_t capacity = container_.storedPrefix(extents);
  ChainByteSource bytes(container_, extents, capacity);
  if (capacity == 0 || !bytes.readable()) return false;
  if (!parseDetailTable(bytes, out)) {
    lastError_ = kErrorMalformedDetailTable;
    return false;
  }
  return true;
}

DetailTableRef Archive::fetchDetailTable(std::uint32_t block) {
  if (DetailTableRef cached = detailCache_.find(block)) return cached;
  detailCache_.makeRoom();
  auto table = std::make_shared<DetailTable>();
  if (!loadDetailTable(block, *table)) return nullptr;
  detailCache_.insert(block, table);
  return table;
}

DetailTableRef Archive::detailTableOf(std::u16string_view folderPath) {
  lastError_ = kErrorSuccess;
  return fetchDetailTable(detailFileBlock(folderPrefix(folderPath)));
}

DetailRecordRef Archive::detailRecordFor(std::u16string_view itemPath) {
  if (isRootPath(itemPath)) return nullptr;
  const std::u16string path = stripTrailingSeparators(itemPath);
  const DetailTableRef table = detailTableOf(parentPath(path));
  if (table == nullptr || !table->records) return nullptr;
  auto it = table->records->find(leafName(path));
  return it == table->records->end() ? nullptr : it->second;
}

}  // namespace sorvel
