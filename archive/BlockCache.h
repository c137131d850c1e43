#pragma once
// Decrypted data blocks kept in memory, least recently used evicted first.
#include <array>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>

#include "archive/Extent.h"

namespace sorvel {

class BlockCache {
 public:
  using Block = std::array<std::uint8_t, kBlockSize>;
  static constexpr std::size_t kDefaultCapacity = 16384;  // 256 MiB of blocks

  explicit BlockCache(std::size_t capacity = kDefaultCapacity) : capacity_(capacity == 0 ? 1 : capacity) {}
  ~BlockCache();
  BlockCache(const BlockCache&) = delete;
  BlockCache& operator=(const BlockCache&) = delete;

  // The cached block, now the most recently used; null when it is not cached.
  const Block* find(std::uint32_t blockNumber);
  // A slot for a block not yet cached, evicting the least recently used block when full. The
  // slot becomes the most recently used; the caller fills it or removes it again.
  Block& insert(std::uint32_t blockNumber);
  void remove(std::uint32_t blockNumber);
  void evictLeastRecentlyUsed();
  void clear();

  std::size_t size() const { return index_.size(); }
  std::size_t capacity() const { return capacity_; }

 private:
  struct Entry {
    std::uint32_t blockNumber;
    std::unique_ptr<Block> data;
  };
  using Order = std::list<Entry>;  // least recently used first

  std::size_t capacity_;
  Order order_;
  std::unordered_map<std::uint32_t, Order::iterator> index_;
};

}  // namespace sorvel
