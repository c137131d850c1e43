#include "support/DirectoryGroup.h"

#include "base/ByteOrder.h"

namespace sorvel::testing {

namespace {

constexpr std::uint8_t kGroupStart = 0x40;
constexpr std::uint8_t kNameMarker = 0x0F;
constexpr std::size_t kMaxNameEntries = 63;

// Unread bytes get values a careless reader would trip over: never zero.
class Noise {
 public:
  Noise(bool enabled, std::uint64_t seed) : enabled_(enabled), generator_(seededContent(seed)) {}
  void fill(std::uint8_t* out, std::size_t length) {
    if (!enabled_) return;
    generator_(position_, out, length);
    position_ += length;
    for (std::size_t i = 0; i < length; ++i) out[i] |= 0x01;
  }

 private:
  bool enabled_;
  ContentGenerator generator_;
  std::uint64_t position_ = 0;
};

void storeNameEntry(const Item& item, const std::u16string& name, std::size_t chunk, bool first, Noise& noise,
                    std::uint8_t* out) {
  const std::size_t count = nameEntryCountOf(item);
  if (first) {
    out[0] = item.entry.groupFlags.value_or(static_cast<std::uint8_t>(kGroupStart | (count & kMaxNameEntries)));
    out[1] = item.entry.nameMarker.value_or(kNameMarker);
  } else {
    noise.fill(out, 2);
  }
  const std::size_t begin = chunk * disk::kNameUnitsPerEntry;
  for (std::size_t i = 0; i < disk::kNameUnitsPerEntry; ++i) {
    std::uint8_t* unit = out + 2 + 2 * i;
    const std::size_t index = begin + i;
    if (index < name.size()) {
      storeU16(unit, name[index]);
    } else if (index > name.size()) {
      noise.fill(unit, 2);  // the terminating unit itself stays 0
    }
  }
  noise.fill(out + 42, 4);
  storeU16(out + 46, item.entry.nameSignature.value_or(0xFF04));
}

void storeItemEntry(const Item& item, std::uint32_t firstBlock, Noise& noise, std::uint8_t* out) {
  if (nameEntryCountOf(item) == 0) {
    out[0] = item.entry.groupFlags.value_or(kGroupStart);
  } else {
    noise.fill(out, 1);
  }
  out[1] = item.isFolder ? static_cast<std::uint8_t>(item.attributes | disk::kFolderAttribute) : item.attributes;
  storeU64(out + 2, item.storedSize.value_or(item.isFolder ? 0 : item.contentSize()));
  storeI64(out + 10, item.created);
  storeI64(out + 18, item.modified);
  storeI64(out + 26, item.accessed);
  const std::uint32_t block = item.firstBlock.value_or(firstBlock);
  storeU16(out + 34, static_cast<std::uint16_t>(block));
  storeU16(out + 36, static_cast<std::uint16_t>(block >> 16));
  noise.fill(out + 38, 8);
  storeU16(out + 46, item.entry.itemSignature.value_or(0xFF05));
}

}  // namespace

std::u16string storedNameOf(const Item& item) {
  if (item.storedName) return *item.storedName;
  const std::size_t separator = item.path.rfind(u'\\');
  return separator == std::u16string::npos ? item.path : item.path.substr(separator + 1);
}

std::size_t nameEntryCountOf(const Item& item) {
  if (item.entry.nameEntryCount) return *item.entry.nameEntryCount;
  const std::size_t units = storedNameOf(item).size();
  return units == 0 ? 1 : (units + disk::kNameUnitsPerEntry - 1) / disk::kNameUnitsPerEntry;
}

std::size_t groupSizeOf(const Item& item) { return (nameEntryCountOf(item) + 1) * disk::kEntrySize; }

Bytes encodeGroup(const Item& item, std::uint32_t chainFirstBlock, std::uint64_t noiseSeed) {
  Bytes out(groupSizeOf(item));
  Noise noise(item.noise, noiseSeed);
  const std::u16string name = storedNameOf(item);
  const std::size_t count = nameEntryCountOf(item);
  // The entry right before the ItemEntry carries the name's first units, the group's first entry
  // its last ones.
  for (std::size_t position = 0; position < count; ++position) {
    storeNameEntry(item, name, count - 1 - position, position == 0, noise, out.data() + position * disk::kEntrySize);
  }
  storeItemEntry(item, chainFirstBlock, noise, out.data() + count * disk::kEntrySize);
  return out;
}

}  // namespace sorvel::testing
