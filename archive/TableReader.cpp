#include "archive/TableReader.h"

#include <algorithm>

#include "base/Bytes.h"

namespace sorvel {

TableReader::TableReader(const BlockDecryptor& decryptor, const ExtentList& extents, std::uint64_t size)
    : decryptor_(decryptor), size_(size) {
  for (const Extent& e : extents) {
    for (std::uint64_t i = 0; i < e.blockCount(); ++i) blocks_.push_back(static_cast<std::uint32_t>(e.first + i));
  }
}

TableReader::~TableReader() { secureWipe(current_.data(), current_.size()); }

bool TableReader::readable() { return load(0); }

bool TableReader::load(std::uint64_t index) {
  if (index == currentIndex_) return true;
  if (index >= blocks_.size() || index >= failedFrom_) return false;
  ++blocksRead_;
  if (!decryptor_.readBlocksUncached(blocks_[index], 1, current_.data())) {
    failedFrom_ = index;
    return false;
  }
  currentIndex_ = index;
  return true;
}

void TableReader::copy(std::uint64_t offset, std::uint8_t* out, std::size_t length) {
  while (length > 0) {
    const std::uint64_t index = offset / kBlockSize;
    const std::uint64_t within = offset % kBlockSize;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockSize - within, length));
    if (load(index)) {
      std::memcpy(out, current_.data() + within, n);
    } else {
      std::memset(out, 0, n);
    }
    out += n;
    offset += n;
    length -= n;
  }
}

}  // namespace sorvel
