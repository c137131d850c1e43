#pragma once
// One item's group of 48-byte directory entries: its name entries, the last part of the name
// first, then its ItemEntry.
#include <cstdint>
#include <string>

#include "base/Bytes.h"
#include "support/ArchiveDescription.h"

namespace sorvel::testing {

// The name units the group stores: the stored name override, else the path's last part.
std::u16string storedNameOf(const Item& item);

// Name entries the group holds (the override, else enough for the name, at least one).
std::size_t nameEntryCountOf(const Item& item);

std::size_t groupSizeOf(const Item& item);

// The group's bytes, with `chainFirstBlock` as the first block unless the item overrides it.
Bytes encodeGroup(const Item& item, std::uint32_t chainFirstBlock, std::uint64_t noiseSeed);

}  // namespace sorvel::testing
