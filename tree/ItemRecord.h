#pragma once
// A directory stores each item as a group of 48-byte entries: n name entries (20 UTF-16 units of
// the name each) followed by one item entry (attributes, size, times, first block). The layout of
// both entries: docs/FORMAT.md, "Name entry" and "Item entry".
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/ByteOrder.h"

namespace sorvel {

inline constexpr std::size_t kEntrySize = 48;
inline constexpr std::size_t kNameUnitsPerEntry = 20;
inline constexpr std::uint16_t kNameEntrySignature = 0xFF04;
inline constexpr std::uint16_t kItemEntrySignature = 0xFF05;
inline constexpr std::uint8_t kGroupStartFlag = 0x40;
inline constexpr std::uint8_t kGroupCountMask = 0x3F;
inline constexpr std::uint8_t kNameMarker = 0x0F;
inline constexpr std::uint8_t kFolderAttribute = 0x10;
inline constexpr std::uint8_t kReadOnlyAttribute = 0x01;
inline constexpr std::uint8_t kHiddenAttribute = 0x02;
inline constexpr std::uint8_t kSystemAttribute = 0x04;
inline constexpr std::uint8_t kArchiveAttribute = 0x20;

// Offsets within an entry. Both kinds end in their signature.
inline constexpr std::size_t kEntrySignatureOffset = 46;
inline constexpr std::size_t kGroupFlagsOffset = 0;      // name entry
inline constexpr std::size_t kNameMarkerOffset = 1;      // name entry
inline constexpr std::size_t kNameUnitsOffset = 2;       // name entry: 20 UTF-16 units
inline constexpr std::size_t kAttributesOffset = 1;      // item entry
inline constexpr std::size_t kSizeOffset = 2;            // item entry
inline constexpr std::size_t kCreatedOffset = 10;        // item entry
inline constexpr std::size_t kModifiedOffset = 18;       // item entry
inline constexpr std::size_t kAccessedOffset = 26;       // item entry
inline constexpr std::size_t kFirstBlockLowOffset = 34;  // item entry: low 16 bits of the first block
inline constexpr std::size_t kFirstBlockHighOffset = 36; // item entry: high 16 bits

using RawEntry = std::array<std::uint8_t, kEntrySize>;

inline std::uint16_t entrySignature(const RawEntry& e) { return loadU16(e.data() + kEntrySignatureOffset); }

struct NameEntry {
  RawEntry raw{};

  std::uint8_t groupFlags() const { return raw[kGroupFlagsOffset]; }
  std::uint8_t nameMarker() const { return raw[kNameMarkerOffset]; }
  char16_t nameUnit(std::size_t i) const { return static_cast<char16_t>(loadU16(raw.data() + kNameUnitsOffset + 2 * i)); }
};

struct ItemEntry {
  RawEntry raw{};

  std::uint8_t attributes() const { return raw[kAttributesOffset]; }
  std::uint64_t size() const { return loadU64(raw.data() + kSizeOffset); }
  std::int64_t created() const { return loadI64(raw.data() + kCreatedOffset); }
  std::int64_t modified() const { return loadI64(raw.data() + kModifiedOffset); }
  std::int64_t accessed() const { return loadI64(raw.data() + kAccessedOffset); }
  std::uint32_t firstBlock() const {
    return static_cast<std::uint32_t>(loadU16(raw.data() + kFirstBlockHighOffset)) << 16 | loadU16(raw.data() + kFirstBlockLowOffset);
  }
};

// One item's directory group in memory.
struct ItemRecord {
  std::vector<NameEntry> nameEntries;
  ItemEntry entry;
  std::int64_t created = 0;
  std::int64_t modified = 0;
  std::int64_t accessed = 0;

  ItemRecord() { storeU16(entry.raw.data() + kEntrySignatureOffset, kItemEntrySignature); }

  std::uint8_t attributes() const { return entry.attributes(); }
  std::uint64_t size() const { return entry.size(); }
  std::uint32_t firstBlock() const { return entry.firstBlock(); }
  bool isFolder() const { return (attributes() & kFolderAttribute) != 0; }
  // The other attribute bits (hidden, system, archive) mean nothing to an extracted file.
  bool isReadOnly() const { return (attributes() & kReadOnlyAttribute) != 0; }
};

// The name of a group: the name entry right before the item entry holds the first 20 units, the
// group's first name entry the last ones; the name ends at the first 0 unit.
std::u16string assembleName(const std::vector<NameEntry>& nameEntries);

}  // namespace sorvel
