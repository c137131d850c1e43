#pragma once
// Reads and decrypts the content of many stored objects ahead of the one consuming it, on
// worker threads, while the caller writes what is ready. A reader that would wait for a batch
// fills the next one itself where its slot is free, so the caller's thread is one of the workers
// whenever it has nothing to write. The work is cut into batches of up to
// `blocksPerBatch` blocks; each batch lands in one of a fixed number of slots, so memory stays
// bounded whatever the sizes. A slot's buffer grows to the largest batch it has held, so a
// small archive allocates only what its content needs. A large object spans many batches, and
// many small objects share one, so that threads hand over work per batch, not per object.
// Batches are planned and handed out strictly in order, each as a worker reaches it: an
// object's chain is walked only when the batches before it are planned, so the plan never runs
// more than a few batches ahead of the consumers.
//
// Content is taken by one consumer (`job`) or by several `Reader`s, each over its own runs of
// consecutive jobs, taken in increasing order. A slot is filled again once every job with
// content in its batch has been taken or dropped; the reader holding the earliest job not yet
// taken can always go on, so readers never wait on one another in a circle.
//
// Chains are planned as ChainTable::planContent does, in job order: no block is given to
// two jobs, and blocks the file does not store end a job.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/ContainerFile.h"
#include "archive/ContentSource.h"
#include "base/PlaintextBuffer.h"

namespace sorvel {

class ContentPipeline {
 public:
  struct Job {
    std::uint32_t firstBlock = 0;
    std::uint64_t wanted = 0;  // bytes of the chain the caller wants (a file's size)
    // The job's blocks are only claimed, never read: an object that is not written (an item
    // detail file) but whose blocks no later job may have. job() must not be asked for it.
    bool claimOnly = false;
  };
  struct Options {
    unsigned workers = 0;  // 0: one per core but one (the readers fill batches too)
    std::size_t slots = 8;
    std::uint32_t blocksPerBatch = 64;
    // How a worker thread is started (empty: as a std::thread); tests substitute it to see a
    // start fail.
    std::function<std::thread(std::function<void()> body)> startThread = {};
  };

  // Starts the workers. A worker that cannot start leaves the work to those that did; where
  // none did, the readers fill the batches themselves as they reach them. `claimed` flags blocks no job may have (one
  // flag per chain-table entry; empty: none). The container must stay open and unchanged until the pipeline is gone,
  // and walks no other chains meanwhile: the workers walk the jobs' chains on it.
  ContentPipeline(ContainerFile& container, std::vector<Job> jobs, Options options, std::vector<bool> claimed = {});
  ~ContentPipeline();
  ContentPipeline(const ContentPipeline&) = delete;
  ContentPipeline& operator=(const ContentPipeline&) = delete;

  class Reader;

  // The content of job `index`, for a single consumer of every job. Jobs are taken in
  // increasing order; what an earlier job left unread is dropped. The source is valid until the
  // next call.
  ContentSource& job(std::size_t index);

  // Blocks read and decrypted so far, by all workers.
  std::uint64_t blocksRead() const { return blocksRead_.load(); }

 private:
  // Consecutive blocks of one job, placed in its batch's slot at `offset`. Every job that is
  // read starts with a segment of no blocks that tells what its chain holds.
  struct Segment {
    std::size_t job;
    std::uint32_t firstBlock;
    std::uint32_t blockCount;
    std::uint32_t bytes;   // of the decrypted blocks, those wanted
    std::uint32_t offset;  // in the slot
    bool lastOfJob;
    ChainTable::ContentEnd end;  // first segment of a job: how its chain ends
    std::uint64_t expected;      // first segment of a job: what its chain holds
  };
  struct Slot {
    // For the slot's g-th batch: 2*g free to fill, 2*g+1 ready; kStopped: shutting down.
    // Guarded by `lock`; every change is announced on `changed`. (A mutex and a condition
    // variable rather than atomic wait and notify, which some standard libraries implement
    // without a futex and can then lose a wake-up.)
    std::mutex lock;
    std::condition_variable changed;
    std::uint32_t ticket = 0;
    PlaintextBuffer data;
    // The batch in the slot, and per segment whether it failed (or was skipped); written by the
    // batch's worker before it is ready.
    std::vector<Segment> segments;
    std::vector<std::uint8_t> failed;
    // Jobs of the batch whose reader has not left it yet; the last one to leave frees the slot.
    std::atomic<std::uint32_t> pending{0};
  };
  // The planner's place in the jobs.
  struct PlanState {
    std::size_t job = 0;
    bool started = false;  // the job's first segment is planned
    ChainTable::ContentChain chain;
    std::size_t extent = 0;
    std::uint64_t blockInExtent = 0;
    std::uint64_t planned = 0;
  };
  class JobSource;
  friend class Reader;

