#include "tree/DirectoryParser.h"

namespace sorvel {
namespace {

// The smallest group worth reading: two entries and one byte more. Kept as stored archives
// expect it, although a 96-byte group would fit.
constexpr std::uint64_t kMinimumGroupSpan = 97;

}  // namespace

bool parseDirectory(ByteSource& data, NameMap<ItemRecord>& out) {
  out.clear();
  const std::uint64_t length = data.size();
  std::uint64_t p = 0;
  RawEntry entry{};
  for (;;) {
    if (p + kMinimumGroupSpan > length) return true;
    data.copy(p, entry.data(), kEntrySize);
    const std::uint8_t flags = entry[0];
    if (flags == 0 || (flags & kGroupStartFlag) == 0) return true;

    const std::size_t nameCount = flags & kGroupCountMask;
    if (entry[1] != kNameMarker || nameCount == 0) {  // a group without a name
      out.clear();
      return false;
    }
    // A group that would run past the end of the data ends the directory.
    if (p + (nameCount + 1) * kEntrySize > length) return true;

    ItemRecord record;
    record.nameEntries.reserve(nameCount);
    for (std::size_t i = 0; i < nameCount; ++i) {
      if (i > 0) data.copy(p, entry.data(), kEntrySize);
      if (entrySignature(entry) != kNameEntrySignature) {
        out.clear();
        return false;
      }
      record.nameEntries.push_back(NameEntry{entry});
      p += kEntrySize;
    }
    data.copy(p, entry.data(), kEntrySize);
    if (entrySignature(entry) != kItemEntrySignature) {
      out.clear();
      return false;
    }
    record.entry = ItemEntry{entry};
    record.created = record.entry.created();
    record.modified = record.entry.modified();
    record.accessed = record.entry.accessed();
    const std::u16string name = assembleName(record.nameEntries);
    insertOrReplace(out, name, std::move(record));
    p += kEntrySize;
  }
}

bool parseDirectory(const std::uint8_t* data, std::uint64_t length, NameMap<ItemRecord>& out) {
  BufferByteSource bytes(data, length);
  return parseDirectory(bytes, out);
}

}  // namespace sorvel
