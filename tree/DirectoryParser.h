#pragma once
// Turns a directory's bytes into its items, keyed by name.
#include <cstdint>

#include "base/ByteSource.h"
#include "tree/ItemRecord.h"
#include "tree/NameRules.h"

namespace sorvel {

// Fills `out` with the directory's items. A group is read only while at least 97 bytes remain
// from its first byte; a 0 byte or a byte without the group flag where a group would start ends
// the directory. False, with `out` emptied, for a malformed directory: a wrong entry signature or
// a group without name entries.
bool parseDirectory(ByteSource& data, NameMap<ItemRecord>& out);
bool parseDirectory(const std::uint8_t* data, std::uint64_t length, NameMap<ItemRecord>& out);

}  // namespace sorvel
