#pragma once
// Single data blocks read through the block cache: each decrypted once while it stays cached.
// Directories and item detail tables are read this way (TableReader); file content bypasses it.
#include <cstdint>
#include <vector>

#include "archive/ArchiveFile.h"
#include "archive/BlockCache.h"
#include "archive/BlockDecryptor.h"

namespace sorvel {

class CachedBlockReader {
 public:
  CachedBlockReader(const ArchiveFile& file, const BlockDecryptor& decryptor,
                    std::size_t cacheCapacity = BlockCache::kDefaultCapacity)
      : file_(file), decryptor_(decryptor), cache_(cacheCapacity) {}

  // One decrypted block, from the cache or read and decrypted into it.
  bool readBlock(std::uint32_t block, std::uint8_t* dst);
  // Removes (and wipes) the cached blocks flagged in `blocks` (one flag per block number).
  void dropBlocks(const std::vector<bool>& blocks);

  const BlockCache& cache() const { return cache_; }
  std::uint64_t blockDecryptions() const { return blockDecryptions_; }

 private:
  // A decrypted block as held by the cache (valid until the next cache operation), or null.
  const BlockCache::Block* cachedBlock(std::uint32_t block);
  bool loadBlock(std::uint32_t block);

  const ArchiveFile& file_;
  const BlockDecryptor& decryptor_;
  BlockCache cache_;
  std::uint64_t blockDecryptions_ = 0;
};

}  // namespace sorvel
