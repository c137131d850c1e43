#pragma once
// The reader of one file's content on the calling thread: the bytes in order, a run of blocks at
// a time, without holding the whole file, so content of any size streams through a small
// buffer. Content blocks are read once, so they bypass the block cache and leave the
// directories in it. Many files' content is read ahead on worker threads by ContentPipeline.
#include <cstdint>
#include <vector>

#include "archive/ContainerFile.h"
#include "archive/ContentSource.h"
#include "base/PlaintextBuffer.h"

namespace sorvel {

class ContentReader final : public ContentSource {
 public:
  // The first `wanted` bytes of the chain that starts at `firstBlock`, planned as
  // ChainTable::planContent does: blocks flagged in `claimed` (one flag per chain-table entry,
  // none when empty) and blocks the file does not store end it.
  ContentReader(ContainerFile& container, std::uint32_t firstBlock, std::uint64_t wanted,
                std::vector<bool> claimed = {});
  ~ContentReader() override;
  ContentReader(const ContentReader&) = delete;
  ContentReader& operator=(const ContentReader&) = delete;

  // What the chain's blocks can deliver of the wanted bytes: less than wanted for a chain that
  // is too short, 0 for one that is free or broken.
  std::uint64_t expected() const override { return limit_; }
  ChainTable::ContentEnd end() const override { return end_; }
  void abandon() override { failed_ = true; }
  std::uint64_t delivered() const override { return delivered_; }
  // True once a block failed to read: the bytes delivered are then all there is.
  bool failed() const { return failed_; }

  // The next bytes, at most `maxBytes`, which must hold at least one block or all that remains;
  // 0 at the end or after a failure.
  std::size_t read(std::uint8_t* dst, std::size_t maxBytes);
  // The next piece through a buffer of the reader's own.
  Piece next() override;

 private:
  ContainerFile& container_;
  ExtentList extents_;
  std::size_t extentIndex_ = 0;
  std::uint64_t blockInExtent_ = 0;
  std::uint64_t limit_ = 0;
  ChainTable::ContentEnd end_ = ChainTable::ContentEnd::Whole;
  std::uint64_t delivered_ = 0;
  bool failed_ = false;
  PlaintextBuffer tail_;    // the last, partly wanted block
  PlaintextBuffer buffer_;  // for next(): a run of blocks, or the whole content when shorter
};

}  // namespace sorvel
