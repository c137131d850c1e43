#include "mount/BlockStore.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>
#include <vector>

#include "base/Bytes.h"

namespace sorvel::mount {
namespace {

// The most blocks read with one call.
constexpr std::uint32_t kBatchBlocks = 16;
// The size of a huge page, to which the slab is aligned.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

BlockStore::BlockStore(const ContainerFile& container, std::size_t capacity)
    : container_(container), capacity_(std::max<std::size_t>(capacity, 2)) {
  // Reserved, not touched: the pages count only once a block uses them.
  const std::size_t bytes = capacity_ * kBlockSize;
  void* mapped = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return;  // the heap serves every block instead
  slab_ = static_cast<std::uint8_t*>(mapped);
  slabBytes_ = bytes + kHugePage;
  const std::size_t skip = (kHugePage - reinterpret_cast<std::uintptr_t>(slab_) % kHugePage) % kHugePage;
  ::madvise(slab_ + skip, bytes, MADV_HUGEPAGE);
  spare_.reserve(capacity_);
  // Taken from the back: the first blocks used are the slab's first.
  for (std::size_t i = capacity_; i-- > 0;) spare_.push_back(new (slab_ + skip + i * kBlockSize) Block);
}

BlockStore::~BlockStore() {
  index_.clear();
  order_.clear();
  // Every block is back and wiped once the cache lets go of it (the store outlives its readers).
  if (slab_ != nullptr) ::munmap(slab_, slabBytes_);
}

BlockStore::BlockRef BlockStore::makeBlock() {
  Block* block = nullptr;
  {
    std::lock_guard<std::mutex> guard(spareLock_);
    if (!spare_.empty()) {
      block = spare_.back();
      spare_.pop_back();
    }
  }
  if (block == nullptr) block = new Block;
  return BlockRef(block, [this](const Block* used) { giveBack(const_cast<Block*>(used)); });
}

void BlockStore::giveBack(Block* block) {
  // A decrypted block is wiped before its memory is reused or goes back.
  secureWipe(block->data(), kBlockSize);
  const auto* at = reinterpret_cast<const std::uint8_t*>(block);
  if (slab_ != nullptr && at >= slab_ && at < slab_ + slabBytes_) {
    std::lock_guard<std::mutex> guard(spareLock_);
    return spare_.push_back(block);
  }
  delete block;
}

BlockStore::Order::iterator BlockStore::touch(std::uint32_t block) {
  auto found = index_.find(block);
  if (found == index_.end()) return order_.end();
  order_.splice(order_.end(), order_, found->second);
  return found->second;
}

void BlockStore::insertLocked(std::uint32_t block, BlockRef data) {
  auto it = touch(block);
  if (it != order_.end()) {
    it->data = std::move(data);
    return;
  }
  // Evict the least recently used blocks that are loaded; one being loaded stays.
  for (auto victim = order_.begin(); index_.size() >= capacity_ && victim != order_.end();) {
    if (victim->data == nullptr) {
      ++victim;
      continue;
    }
    index_.erase(victim->block);
    victim = order_.erase(victim);
  }
  order_.push_back(Entry{block, std::move(data)});
  index_[block] = std::prev(order_.end());
}

bool BlockStore::decrypt(std::uint32_t first, std::uint32_t count, std::uint8_t* out) const {
  return container_.decryptor().readBlocksUncached(first, count, out);
}

BlockStore::BlockRef BlockStore::get(std::uint32_t block) {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    auto it = touch(block);
    if (it == order_.end()) break;
    if (it->data != nullptr) return it->data;
    loaded_.wait(guard);  // another thread is loading it
  }
  // Marked as being loaded, so that others wait rather than decrypt it again.
  insertLocked(block, nullptr);
  guard.unlock();

  BlockRef data = makeBlock();
  const bool ok = decrypt(block, 1, const_cast<Block&>(*data).data());

  guard.lock();
  if (ok) {
    insertLocked(block, data);
  } else if (auto found = index_.find(block); found != index_.end() && found->second->data == nullptr) {
    order_.erase(found->second);
    index_.erase(found);
  }
  loaded_.notify_all();
  return ok ? data : nullptr;
}

void BlockStore::forget(std::uint32_t block) {
  BlockRef data;  // let go of after the lock: the last reference wipes the block
  std::lock_guard<std::mutex> guard(lock_);
  auto found = index_.find(block);
  if (found == index_.end() || found->second->data == nullptr) return;
  data = std::move(found->second->data);
  order_.erase(found->second);
  index_.erase(found);
}

void BlockStore::fetch(const Run* runs, std::size_t count) {
  thread_local std::vector<std::uint8_t> staging(kBatchBlocks * kBlockSize);
  std::unique_lock<std::mutex> guard(lock_);
  for (std::size_t i = 0; i < count; ++i) loadLocked(runs[i], guard, staging.data());
}

void BlockStore::loadLocked(Run run, std::unique_lock<std::mutex>& guard, std::uint8_t* staging) {
  // Never more at once than half the cache, so that what is loaded is not evicted before use.
  const auto batch =
      static_cast<std::uint32_t>(std::min<std::size_t>(kBatchBlocks, std::max<std::size_t>(capacity_ / 2, 1)));
  while (run.count > 0) {
    // Skip what is cached or being loaded; read the next stretch of missing blocks at once.
    if (index_.contains(run.first)) {
      ++run.first;
      --run.count;
      continue;
    }
    std::uint32_t n = 1;
    while (n < std::min(run.count, batch) && !index_.contains(run.first + n)) ++n;
    for (std::uint32_t i = 0; i < n; ++i) insertLocked(run.first + i, nullptr);
    guard.unlock();
    // One read for the stretch, each block decrypted straight into its cache slot.
    std::array<BlockRef, kBatchBlocks> blocks;
    bool ok = container_.archiveFile().readStoredBlocks(run.first, std::uint64_t{n} * kBlockSize, staging);
    for (std::uint32_t i = 0; ok && i < n; ++i) {
      blocks[i] = makeBlock();
      ok = container_.decryptor().decryptStoredBlock(staging + std::uint64_t{i} * kBlockSize,
                                                     const_cast<Block&>(*blocks[i]).data(), kBlockSize, run.first + i);
    }
    guard.lock();
    // The whole stretch handed over under one lock, and one wake-up for whoever waits on it.
    for (std::uint32_t i = 0; i < n; ++i) {
      auto found = index_.find(run.first + i);
      if (found == index_.end() || found->second->data != nullptr) continue;
      if (ok) {
        found->second->data = std::move(blocks[i]);
      } else {
        order_.erase(found->second);
        index_.erase(found);
      }
    }
    loaded_.notify_all();
    if (!ok) return;
    run.first += n;
    run.count -= n;
  }
}

}  // namespace sorvel::mount
