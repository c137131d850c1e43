#include "archive/BlockCache.h"

#include "base/Bytes.h"

namespace sorvel {

BlockCache::~BlockCache() { clear(); }

const BlockCache::Block* BlockCache::find(std::uint32_t blockNumber) {
  auto it = index_.find(blockNumber);
  if (it == index_.end()) return nullptr;
  order_.splice(order_.end(), order_, it->second);
  return it->second->data.get();
}

BlockCache::Block& BlockCache::insert(std::uint32_t blockNumber) {
  if (auto it = index_.find(blockNumber); it != index_.end()) {
    order_.splice(order_.end(), order_, it->second);
    return *it->second->data;
  }
  if (index_.size() >= capacity_) evictLeastRecentlyUsed();
  order_.push_back(Entry{blockNumber, std::make_unique<Block>()});
  index_.emplace(blockNumber, std::prev(order_.end()));
  return *order_.back().data;
}

void BlockCache::remove(std::uint32_t blockNumber) {
  auto it = index_.find(blockNumber);
  if (it == index_.end()) return;
  secureWipe(it->second->data->data(), kBlockSize);
  order_.erase(it->second);
  index_.erase(it);
}

void BlockCache::evictLeastRecentlyUsed() {
  if (order_.empty()) return;
  remove(order_.front().blockNumber);
}

void BlockCache::clear() {
  while (!order_.empty()) evictLeastRecentlyUsed();
}

}  // namespace sorvel
