#pragma once
// The chain table: one entry per block number, linking the data blocks into chains, and the
// walks over it that turn a chain into extents. Every walk refuses a chain that loops or names a
// block outside the table.
#include <cstdint>
#include <vector>

#include "archive/ArchiveFile.h"
#include "archive/Extent.h"

namespace sorvel {

// The chain table: one 32-bit entry per block number from this file offset on, the data blocks
// after it (docs/FORMAT.md, "Chain table" and "Blocks").
inline constexpr std::uint64_t kChainTableOffset = 1024;

// Chain table entries: 0 marks a free block, 1 the last block of a chain, anything else the next.
inline constexpr std::uint32_t kFreeBlock = 0;
inline constexpr std::uint32_t kEndOfChain = 1;

class ChainTable {
 public:
  // The table of `file`, which it tells where the data blocks begin.
  explicit ChainTable(ArchiveFile& file) : file_(file) {}

  // Makes room for `count` entries, all free, and moves the file's data start behind them.
  void resizeChainTable(std::uint32_t count);
  // Reads the entries from the file (free where it is shorter).
  void loadChainTable();
  std::size_t chainTableSize() const { return chainTable_.size(); }
  std::uint32_t chainEntry(std::uint32_t block) const { return block < chainTable_.size() ? chainTable_[block] : 0; }

  // The runs of the chain that starts at `firstBlock`, and their bytes. A chain that starts on a
  // free block or below the first data block gives nothing; one that reaches a free entry keeps only the runs closed
  // before it. A chain that names a block outside the table or comes back to a block it has passed is broken: nothing,
  // capacity 0.
  std::uint64_t chainExtents(std::uint32_t firstBlock, ExtentList& out);

  // How a file's content chain was planned by planContent: where its blocks stop short of the
  // wanted bytes, and why.
  enum class ContentEnd {
    Whole,    // every wanted byte has a block
    Short,    // the chain ends (or reaches a free entry) first
    Missing,  // the next block lies wholly past the end of the file: the file was cut off
    Claimed,  // the next block belongs to a directory or to an earlier file
    Broken,   // the chain names a block outside the table or comes back to one it passed
  };
  struct ContentChain {
    ExtentList extents;       // the blocks to read, in chain order
    std::uint64_t bytes = 0;  // of the wanted bytes, those the extents deliver (0 when broken)
    ContentEnd end = ContentEnd::Whole;
  };
  // The blocks of the chain at `firstBlock` that hold the first `wanted` bytes of a file, as
  // chainExtents would give them, except that the chain ends before the first
  // block that `claimed` flags or the file does not store at all. Every block the walk passes is
  // flagged, so no two files are ever given the same block. `claimed` has one flag per
  // chain-table entry.
  ContentChain planContent(std::uint32_t firstBlock, std::uint64_t wanted, std::vector<bool>& claimed);

  // Cuts the extents before the first block that lies wholly past the end of the file and
  // answers their capacity: the part of a chain whose bytes the file actually stores.
  std::uint64_t storedPrefix(ExtentList& extents) const;

 private:
  std::uint32_t startWalk();

  ArchiveFile& file_;
  std::vector<std::uint32_t> chainTable_;
  // Per block, the walk that last passed it: finds loops without clearing a table per walk.
  std::vector<std::uint32_t> visitedBy_;
  std::uint32_t walkNumber_ = 0;
};

}  // namespace sorvel
