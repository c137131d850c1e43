#include "tree/ItemRecord.h"

namespace sorvel {

ItemRecord ItemRecord::fromEntry(const RawEntry& entry) {
  const std::uint8_t* raw = entry.data();
  ItemRecord record;
  record.created = loadI64(raw + kCreatedOffset);
  record.modified = loadI64(raw + kModifiedOffset);
  record.accessed = loadI64(raw + kAccessedOffset);
  record.byteSize = loadU64(raw + kSizeOffset);
  record.firstBlockNumber =
      static_cast<std::uint32_t>(loadU16(raw + kFirstBlockHighOffset)) << 16 | loadU16(raw + kFirstBlockLowOffset);
  record.attributeBits = raw[kAttributesOffset];
  return record;
}

bool appendNameUnits(const RawEntry& raw, std::u16string& name) {
  for (std::size_t i = 0; i < kNameUnitsPerEntry; ++i) {
    const auto unit = static_cast<char16_t>(loadU16(raw.data() + kNameUnitsOffset + 2 * i));
    if (unit == 0) return false;
    name.push_back(unit);
  }
  return true;
}

}  // namespace sorvel
