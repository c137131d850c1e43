#pragma once
// Reads and decrypts the content of many stored objects ahead of the one consuming it, on
// worker threads, while the caller writes what is ready. The work is cut into batches of
// consecutive blocks; each batch lands in one of a fixed number of slots, so memory stays
// bounded whatever the sizes. Batches are handed out strictly in order.
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
  struct Batch {
    std::size_t job;
    std::uint32_t firstBlock;
    std::uint32_t blockCount;
    std::uint32_t bytes;  // of the decrypted blocks, those wanted
  };
  struct Slot {
    // 2*i: free for batch i; 2*i+1: batch i is ready; kStopped: shutting down.
    std::atomic<std::uint64_t> ticket{0};
    bool failed = false;
    Bytes data;
  };
  class JobSource;

  void work();
  void fill(std::size_t batchIndex);
  // Waits for the next batch in order; null when the pipeline has run out of batches.
  Slot* awaitBatch(std::size_t batchIndex);
  void releaseBatch(std::size_t batchIndex);
  void dropUpTo(std::size_t job);

  ContainerFile& container_;
  std::vector<std::uint64_t> expected_;  // per job
  std::vector<Batch> batches_;
  std::vector<Slot> slots_;
  std::atomic<std::size_t> nextToClaim_{0};
  std::atomic<bool> stopping_{false};
  std::size_t nextToConsume_ = 0;
  std::vector<std::thread> workers_;
  std::unique_ptr<JobSource> current_;
};

}  // namespace sorvel
