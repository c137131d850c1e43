#include "archive/ContainerFile.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/ByteOrder.h"

namespace sorvel {

ContainerFile::ContainerFile(std::size_t cacheCapacity) : cache_(cacheCapacity) {}

ContainerFile::~ContainerFile() {
  secureWipe(keyBlock_.data(), keyBlock_.size());
}

bool ContainerFile::openFile(const std::string& path) {
  ReadOnlyFile file;
  if (!file.open(path)) return false;
  return adoptFile(std::move(file));
}

bool ContainerFile::adoptFile(ReadOnlyFile file) {
  file_ = std::move(file);
  fileSize_ = file_.size().value_or(0);
  return file_.isOpen();
}

void ContainerFile::closeFile() {
  file_.close();
  fileSize_ = 0;
}

void ContainerFile::resetCopies() {
  header_.fill(0);
  secureWipe(keyBlock_.data(), keyBlock_.size());
}

bool ContainerFile::readHeader(std::uint8_t* out) {
  if (headerStale_ && isOpen()) {
    file_.readAt(0, header_.data(), header_.size());
    headerStale_ = false;
  }
  std::memcpy(out, header_.data(), header_.size());
  return true;
}

bool ContainerFile::loadKeyBlock() {
  if (!isOpen()) return true;
  std::array<std::uint8_t, kKeyBlockSize> stored{};
  file_.readAt(kKeyBlockOffset, stored.data(), stored.size());
  auto plain = keyBlockCipher.decrypt(stored.data(), stored.size(), 0);
  if (!plain) return false;
  std::memcpy(keyBlock_.data(), plain->data(), keyBlock_.size());
  secureWipe(*plain);
  return true;
}

void ContainerFile::resizeChainTable(std::uint32_t count) {
  chainTable_.resize(count, kFreeBlock);
  visitedBy_.clear();
}

void ContainerFile::loadChainTable() {
  // An empty table has no storage to read into (and a key block may well claim 0 entries).
  if (!isOpen() || chainTable_.empty()) return;
  // The table is read straight into its own storage, then decoded entry by entry in place.
  auto* bytes = reinterpret_cast<std::uint8_t*>(chainTable_.data());
  const std::size_t length = chainTable_.size() * 4;
  const std::size_t got = file_.readAt(kChainTableOffset, bytes, length);
  std::memset(bytes + got, 0, length - got);
  for (std::size_t i = 0; i < chainTable_.size(); ++i) chainTable_[i] = loadU32(bytes + 4 * i);
  tableStale_ = false;
}

std::uint32_t ContainerFile::startWalk() {
  if (visitedBy_.size() != chainTable_.size()) {
    visitedBy_.assign(chainTable_.size(), 0);
    walkNumber_ = 0;
  }
  if (++walkNumber_ == 0) {
    std::fill(visitedBy_.begin(), visitedBy_.end(), 0);
    walkNumber_ = 1;
  }
  return walkNumber_;
}

ContainerFile::ContentChain ContainerFile::planContent(std::uint32_t firstBlock, std::uint64_t wanted,
                                                       std::vector<bool>& claimed) {
  ContentChain plan;
  if (wanted == 0) return plan;
  if (tableStale_) loadChainTable();
  const std::size_t tableSize = chainTable_.size();
  plan.end = ContentEnd::Short;
  if (firstBlock < kFirstDataBlock || firstBlock >= tableSize || chainTable_[firstBlock] == kFreeBlock) return plan;
  if (claimed.size() != tableSize) claimed.resize(tableSize, false);

  // Blocks from this one on are not in the file at all.
  const std::uint64_t firstPastEnd =
      fileSize_ <= dataStart() ? kFirstDataBlock : (fileSize_ - dataStart() - 1) / kBlockSize + kFirstDataBlock + 1;
  // The whole chain is walked, as chainExtents does (a loop or a block outside the table
  // anywhere makes it broken; a free entry drops the run it ends), but it stops at the first
  // block the file does not store or another object holds. Each block it passes is claimed, so
  // all walks together pass each block of the table at most once.
  const std::uint32_t walk = startWalk();
  std::uint32_t cur = firstBlock;
  auto broken = [&plan] {
    plan.extents.clear();
    plan.end = ContentEnd::Broken;
    return std::move(plan);
  };
  for (;;) {
    if (visitedBy_[cur] == walk) return broken();  // the chain loops
    if (claimed[cur]) {
      plan.end = ContentEnd::Claimed;
      break;
    }
    if (cur >= firstPastEnd) {
      plan.end = ContentEnd::Missing;
      break;
    }
    visitedBy_[cur] = walk;
    claimed[cur] = true;
    if (!plan.extents.empty() && plan.extents.back().last + std::uint64_t{1} == cur) {
      plan.extents.back().last = cur;
    } else {
      plan.extents.push_back(Extent{cur, cur});
    }
    const std::uint32_t next = chainTable_[cur];
    if (next == kEndOfChain) break;
    if (next >= tableSize) return broken();  // names a block the table does not have
    if (chainTable_[next] == kFreeBlock) {
      plan.extents.pop_back();  // only the runs closed before a free entry count
      break;
    }
    cur = next;
  }

  // Of what the chain holds, the blocks of the wanted bytes.
  const std::uint64_t blocksWanted = (wanted - 1) / kBlockSize + 1;
  std::uint64_t taken = 0;
  for (std::size_t i = 0; i < plan.extents.size(); ++i) {
    Extent& e = plan.extents[i];
    if (taken + e.blockCount() >= blocksWanted) {
      e.last = static_cast<std::uint32_t>(e.first + (blocksWanted - taken) - 1);
      plan.extents.resize(i + 1);
      plan.end = ContentEnd::Whole;
      taken = blocksWanted;
      break;
    }
    taken += e.blockCount();
  }
  plan.bytes = std::min(wanted, taken * kBlockSize);
  return plan;
}

std::uint64_t ContainerFile::chainExtents(std::uint32_t firstBlock, ExtentList& out) {
  out.clear();
  if (tableStale_) loadChainTable();
  const std::size_t tableSize = chainTable_.size();
  if (firstBlock >= tableSize || chainTable_[firstBlock] == kFreeBlock) return 0;

  const std::uint32_t walk = startWalk();

  auto runBytes = [](const Extent& run) { return (std::uint64_t{run.last} - run.first + 1) * kBlockSize; };
  std::uint32_t cur = firstBlock;
  std::uint64_t prev = 0;
  Extent run{};
  std::uint64_t total = 0;
  for (;;) {
    if (visitedBy_[cur] == walk) {  // the chain loops
      out.clear();
      return 0;
    }
    visitedBy_[cur] = walk;
    if (cur == prev + 1) {
      run.last = cur;
    } else {
      if (run.first != 0) {
        out.push_back(run);
        total += runBytes(run);
      }
      run = Extent{cur, cur};
    }
    const std::uint32_t next = chainTable_[cur];
    if (next == kEndOfChain) {
      out.push_back(run);
      return total + runBytes(run);
    }
    prev = cur;
    cur = next;
    if (cur >= tableSize) {  // names a block the table does not have
      out.clear();
      return 0;
    }
    if (chainTable_[cur] == kFreeBlock) return total;
  }
}

std::uint64_t ContainerFile::storedPrefix(ExtentList& extents) const {
  if (fileSize_ <= dataStart()) {
    extents.clear();
    return 0;
  }
  const std::uint64_t lastStored = (fileSize_ - dataStart() - 1) / kBlockSize + kFirstDataBlock;
  std::size_t kept = 0;
  for (; kept < extents.size(); ++kept) {
    Extent& e = extents[kept];
    if (e.blockCount() == 0) continue;
    if (e.first > lastStored) break;
    if (e.last > lastStored) {
      e.last = static_cast<std::uint32_t>(lastStored);
      ++kept;
      break;
    }
  }
  extents.resize(kept);
  return capacityOf(extents);
}

bool ContainerFile::readBlock(std::uint32_t block, std::uint8_t* dst) {
  const BlockCache::Block* data = cachedBlock(block);
  if (data == nullptr) return false;
  std::memcpy(dst, data->data(), kBlockSize);
  return true;
}

const BlockCache::Block* ContainerFile::cachedBlock(std::uint32_t block) {
  if (const BlockCache::Block* hit = cache_.find(block)) return hit;
  if (!loadBlock(block)) return nullptr;
  return cache_.find(block);
}

bool ContainerFile::loadBlock(std::uint32_t block) {
  if (!isOpen() || block < kFirstDataBlock) return false;
  std::array<std::uint8_t, kBlockSize> stored{};
  file_.readAt(blockOffset(block), stored.data(), stored.size());
  BlockCache::Block& slot = cache_.insert(block);
  ++blockDecryptions_;
  if (!dataCipher.decryptInto(stored.data(), slot.data(), kBlockSize, block)) {
    cache_.remove(block);
    return false;
  }
  return true;
}

std::size_t ContainerFile::decryptedLength(std::size_t wanted) {
  constexpr std::size_t kUnit = 16;
  if (wanted == 0 || wanted >= kBlockSize) return kBlockSize;
  return (wanted + kUnit - 1) / kUnit * kUnit;
}

bool ContainerFile::readStoredBlocks(std::uint32_t first, std::uint64_t length, std::uint8_t* stored) const {
  if (!isOpen() || first < kFirstDataBlock) return false;
  if (first + (length + kBlockSize - 1) / kBlockSize > std::uint64_t{UINT32_MAX} + 1) return false;
  const std::size_t got = file_.readAt(blockOffset(first), stored, length);
  std::memset(stored + got, 0, length - got);
  return true;
}

bool ContainerFile::decryptStoredBlock(const std::uint8_t* stored, std::uint8_t* dst, std::size_t wanted,
                                       std::uint32_t block) const {
  return dataCipher.decryptInto(stored, dst, decryptedLength(wanted), block);
}

bool ContainerFile::readBlocksUncached(std::uint32_t first, std::uint32_t count, std::uint8_t* dst,
                                       std::size_t lastBlockBytes) const {
  if (count == 0) return isOpen() && first >= kFirstDataBlock;
  // Read straight into place and decrypted there: no staging copy.
  const std::uint64_t length = std::uint64_t{count - 1} * kBlockSize + decryptedLength(lastBlockBytes);
  if (!readStoredBlocks(first, length, dst)) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t* block = dst + std::uint64_t{i} * kBlockSize;
    if (!decryptStoredBlock(block, block, i + 1 == count ? lastBlockBytes : kBlockSize, first + i)) return false;
  }
  return true;
}

}  // namespace sorvel
