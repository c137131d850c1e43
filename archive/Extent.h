#pragma once
// A run of consecutive data blocks of one chain, `first` to `last` inclusive.
#include <cstdint>
#include <vector>

namespace sorvel {

// Every data block is this long, and numbers below kFirstDataBlock name none (docs/FORMAT.md,
// "Blocks"); the one place the system states the block size.
inline constexpr std::uint64_t kBlockSize = 16384;
inline constexpr std::uint32_t kFirstDataBlock = 2;

struct Extent {
  std::uint32_t first = 0;
  std::uint32_t last = 0;

  // Numbers 0 and 1 never name a block, so a run that holds one of them holds nothing.
  std::uint64_t blockCount() const {
    if (first < kFirstDataBlock || last < kFirstDataBlock || last < first) return 0;
    return std::uint64_t{last} - first + 1;
  }
  std::uint64_t byteCount() const { return blockCount() * kBlockSize; }
};

using ExtentList = std::vector<Extent>;

inline std::uint64_t capacityOf(const ExtentList& extents) {
  std::uint64_t total = 0;
  for (const Extent& e : extents) total += e.byteCount();
  return total;
}

}  // namespace sorvel