  static std::uint64_t lastBlockStart(const Segment& segment) {
    return std::uint64_t{segment.blockCount - 1} * kBlockSize;
  }
  static std::size_t lastBlockBytes(const Segment& segment) {
    return static_cast<std::size_t>(segment.bytes - lastBlockStart(segment));
  }
  // Where the segment's decrypted bytes end in the slot.
  static std::uint64_t writtenEnd(const Segment& segment) {
    return segment.offset + lastBlockStart(segment) + BlockDecryptor::decryptedLength(lastBlockBytes(segment));
  }

  bool planBatch(std::vector<Segment>& out);
  bool abandoned(std::size_t job) const { return abandoned_[job].load(std::memory_order_relaxed); }
  void abandon(std::size_t job) { abandoned_[job].store(true, std::memory_order_relaxed); }
  bool decryptSegment(const Segment& segment, std::uint8_t* slotData) const;
  void work();
  void fill(std::size_t batchIndex, std::vector<Segment>& plan);
  void readAndDecrypt(Slot& slot);
  // Fills the batch for a reader: where memory runs out, the batch's content fails and the
  // reader goes on.
  void fillOnReader(std::size_t batchIndex, std::vector<Segment>& plan);
  static void setTicket(Slot& slot, std::uint32_t ticket);
  // Waits until the slot's ticket is `wanted` (true) or kStopped (false).
  static bool awaitTicket(Slot& slot, std::uint32_t wanted);
  Slot& slotOf(std::size_t batchIndex) { return slots_[batchIndex % slots_.size()]; }
  std::uint32_t freeTicket(std::size_t batchIndex) const {
    return static_cast<std::uint32_t>(2 * (batchIndex / slots_.size()));
  }
  // Where job `job`'s first segment lies: the batch, once planned, and then ready.
  std::size_t firstBatchOf(std::size_t job);
  // Waits until the batch is ready; meanwhile, where workers fill batches, fills the next one
  // itself whenever its slot is free, so that a reader with nothing to take does their work.
  void awaitReady(std::size_t batchIndex);
  // Plans the next batch and fills it on the calling thread, where its slot is free; false when
  // the slot is held or nothing is left to plan. Never waits for a slot.
  bool fillNextIfFree();
  bool slotFree(std::size_t batchIndex);  // free to fill with this batch
  bool ready(std::size_t batchIndex);
  // Plans and fills batches on the calling thread until `planned` holds (checked under
  // planLock_), whether a worker or this thread plans them. A batch is only taken once its slot
  // is free, so filling never waits; while the next slot is held, this waits for it to change
  // (its readers leave it, or a worker fills it). Waiting on the planner instead would miss the
  // slot being freed, and with every worker busy elsewhere nobody would plan the batch.
  void fillUntil(const std::function<bool()>& planned);
  // One job of the batch is done with it; the last one frees the slot for a later batch.
  void leave(std::size_t batchIndex);

  ContainerFile& container_;
  std::vector<Job> jobs_;
  std::uint32_t blocksPerBatch_;
  std::vector<Slot> slots_;

  std::mutex planLock_;  // guards the planner: plan_, claimed_, nextBatch_, firstBatch_, jobsStarted_
  PlanState plan_;
  std::vector<bool> claimed_;
  std::size_t nextBatch_ = 0;
  std::vector<std::uint32_t> firstBatch_;  // per job: the batch of its first segment (tickets count in 32 bits too)
  // Jobs below have their first segment planned; once seen under the lock, their firstBatch_ may
  // be read without it (it is written once).
  std::size_t jobsStarted_ = 0;

  std::unique_ptr<std::atomic<bool>[]> abandoned_;  // per job: its reader gave it up
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> blocksRead_{0};
  std::vector<std::thread> workers_;
  std::unique_ptr<Reader> single_;  // the consumer of `job`
};

// Takes the content of the jobs [first, end) in increasing order, on one thread; other readers
// may take other jobs at the same time. A job passed over, and what a job left unread, is
// dropped; so is whatever is left when the reader finishes or goes.
class ContentPipeline::Reader {
 public:
  Reader(ContentPipeline& pipeline, std::size_t first, std::size_t end);
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // The content of job `index` (within the reader's jobs, not below one taken before). The
  // source is valid until the next call.
  ContentSource& job(std::size_t index);
  // Drops the rest of the reader's jobs; nothing is held after it.
  void finish();

 private:
  friend class JobSource;
  // The segment at the reader's position in its open job, its batch held.
  const Segment& current();
  bool currentFailed() const { return pipeline_.slotOf(batch_).failed[segment_] != 0; }
  const std::uint8_t* currentData(const Segment& segment) const {
    return pipeline_.slotOf(batch_).data.data() + segment.offset;
  }
  // Passes the segment at the position; true when it was the open job's last.
  bool advance();
  void open(std::size_t job);
  void close();  // drops what the open job left and leaves its batch
  void drop(std::size_t job);

  ContentPipeline& pipeline_;
  std::size_t next_;  // the first job not yet opened
  std::size_t end_;
  std::size_t open_ = SIZE_MAX;
  bool openDone_ = true;          // the open job's last segment is passed
  std::size_t batch_ = SIZE_MAX;  // held
  std::size_t segment_ = 0;
  std::unique_ptr<JobSource> source_;
};

}  // namespace sorvel
