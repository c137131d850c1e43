#pragma once
// The item detail file a folder may hold: a 32-byte header, `recordCount` records of 768 bytes,
// then all first blobs in record order, then all second blobs. Records are found by item name.
// The layout: docs/FORMAT.md, "Detail header" and "Detail record".
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/ByteSource.h"
#include "base/Bytes.h"
#include "tree/NameRules.h"

namespace sorvel {

inline constexpr char16_t kDetailFileName[] = u"valdo_item_detail.deposit";
inline constexpr std::size_t kDetailHeaderSize = 32;
inline constexpr std::size_t kDetailRecordSize = 768;
inline constexpr std::uint16_t kDetailHeaderSignature = 0xFF06;
inline constexpr std::uint16_t kDetailRecordSignature = 0xFF07;
// Offsets within the header.
inline constexpr std::size_t kDetailRecordCountOffset = 0;
inline constexpr std::size_t kDetailHeaderSignatureOffset = 30;
// Offsets within a record: the name (UTF-16, up to its 0 unit) fills the bytes before the
// lengths.
inline constexpr std::size_t kDetailNameOffset = 0;
inline constexpr std::size_t kFirstBlobLengthOffset = 553;
inline constexpr std::size_t kSecondBlobLengthOffset = 557;
inline constexpr std::size_t kDetailRecordSignatureOffset = 766;

struct DetailHeader {
  std::array<std::uint8_t, kDetailHeaderSize> raw{};

  std::uint32_t recordCount() const;
  std::uint16_t signature() const;
};

struct DetailRecord {
  std::array<std::uint8_t, kDetailRecordSize> raw{};
  Bytes firstBlob;   // empty: none
  Bytes secondBlob;  // empty: none

  std::uint32_t firstBlobLength() const;
  std::uint32_t secondBlobLength() const;
  std::uint16_t signature() const;
  // The UTF-16 name up to its 0 unit; none when no 0 unit comes before the length fields.
  std::optional<std::u16string> name() const;
};

using DetailRecordRef = std::shared_ptr<const DetailRecord>;

struct DetailTable {
  DetailHeader header;
  // None when the table has no records. Shared, not copied: every caller only reads.
  std::optional<NameMap<DetailRecordRef>> records;
};

using DetailTableRef = std::shared_ptr<const DetailTable>;

// False for a table that cannot be trusted: a wrong header or record signature, a record name
// without an end, or records or blobs that would run past the data.
bool parseDetailTable(ByteSource& data, DetailTable& out);

}  // namespace sorvel
