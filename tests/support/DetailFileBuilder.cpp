#include "support/DetailFileBuilder.h"

#include <algorithm>

#include "base/ByteOrder.h"

namespace sorvel::testing {

namespace {

constexpr std::size_t kNameLimit = 553;
constexpr std::size_t kFirstLengthOffset = 553;
constexpr std::size_t kSecondLengthOffset = 557;
constexpr std::size_t kRecordSignatureOffset = 766;

void storeRecord(const DetailRecordContents& record, std::uint8_t* out) {
  std::copy_n(record.other.begin(), std::min(record.other.size(), disk::kDetailRecordSize), out);
  std::u16string units = record.name;
  units.push_back(u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::size_t at = 2 * i;
    if (at < kNameLimit) out[at] = static_cast<std::uint8_t>(units[i]);
    if (at + 1 < kNameLimit) out[at + 1] = static_cast<std::uint8_t>(units[i] >> 8);
  }
  storeU32(out + kFirstLengthOffset,
           record.firstBlobLength.value_or(static_cast<std::uint32_t>(record.firstBlob.size())));
  storeU32(out + kSecondLengthOffset,
           record.secondBlobLength.value_or(static_cast<std::uint32_t>(record.secondBlob.size())));
  storeU16(out + kRecordSignatureOffset, record.signature.value_or(0xFF07));
}

}  // namespace

Bytes detailFileBytes(const DetailFileContents& contents) {
  Bytes out(disk::kDetailHeaderSize + contents.records.size() * disk::kDetailRecordSize);
  storeU32(out.data(), contents.recordCount.value_or(static_cast<std::uint32_t>(contents.records.size())));
  storeU16(out.data() + 30, contents.signature.value_or(0xFF06));
  for (std::size_t i = 0; i < contents.records.size(); ++i) {
    storeRecord(contents.records[i], out.data() + disk::kDetailHeaderSize + i * disk::kDetailRecordSize);
  }
  for (const auto& record : contents.records) out.insert(out.end(), record.firstBlob.begin(), record.firstBlob.end());
  for (const auto& record : contents.records) out.insert(out.end(), record.secondBlob.begin(), record.secondBlob.end());
  out.insert(out.end(), contents.trailing.begin(), contents.trailing.end());
  return out;
}

}  // namespace sorvel::testing
