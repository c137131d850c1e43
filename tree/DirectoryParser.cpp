#include "tree/DirectoryParser.h"

#include <algorithm>
#include <utility>

namespace sorvel {
namespace {

// The smallest group worth reading: two entries and one byte more. Kept as stored archives
// expect it, although a 96-byte group would fit.
constexpr std::uint64_t kMinimumGroupSpan = 97;

bool readGroups(ByteSource& data, ParsedDirectory& out) {
  const std::uint64_t length = data.size();
  std::uint64_t p = 0;
  RawEntry entry{};
  std::vector<RawEntry> nameEntries;
  for (;;) {
    if (p + kMinimumGroupSpan > length) return true;
    data.copy(p, entry.data(), kEntrySize);
    const std::uint8_t flags = entry[0];
    if (flags == 0 || (flags & kGroupStartFlag) == 0) return true;

    const std::size_t nameCount = flags & kGroupCountMask;
    if (entry[1] != kNameMarker || nameCount == 0) return false;  // a group without a name
    // A group that would run past the end of the data ends the directory.
    if (p + (nameCount + 1) * kEntrySize > length) return true;

    nameEntries.clear();
    for (std::size_t i = 0; i < nameCount; ++i) {
      if (i > 0) data.copy(p, entry.data(), kEntrySize);
      if (entrySignature(entry) != kNameEntrySignature) return false;
      nameEntries.push_back(entry);
      p += kEntrySize;
    }
    data.copy(p, entry.data(), kEntrySize);
    if (entrySignature(entry) != kItemEntrySignature) return false;
    DirectoryItem& item = out.items.emplace_back();
    item.record = ItemRecord::fromEntry(entry);
    item.nameOffset = static_cast<std::uint32_t>(out.names.size());
    for (auto it = nameEntries.rbegin(); it != nameEntries.rend() && appendNameUnits(*it, out.names); ++it) {
    }
    item.nameLength = static_cast<std::uint32_t>(out.names.size() - item.nameOffset);
    p += kEntrySize;
  }
}

}  // namespace

bool parseDirectory(ByteSource& data, ParsedDirectory& out) {
  out.clear();
  if (!readGroups(data, out)) {
    out.clear();
    return false;
  }
  std::vector<DirectoryItem>& items = out.items;
  std::stable_sort(items.begin(), items.end(), [&](const DirectoryItem& a, const DirectoryItem& b) {
    return compareNames(out.name(a), out.name(b)) < 0;
  });
  // Of a run of names alike, the first spelling with the last record.
  std::size_t kept = 0;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (kept > 0 && compareNames(out.name(items[kept - 1]), out.name(items[i])) == 0) {
      items[kept - 1].record = items[i].record;
    } else {
      if (kept != i) items[kept] = items[i];
      ++kept;
    }
  }
  items.resize(kept);
  return true;
}

bool parseDirectory(const std::uint8_t* data, std::uint64_t length, ParsedDirectory& out) {
  BufferByteSource bytes(data, length);
  return parseDirectory(bytes, out);
}

}  // namespace sorvel
