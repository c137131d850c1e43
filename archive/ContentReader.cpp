#include "archive/ContentReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sorvel {

ContentReader::ContentReader(ContainerFile& container, std::uint32_t firstBlock, std::uint64_t wanted,
                             std::vector<bool> claimed)
    : container_(container) {
  ChainTable::ContentChain plan = container_.chainTable().planContent(firstBlock, wanted, claimed);
  extents_ = std::move(plan.extents);
  limit_ = plan.bytes;
  end_ = plan.end;
}

ContentReader::~ContentReader() = default;

ContentSource::Piece ContentReader::next() {
  constexpr std::size_t kPieceSize = 64 * kBlockSize;
  const std::uint64_t contentRoom = (limit_ + kBlockSize - 1) / kBlockSize * kBlockSize;
  const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(kPieceSize, contentRoom));
  std::uint8_t* const data = buffer_.reserve(room);
  buffer_.markWritten(room);  // as far as read() may decrypt, even when a block then fails
  const std::size_t n = read(data, room);
  return {data, n};
}

std::size_t ContentReader::read(std::uint8_t* dst, std::size_t maxBytes) {
  while (!failed_ && delivered_ < limit_ && maxBytes > 0) {
    if (extentIndex_ >= extents_.size()) break;
    const Extent& extent = extents_[extentIndex_];
    const std::uint64_t blocksLeft = extent.blockCount() - blockInExtent_;
    if (blocksLeft == 0) {
      ++extentIndex_;
      blockInExtent_ = 0;
      continue;
    }
    const auto block = static_cast<std::uint32_t>(extent.first + blockInExtent_);
    const std::uint64_t remaining = limit_ - delivered_;

    if (remaining >= kBlockSize && maxBytes >= kBlockSize) {
      // Whole blocks straight into the caller's buffer, as many as are consecutive.
      const std::uint64_t count = std::min({blocksLeft, remaining / kBlockSize, std::uint64_t{maxBytes / kBlockSize}});
      if (!container_.decryptor().readBlocksUncached(block, static_cast<std::uint32_t>(count), dst)) {
        failed_ = true;
        return 0;
      }
      blockInExtent_ += count;
      delivered_ += count * kBlockSize;
      return static_cast<std::size_t>(count * kBlockSize);
    }

    // The last block, of which less than all is wanted.
    if (maxBytes < remaining) return 0;  // a buffer smaller than a block: refused, not split
    std::uint8_t* const tail = tail_.reserve(kBlockSize);
    tail_.markWritten(BlockDecryptor::decryptedLength(static_cast<std::size_t>(remaining)));
    if (!container_.decryptor().readBlocksUncached(block, 1, tail, static_cast<std::size_t>(remaining))) {
      failed_ = true;
      return 0;
    }
    const auto n = static_cast<std::size_t>(remaining);
    std::memcpy(dst, tail, n);
    ++blockInExtent_;
    delivered_ += n;
    return n;
  }
  return 0;
}

}  // namespace sorvel
