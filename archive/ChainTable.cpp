#include "archive/ChainTable.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/ByteOrder.h"

namespace sorvel {

void ChainTable::resizeChainTable(std::uint32_t count) {
  chainTable_.resize(count, kFreeBlock);
  visitedBy_.clear();
  file_.setDataStart(kChainTableOffset + 4 * std::uint64_t{count});
}

void ChainTable::loadChainTable() {
  // An empty table has no storage to read into (and a key block may well claim 0 entries).
  if (!file_.isOpen() || chainTable_.empty()) return;
  // The table is read straight into its own storage, then decoded entry by entry in place.
  auto* bytes = reinterpret_cast<std::uint8_t*>(chainTable_.data());
  const std::size_t length = chainTable_.size() * 4;
  const std::size_t got = file_.file().readAt(kChainTableOffset, bytes, length);
  std::memset(bytes + got, 0, length - got);
  for (std::size_t i = 0; i < chainTable_.size(); ++i) chainTable_[i] = loadU32(bytes + 4 * i);
}

std::uint32_t ChainTable::startWalk() {
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

ChainTable::ContentChain ChainTable::planContent(std::uint32_t firstBlock, std::uint64_t wanted,
                                                 std::vector<bool>& claimed) {
  ContentChain plan;
  if (wanted == 0) return plan;
  const std::size_t tableSize = chainTable_.size();
  plan.end = ContentEnd::Short;
  if (firstBlock < kFirstDataBlock || firstBlock >= tableSize || chainTable_[firstBlock] == kFreeBlock) return plan;
  if (claimed.size() != tableSize) claimed.resize(tableSize, false);

  // Blocks from this one on are not in the file at all.
  const std::uint64_t firstPastEnd = file_.firstBlockPastEnd();
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

std::uint64_t ChainTable::chainExtents(std::uint32_t firstBlock, ExtentList& out) {
  out.clear();
  const std::size_t tableSize = chainTable_.size();
  // No chain begins below the first data block: entries 0 and 1 describe no block of data.
  if (firstBlock < kFirstDataBlock || firstBlock >= tableSize || chainTable_[firstBlock] == kFreeBlock) return 0;

  const std::uint32_t walk = startWalk();

  auto runBytes = [](const Extent& run) { return (std::uint64_t{run.last} - run.first + 1) * kBlockSize; };
  std::uint32_t cur = firstBlock;
  Extent run{cur, cur};
  std::uint64_t total = 0;
  for (bool first = true;; first = false) {
    if (visitedBy_[cur] == walk) {  // the chain loops
      out.clear();
      return 0;
    }
    visitedBy_[cur] = walk;
    if (!first && cur == run.last + std::uint64_t{1}) {
      run.last = cur;
    } else if (!first) {
      out.push_back(run);
      total += runBytes(run);
      run = Extent{cur, cur};
    }
    const std::uint32_t next = chainTable_[cur];
    if (next == kEndOfChain) {
      out.push_back(run);
      return total + runBytes(run);
    }
    cur = next;
    if (cur >= tableSize) {  // names a block the table does not have
      out.clear();
      return 0;
    }
    if (chainTable_[cur] == kFreeBlock) return total;
  }
}

std::uint64_t ChainTable::storedPrefix(ExtentList& extents) const {
  const std::uint64_t firstPastEnd = file_.firstBlockPastEnd();
  if (firstPastEnd == kFirstDataBlock) {
    extents.clear();
    return 0;
  }
  const std::uint64_t lastStored = firstPastEnd - 1;
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

}  // namespace sorvel
