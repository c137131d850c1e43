#include "archive/CachedBlockReader.h"

#include <cstring>

namespace sorvel {

bool CachedBlockReader::readBlock(std::uint32_t block, std::uint8_t* dst) {
  const BlockCache::Block* data = cachedBlock(block);
  if (data == nullptr) return false;
  std::memcpy(dst, data->data(), kBlockSize);
  return true;
}

const BlockCache::Block* CachedBlockReader::cachedBlock(std::uint32_t block) {
  if (const BlockCache::Block* hit = cache_.find(block)) return hit;
  if (!loadBlock(block)) return nullptr;
  return cache_.find(block);
}

bool CachedBlockReader::loadBlock(std::uint32_t block) {
  BlockCache::Block& slot = cache_.insert(block);
  ++blockDecryptions_;
  if (!decryptor_.readBlocksUncached(block, 1, slot.data())) {
    cache_.remove(block);
    return false;
  }
  return true;
}

bool CachedBlockReader::readBlockUncached(std::uint32_t block, std::uint8_t* dst) {
  if (const BlockCache::Block* hit = cache_.find(block)) {
    std::memcpy(dst, hit->data(), kBlockSize);
    return true;
  }
  ++blockDecryptions_;
  return decryptor_.readBlocksUncached(block, 1, dst);
}

}  // namespace sorvel
