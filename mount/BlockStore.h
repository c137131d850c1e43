#pragma once
// Decrypted archive blocks for the file system's threads: a bounded cache, least recently used
// evicted first, shared by every thread that reads. A block is decrypted once however many
// threads want it at the same time; evicted blocks are wiped.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "archive/ContainerFile.h"

namespace sorvel::mount {

class BlockStore {
 public:
  using Block = std::array<std::uint8_t, kBlockSize>;
  using BlockRef = std::shared_ptr<const Block>;

  // `capacity`: blocks kept (at least 2). The container must stay open and unchanged while the
  // store lives; only its thread-safe reads are used.
  BlockStore(const ContainerFile& container, std::size_t capacity);
  ~BlockStore();
  BlockStore(const BlockStore&) = delete;
  BlockStore& operator=(const BlockStore&) = delete;

  // The decrypted block, from the cache or read now; null when it cannot be read.
  BlockRef get(std::uint32_t block);

  // Consecutive blocks `first`..
  struct Run {
    std::uint32_t first;
    std::uint32_t count;
  };
  // Brings the blocks of `runs` that are neither cached nor being loaded into the cache on the
  // calling thread, each run of missing blocks read with one call, before they are asked for.
  void fetch(const Run* runs, std::size_t count);
  // Drops `block` from the cache when it is loaded: a reader that will not want it again lets its
  // buffer be wiped and reused at once, while the processor still has it at hand, rather than
  // after the whole cache has cycled. Readers still holding the block keep it until they let go.
  void forget(std::uint32_t block);

  std::size_t capacity() const { return capacity_; }

 private:
  struct Entry {
    std::uint32_t block;
    BlockRef data;  // null while a thread loads it
  };
  using Order = std::list<Entry>;  // least recently used first

  // Called with the lock held: the entry, now the most recently used, or end().
  Order::iterator touch(std::uint32_t block);
  void insertLocked(std::uint32_t block, BlockRef data);
  // A block buffer, taken from the spare ones when there are any; given back to them, wiped,
  // when the last reference goes. More than the cache holds at once (readers still holding
  // evicted blocks) come from the heap and go back to it.
  BlockRef makeBlock();
  void giveBack(Block* block);
  bool decrypt(std::uint32_t first, std::uint32_t count, std::uint8_t* out) const;
  // Called with the lock held: loads the missing blocks of `run` through `staging` (room for
  // kBatchBlocks stored blocks), unlocking while it reads and decrypts.
  void loadLocked(Run run, std::unique_lock<std::mutex>& guard, std::uint8_t* staging);

  const ContainerFile& container_;
  std::size_t capacity_;
  // The cache's buffers, one mapping: its pages are touched only when a block first uses them, in
  // huge pages where the system offers them (fewer faults, and fewer pages to pin per reply).
  std::uint8_t* slab_ = nullptr;
  std::size_t slabBytes_ = 0;
  std::mutex spareLock_;
  std::vector<Block*> spare_;  // the slab's free buffers, wiped
  mutable std::mutex lock_;
  std::condition_variable loaded_;
  Order order_;
  std::unordered_map<std::uint32_t, Order::iterator> index_;
};

}  // namespace sorvel::mount
