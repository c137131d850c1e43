#pragma once
// Reads and decrypts the content of many stored objects ahead of the one consuming it, on
// worker threads, while the caller writes what is ready. The work is cut into batches of up to
// `blocksPerBatch` blocks; each batch lands in one of a fixed number of slots, so memory stays
// bounded whatever the sizes. A large object spans many batches, and many small objects share
// one, so that threads hand over work per batch, not per object. Batches are handed out
// strictly in order.
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "archive/ContainerFile.h"
#include "archive/ContentSource.h"

namespace sorvel {

class ContentPipeline {
 public:
  struct Job {
    std::uint32_t firstBlock = 0;
    std::uint64_t wanted = 0;  // bytes of the chain the caller wants (a file's size)
  };
  struct Options {
    unsigned workers = 0;           // 0: one per core
    std::size_t slots = 8;
    std::uint32_t blocksPerBatch = 64;
  };

  // Walks every job's chain at once (on the calling thread), then starts the workers. The
  // container must stay open and unchanged until the pipeline is gone.
  ContentPipeline(ContainerFile& container, const std::vector<Job>& jobs, Options options);
  ~ContentPipeline();
  ContentPipeline(const ContentPipeline&) = delete;
  ContentPipeline& operator=(const ContentPipeline&) = delete;

  // The content of job `index`. Jobs are taken in increasing order; what an earlier job left
  // unread is dropped. The source is valid until the next call.
  ContentSource& job(std::size_t index);

 private:
  // Consecutive blocks of one job, placed in its batch's slot at `offset`.
  struct Segment {
    std::size_t job;
    std::size_t batch;
    std::uint32_t firstBlock;
    std::uint32_t blockCount;
    std::uint32_t bytes;   // of the decrypted blocks, those wanted
    std::uint32_t offset;  // in the slot
  };
  struct Batch {
    std::size_t firstSegment;
    std::size_t endSegment;
  };
  struct Slot {
    // For the slot's g-th batch: 2*g free to fill, 2*g+1 ready; kStopped: shutting down.
    // 32 bits, so that waiting and waking go straight to the futex.
    std::atomic<std::uint32_t> ticket{0};
    Bytes data;
  };
  class JobSource;

  static std::uint64_t lastBlockStart(const Segment& segment) {
    return std::uint64_t{segment.blockCount - 1} * kBlockSize;
  }
  static std::size_t lastBlockBytes(const Segment& segment) {
    return static_cast<std::size_t>(segment.bytes - lastBlockStart(segment));
  }

  void plan(const std::vector<Job>& jobs, std::uint32_t blocksPerBatch);
  bool decryptSegment(const Segment& segment, std::uint8_t* slotData) const;
  void work();
  void fill(std::size_t batchIndex);
  Slot& slotOf(std::size_t batchIndex) { return slots_[batchIndex % slots_.size()]; }
  std::uint32_t freeTicket(std::size_t batchIndex) const {
    return static_cast<std::uint32_t>(2 * (batchIndex / slots_.size()));
  }
  // Moves the consumer to the batch of segment `index`, releasing the one it held.
  const Slot& holdBatchOf(std::size_t segmentIndex);
  void releaseHeld();
  void dropUpTo(std::size_t job);

  ContainerFile& container_;
  std::vector<std::uint64_t> expected_;  // per job
  std::vector<Segment> segments_;
  std::vector<std::uint8_t> segmentFailed_;  // written by the batch's worker before it is ready
  std::vector<Batch> batches_;
  std::vector<Slot> slots_;
  std::atomic<std::size_t> nextToClaim_{0};
  std::atomic<bool> stopping_{false};
  std::size_t nextSegment_ = 0;  // the consumer's position
  std::size_t heldBatch_ = SIZE_MAX;
  std::vector<std::thread> workers_;
  std::unique_ptr<JobSource> current_;
};

}  // namespace sorvel
