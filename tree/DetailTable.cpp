#include "tree/DetailTable.h"

#include <vector>

#include "base/ByteOrder.h"

namespace sorvel {
namespace {

constexpr std::size_t kNameFieldBytes = kFirstBlobLengthOffset - kDetailNameOffset;

// Cuts `length` bytes at `offset` out of the data, or fails if they are not all there.
bool cutBlob(ByteSource& data, std::uint64_t& offset, std::uint32_t length, Bytes& out) {
  if (length == 0) return true;
  if (offset > data.size() || length > data.size() - offset) return false;
  out.resize(length);
  data.copy(offset, out.data(), length);
  offset += length;
  return true;
}

}  // namespace

std::uint32_t DetailHeader::recordCount() const { return loadU32(raw.data() + kDetailRecordCountOffset); }
std::uint16_t DetailHeader::signature() const { return loadU16(raw.data() + kDetailHeaderSignatureOffset); }

std::uint32_t DetailRecord::firstBlobLength() const { return loadU32(raw.data() + kFirstBlobLengthOffset); }
std::uint32_t DetailRecord::secondBlobLength() const { return loadU32(raw.data() + kSecondBlobLengthOffset); }
std::uint16_t DetailRecord::signature() const { return loadU16(raw.data() + kDetailRecordSignatureOffset); }

std::optional<std::u16string> DetailRecord::name() const {
  std::u16string name;
  for (std::size_t at = 0; at + 1 < kNameFieldBytes; at += 2) {
    const auto unit = static_cast<char16_t>(loadU16(raw.data() + kDetailNameOffset + at));
    if (unit == 0) return name;
    name.push_back(unit);
  }
  return std::nullopt;
}

bool parseDetailTable(ByteSource& data, DetailTable& out) {
  if (data.size() < kDetailHeaderSize) return false;
  DetailHeader header;
  data.copy(0, header.raw.data(), header.raw.size());
  if (header.signature() != kDetailHeaderSignature) return false;

  const std::uint64_t count = header.recordCount();
  if (count * kDetailRecordSize > data.size() - kDetailHeaderSize) return false;

  std::vector<std::shared_ptr<DetailRecord>> records;
  std::vector<std::u16string> names;
  records.reserve(count);
  names.reserve(count);
  for (std::uint64_t i = 0; i < count; ++i) {
    auto record = std::make_shared<DetailRecord>();
    data.copy(kDetailHeaderSize + i * kDetailRecordSize, record->raw.data(), kDetailRecordSize);
    if (record->signature() != kDetailRecordSignature) return false;
    std::optional<std::u16string> name = record->name();
    if (!name) return false;
    names.push_back(std::move(*name));
    records.push_back(std::move(record));
  }

  std::uint64_t offset = kDetailHeaderSize + count * kDetailRecordSize;
  for (auto& record : records) {
    if (!cutBlob(data, offset, record->firstBlobLength(), record->firstBlob)) return false;
  }
  for (auto& record : records) {
    if (!cutBlob(data, offset, record->secondBlobLength(), record->secondBlob)) return false;
  }

  out.header = header;
  out.records.reset();
  if (count == 0) return true;
  out.records.emplace();
  for (std::size_t i = 0; i < records.size(); ++i) insertOrReplace<DetailRecordRef>(*out.records, names[i], records[i]);
  return true;
}

}  // namespace sorvel
