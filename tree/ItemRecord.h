#pragma once
// A directory stores each item as a group of 48-byte entries: n name entries (20 UTF-16 units of
// the name each) followed by one item entry (attributes, size, times, first block). The layout of
// both entries: docs/FORMAT.md, "Name entry" and "Item entry".
#include <array>
#include <cstdint>
#include <string>

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
inline constexpr std::size_t kGroupFlagsOffset = 0;       // name entry
inline constexpr std::size_t kNameMarkerOffset = 1;       // name entry
inline constexpr std::size_t kNameUnitsOffset = 2;        // name entry: 20 UTF-16 units
inline constexpr std::size_t kAttributesOffset = 1;       // item entry
inline constexpr std::size_t kSizeOffset = 2;             // item entry
inline constexpr std::size_t kCreatedOffset = 10;         // item entry
inline constexpr std::size_t kModifiedOffset = 18;        // item entry
inline constexpr std::size_t kAccessedOffset = 26;        // item entry
inline constexpr std::size_t kFirstBlockLowOffset = 34;   // item entry: low 16 bits of the first block
inline constexpr std::size_t kFirstBlockHighOffset = 36;  // item entry: high 16 bits

using RawEntry = std::array<std::uint8_t, kEntrySize>;

inline std::uint16_t entrySignature(const RawEntry& e) { return loadU16(e.data() + kEntrySignatureOffset); }

// The fields of an item entry the program uses, unpacked: attributes, size, first block and the
// three times. Kept per item for the life of the tree, so nothing more.
struct ItemRecord {
  std::int64_t created = 0;
  std::int64_t modified = 0;
  std::int64_t accessed = 0;
  std::uint64_t byteSize = 0;
  std::uint32_t firstBlockNumber = 0;
  std::uint8_t attributeBits = 0;

  // The record of a stored item entry.
  static ItemRecord fromEntry(const RawEntry& entry);

  std::uint8_t attributes() const { return attributeBits; }
  std::uint64_t size() const { return byteSize; }
  std::uint32_t firstBlock() const { return firstBlockNumber; }
  bool isFolder() const { return (attributes() & kFolderAttribute) != 0; }
  // The other attribute bits (hidden, system, archive) mean nothing to an extracted file.
  bool isReadOnly() const { return (attributes() & kReadOnlyAttribute) != 0; }

  bool operator==(const ItemRecord&) const = default;
};

// A group's name: the name entry right before the item entry holds the first 20 units, the
// group's first name entry the last ones; the name ends at the first 0 unit. Appends the units of
// one name entry (`raw`) to `name`; false once the name has ended.
bool appendNameUnits(const RawEntry& raw, std::u16string& name);

}  // namespace sorvel
