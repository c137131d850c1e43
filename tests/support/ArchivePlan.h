#pragma once
// The layout of a test archive worked out before a byte is written: which blocks every chain
// gets, the chain table, the encoded directories, and which chain owns each block.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "support/ArchiveDescription.h"
#include "support/ArchiveLayout.h"

namespace sorvel::testing {

struct BlockOwner {
  static constexpr std::uint32_t kFree = UINT32_MAX;
  std::uint32_t node = kFree;  // 0 the root, i + 1 the item i
  std::uint32_t chunk = 0;     // position of the block in its chain
};

struct ArchivePlan {
  ArchiveLayout layout;
  std::vector<Bytes> directories;  // by node: the plain directory content, empty for files
  std::vector<BlockOwner> owners;  // by block number, up to the highest block in use
  std::uint64_t clippedSize = 0;   // the file size before patches reach beyond it
};

// Fails with a reason when the description cannot be laid out.
std::optional<ArchivePlan> planArchive(const ArchiveSettings& settings, const DirectoryOptions& rootDirectory,
                                       const std::deque<Item>& items, std::string& error);

}  // namespace sorvel::testing
