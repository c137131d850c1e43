#pragma once
// Turns a directory's bytes into its items, in name order.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/ByteSource.h"
#include "tree/ItemRecord.h"
#include "tree/NameRules.h"

namespace sorvel {

// A directory's items, their names held once in one buffer: a folder of many items would hold
// a string of its own per name.
struct DirectoryItem {
  std::uint32_t nameOffset = 0;  // in ParsedDirectory::names
  std::uint32_t nameLength = 0;
  ItemRecord record;
};

struct ParsedDirectory {
  std::vector<DirectoryItem> items;
  std::u16string names;

  std::size_t size() const { return items.size(); }
  std::u16string_view name(const DirectoryItem& item) const {
    return {names.data() + item.nameOffset, item.nameLength};
  }
  std::u16string_view name(std::size_t i) const { return name(items[i]); }
  void clear() {
    items.clear();
    names.clear();
  }
};

// Fills `out` with the directory's items, ordered by compareNames; of names alike but for the
// letter case of A-Z one item stays, spelled as the first and with the last one's record. A
// group is read only while at least 97 bytes remain from its first byte; a 0 byte or a byte
// without the group flag where a group would start ends the directory. False, with `out`
// emptied, for a malformed directory: a wrong entry signature or a group without name entries.
bool parseDirectory(ByteSource& data, ParsedDirectory& out);
bool parseDirectory(const std::uint8_t* data, std::uint64_t length, ParsedDirectory& out);

}  // namespace sorvel
