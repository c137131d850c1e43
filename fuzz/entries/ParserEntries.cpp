// The two parsers of stored metadata, each on its own bytes.
#include "base/ByteSource.h"
#include "entries/FuzzEntries.h"
#include "tree/DetailTable.h"
#include "tree/DirectoryParser.h"

namespace sorvel::fuzz {

bool parseDirectoryBytes(const std::uint8_t* data, std::size_t size) {
  ParsedDirectory directory;
  const bool wellFormed = parseDirectory(data, size, directory);
  if (!wellFormed) return directory.items.empty() && directory.names.empty();
  // Every item came from a group of at least one name entry and an item entry, and its name from
  // the 20 units of each of at most 63 name entries.
  for (const DirectoryItem& item : directory.items) {
    if (directory.name(item).size() > kGroupCountMask * kNameUnitsPerEntry) return false;
  }
  return directory.size() * 2 * kEntrySize <= size;
}

bool parseDetailTableBytes(const std::uint8_t* data, std::size_t size) {
  BufferByteSource bytes(data, size);
  DetailTable table;
  if (!parseDetailTable(bytes, table)) return true;
  const std::uint64_t count = table.header.recordCount();
  if (!table.records) return count == 0;
  if (table.records->empty() || table.records->size() > count) return false;
  std::uint64_t blobBytes = 0;
  for (const auto& [name, record] : *table.records) {
    if (record->firstBlob.size() != record->firstBlobLength() ||
        record->secondBlob.size() != record->secondBlobLength()) {
      return false;
    }
    blobBytes += record->firstBlob.size() + record->secondBlob.size();
  }
  return kDetailHeaderSize + count * kDetailRecordSize + blobBytes <= size;
}

}  // namespace sorvel::fuzz
