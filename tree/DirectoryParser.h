#pragma once
// Turns a directory's bytes into its items, in name order.
#include <cstdint>
#include <string>
#include <vector>

#include "base/ByteSource.h"
#include "tree/ItemRecord.h"
#include "tree/NameRules.h"

namespace sorvel {

struct DirectoryItem {
  std::u16string name;
  ItemRecord record;
};

// Fills `out` with the directory's items, ordered by compareNames; of names alike but for the
// letter case of A-Z one item stays, spelled as the first and with the last one's record. A
// group is read only while at least 97 bytes remain from its first byte; a 0 byte or a byte
// without the group flag where a group would start ends the directory. False, with `out`
// emptied, for a malformed directory: a wrong entry signature or a group without name entries.
bool parseDirectory(ByteSource& data, std::vector<DirectoryItem>& out);
// The same items keyed by name.
bool parseDirectory(ByteSource& data, NameMap<ItemRecord>& out);
bool parseDirectory(const std::uint8_t* data, std::uint64_t length, NameMap<ItemRecord>& out);

}  // namespace sorvel
