#pragma once
// The bytes of a folder's item detail file: a 32-byte header, one 768-byte record per entry, then
// every record's first blob in record order and every record's second blob in record order.
// Overrides let a test write a table that does not add up.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"

namespace sorvel::testing {

namespace disk {
inline constexpr char16_t kDetailFileName[] = u"valdo_item_detail.deposit";
inline constexpr std::size_t kDetailHeaderSize = 32;
inline constexpr std::size_t kDetailRecordSize = 768;
}  // namespace disk

struct DetailRecordContents {
  // Stored UTF-16LE from offset 0 with a 0 unit behind it, all cut at offset 553: a name of 277
  // units or more has no terminator.
  std::u16string name;
  Bytes firstBlob;
  Bytes secondBlob;
  Bytes other;  // the record's remaining bytes (768 or fewer, zero-extended); the fields above
                // and the lengths and signature are written over it
  std::optional<std::uint32_t> firstBlobLength;  // claimed length; default the blob's size
  std::optional<std::uint32_t> secondBlobLength;
  std::optional<std::uint16_t> signature;  // default 0xFF07
};

struct DetailFileContents {
  std::vector<DetailRecordContents> records;
  std::optional<std::uint32_t> recordCount;  // default records.size()
  std::optional<std::uint16_t> signature;    // default 0xFF06
  Bytes trailing;                            // appended behind the blobs
};

Bytes detailFileBytes(const DetailFileContents& contents);

}  // namespace sorvel::testing
