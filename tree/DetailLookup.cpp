#include "tree/DetailLookup.h"

#include <memory>

namespace sorvel {

bool DetailLookup::loadDetailTable(std::uint32_t block, DetailTable& out) {
  lastError_ = kErrorSuccess;
  ++loads_;
  // Only what the file stores: a table whose records or blobs reach past its end cannot be
  // trusted, and must not make the reader allocate and decrypt blocks the file does not have.
  const std::unique_ptr<ByteSource> bytes = chains_.openStored(block);
  if (bytes == nullptr) return false;
  if (!parseDetailTable(*bytes, out)) {
    lastError_ = kErrorMalformedDetailTable;
    return false;
  }
  return true;
}

DetailTableRef DetailLookup::fetchDetailTable(std::uint32_t block) {
  if (DetailTableRef cached = cache_.find(block)) return cached;
  cache_.makeRoom();
  auto table = std::make_shared<DetailTable>();
  if (!loadDetailTable(block, *table)) return nullptr;
  cache_.insert(block, table);
  return table;
}

DetailTableRef DetailLookup::detailTableOf(std::u16string_view folderPath) {
  lastError_ = kErrorSuccess;
  return fetchDetailTable(paths_.detailFileBlock(folderPrefix(folderPath)));
}

DetailRecordRef DetailLookup::detailRecordFor(std::u16string_view itemPath) {
  if (isRootPath(itemPath)) return nullptr;
  const std::u16string path = stripTrailingSeparators(itemPath);
  const DetailTableRef table = detailTableOf(parentPath(path));
  if (table == nullptr || !table->records) return nullptr;
  auto it = table->records->find(leafName(path));
  return it == table->records->end() ? nullptr : it->second;
}

}  // namespace sorvel
