#pragma once
// The reader of directories and item detail tables: a chain read whole, at random offsets, as a
// ByteSource (see ContainerChains, which bounds it). `size` is the chain's capacity as its walk
// reported it; the readable blocks of its extents follow one another from offset 0, and
// everything from the first block that cannot be read on is zero. Each block is read and
// decrypted when it is first looked at; a directory is read once per tree and a detail table
// once per folder, so no block is kept beyond the one being read. File content is read by
// ContentReader and ContentPipeline instead.
#include <array>
#include <cstdint>
#include <vector>

#include "archive/BlockDecryptor.h"
#include "archive/Extent.h"
#include "base/ByteSource.h"

namespace sorvel {

class TableReader final : public ByteSource {
 public:
  TableReader(const BlockDecryptor& decryptor, const ExtentList& extents, std::uint64_t size);
  ~TableReader() override;

  std::uint64_t size() const override { return size_; }
  void copy(std::uint64_t offset, std::uint8_t* out, std::size_t length) override;
  // False when not even the first block can be read: the chain holds nothing.
  bool readable();
  // Blocks read and decrypted so far.
  std::uint64_t blocksRead() const { return blocksRead_; }

 private:
  // Loads the block at `index` (counted from the chain's start) into current_; false if it is
  // not part of the chain or cannot be read.
  bool load(std::uint64_t index);

  const BlockDecryptor& decryptor_;
  std::vector<std::uint32_t> blocks_;  // block number of each readable position in the chain
  std::uint64_t size_;
  std::uint64_t currentIndex_ = UINT64_MAX;
  std::uint64_t failedFrom_ = UINT64_MAX;
  std::uint64_t blocksRead_ = 0;
  std::array<std::uint8_t, kBlockSize> current_{};
};

}  // namespace sorvel
