#pragma once
// Single data blocks read through the block cache: each decrypted once while it stays cached.
// Item detail tables are read this way (TableReader); directories, read once per tree, and file
// content bypass it.
#include <cstdint>
#include <vector>

#include "archive/BlockCache.h"
#include "archive/BlockDecryptor.h"

namespace sorvel {

class CachedBlockReader {
 public:
  explicit CachedBlockReader(const BlockDecryptor& decryptor, std::size_t cacheCapacity = BlockCache::kDefaultCapacity)
      : decryptor_(decryptor), cache_(cacheCapacity) {}

  // One decrypted block, from the cache or read and decrypted into it.
  bool readBlock(std::uint32_t block, std::uint8_t* dst);
  // One decrypted block, from the cache when it is there, else read and decrypted without
  // entering it: for blocks read once.
  bool readBlockUncached(std::uint32_t block, std::uint8_t* dst);

  const BlockCache& cache() const { return cache_; }
  std::uint64_t blockDecryptions() const { return blockDecryptions_; }

 private:
  // A decrypted block as held by the cache (valid until the next cache operation), or null.
  const BlockCache::Block* cachedBlock(std::uint32_t block);
  bool loadBlock(std::uint32_t block);

  const BlockDecryptor& decryptor_;
  BlockCache cache_;
  std::uint64_t blockDecryptions_ = 0;
};

}  // namespace sorvel
