#pragma once
// The reader of directories and item detail tables: a chain read whole, at random offsets, as a
// ByteSource (see ContainerChains, which bounds it). `size` is the chain's capacity as its walk
// reported it; the readable blocks of its extents follow one another from offset 0, and
// everything from the first block that cannot be read on is zero. Item detail tables go through
// the block cache; a directory is read once per tree, and its blocks would only crowd the cache
// for as long as the archive is open, so it bypasses it. File content is read by ContentReader
// and ContentPipeline instead.
#include "base/ByteSource.h"
#include "archive/CachedBlockReader.h"

namespace sorvel {

class TableReader final : public ByteSource {
 public:
  enum class Caching { Cached, Uncached };
  TableReader(CachedBlockReader& blocks, const ExtentList& extents, std::uint64_t size, Caching caching = Caching::Cached);
  ~TableReader() override;

  std::uint64_t size() const override { return size_; }
  void copy(std::uint64_t offset, std::uint8_t* out, std::size_t length) override;
  // False when not even the first block can be read: the chain holds nothing.
  bool readable();

 private:
  // Loads the block at `index` (counted from the chain's start) into current_; false if it is
  // not part of the chain or cannot be read.
  bool load(std::uint64_t index);

  CachedBlockReader& reader_;
  std::vector<std::uint32_t> blocks_;  // block number of each readable position in the chain
  std::uint64_t size_;
  Caching caching_;
  std::uint64_t currentIndex_ = UINT64_MAX;
  std::uint64_t failedFrom_ = UINT64_MAX;
  BlockCache::Block current_{};
};

}  // namespace sorvel
