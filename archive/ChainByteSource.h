#pragma once
// The content of a block chain as a ByteSource: `size` is the chain's capacity as its walk
// reported it; the readable blocks of its extents follow one another from offset 0, and
// everything from the first block that cannot be read on is zero.
#include "base/ByteSource.h"
#include "archive/ContainerFile.h"

namespace sorvel {

class ChainByteSource final : public ByteSource {
 public:
  ChainByteSource(ContainerFile& container, const ExtentList& extents, std::uint64_t size);
  ~ChainByteSource() override;

  std::uint64_t size() const override { return size_; }
  void copy(std::uint64_t offset, std::uint8_t* out, std::size_t length) override;
  // False when not even the first block can be read: the chain holds nothing.
  bool readable();

 private:
  // Loads the block at `index` (counted from the chain's start) into current_; false if it is
  // not part of the chain or cannot be read.
  bool load(std::uint64_t index);

  ContainerFile& container_;
  std::vector<std::uint32_t> blocks_;  // block number of each readable position in the chain
  std::uint64_t size_;
  std::uint64_t currentIndex_ = UINT64_MAX;
  std::uint64_t failedFrom_ = UINT64_MAX;
  BlockCache::Block current_{};
};

}  // namespace sorvel
