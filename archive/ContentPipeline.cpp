#include "archive/ContentPipeline.h"

#include <algorithm>
#include <exception>
#include <new>
#include <utility>

#include "platform/PrefaultMemory.h"

namespace sorvel {
namespace {

constexpr std::uint32_t kStopped = UINT32_MAX;
// Keeps a slot's offsets within 32 bits.
constexpr std::uint32_t kMaxBlocksPerBatch = 65536;
// Many empty or tiny objects in a row share a batch up to this many segments.
constexpr std::size_t kMaxSegmentsPerBatch = 4096;

// One core is left to the readers: they fill batches too whenever they would otherwise wait, so
// every core stays busy without a thread more than there are cores. On one core, the reader alone
// does everything.
unsigned defaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores - 1;
}

}  // namespace

class ContentPipeline::JobSource final : public ContentSource {
 public:
  // Positioned on the job's first segment, which tells what its chain holds.
  JobSource(Reader& reader, std::size_t job) : reader_(reader), job_(job) {
    const Segment& first = reader_.current();
    expected_ = first.expected;
    end_ = first.end;
  }
  // A job that is not read: nothing to deliver.
  explicit JobSource(Reader& reader)
      : reader_(reader), job_(SIZE_MAX), end_(ChainTable::ContentEnd::Broken), done_(true) {}

  std::uint64_t expected() const override { return expected_; }
  ChainTable::ContentEnd end() const override { return end_; }
  std::uint64_t delivered() const override { return delivered_; }

  Piece next() override {
    while (!done_) {
      const Segment& segment = reader_.current();
      const bool failed = reader_.currentFailed();
      const std::uint8_t* data = reader_.currentData(segment);
      if (reader_.advance()) done_ = true;
      if (failed) break;
      if (segment.blockCount == 0) continue;
      delivered_ += segment.bytes;
      return {data, segment.bytes};
    }
    done_ = true;
    return {};
  }

  void abandon() override {
    done_ = true;
    if (job_ != SIZE_MAX) reader_.pipeline_.abandon(job_);
  }

 private:
  Reader& reader_;
  std::size_t job_;
  std::uint64_t expected_ = 0;
  ChainTable::ContentEnd end_ = ChainTable::ContentEnd::Whole;
  std::uint64_t delivered_ = 0;
  bool done_ = false;
};

ContentPipeline::ContentPipeline(ContainerFile& container, std::vector<Job> jobs, Options options,
                                 std::vector<bool> claimed)
    : container_(container),
      jobs_(std::move(jobs)),
      blocksPerBatch_(std::clamp<std::uint32_t>(options.blocksPerBatch, 1, kMaxBlocksPerBatch)),
      slots_(std::max<std::size_t>(options.slots, 1)),
      claimed_(std::move(claimed)),
      firstBatch_(jobs_.size(), UINT32_MAX),
      abandoned_(std::make_unique<std::atomic<bool>[]>(jobs_.size())) {
  for (Slot& slot : slots_) slot.failed.reserve(kMaxSegmentsPerBatch);
  const unsigned workers = options.workers == 0 ? defaultWorkers() : options.workers;
  workers_.reserve(workers);  // a started worker is never dropped by a vector that cannot grow
  try {
    for (unsigned w = 0; w < workers; ++w) {
      auto body = [this] { work(); };
      workers_.push_back(options.startThread ? options.startThread(body) : std::thread(body));
    }
  } catch (const std::exception&) {
    // The system has no thread left (or no memory for one): those that started do the work.
  }
}

ContentPipeline::~ContentPipeline() {
  single_.reset();
  stopping_.store(true);
  for (Slot& slot : slots_) setTicket(slot, kStopped);
  for (std::thread& worker : workers_) worker.join();
}

bool ContentPipeline::planBatch(std::vector<Segment>& out) {
  out.clear();
  PlanState& p = plan_;
  std::uint32_t used = 0;       // blocks of the batch
  std::uint32_t usedBytes = 0;  // of the slot: a block of which only a head is wanted takes only that head
  auto finishJob = [&p] {
    p.started = false;
    p.chain = {};
    ++p.job;
  };
  auto endSegment = [&](std::uint32_t offset) {
    return Segment{p.job, 0, 0, 0, offset, true, p.chain.end, p.chain.bytes};
  };
  while (out.size() < kMaxSegmentsPerBatch) {
    if (!p.started) {
      // Blocks that are only claimed take no room in a batch.
      while (p.job < jobs_.size() && jobs_[p.job].claimOnly) {
        container_.chainTable().planContent(jobs_[p.job].firstBlock, jobs_[p.job].wanted, claimed_);
        ++p.job;
      }
      if (p.job >= jobs_.size() || used == blocksPerBatch_) break;
      p.chain = container_.chainTable().planContent(jobs_[p.job].firstBlock, jobs_[p.job].wanted, claimed_);
      firstBatch_[p.job] = static_cast<std::uint32_t>(nextBatch_);  // its first segment goes into this batch
      jobsStarted_ = p.job + 1;
      p.extent = 0;
      p.blockInExtent = 0;
      p.planned = 0;
      p.started = true;
    }
    // A job with nothing to read, or one its reader gave up, ends with a segment of no blocks.
    if (p.chain.bytes == 0 || abandoned(p.job)) {
      out.push_back(endSegment(usedBytes));
      finishJob();
      continue;
    }
    if (used == blocksPerBatch_) break;
    const Extent& e = p.chain.extents[p.extent];
    const std::uint64_t count = std::min<std::uint64_t>(e.blockCount() - p.blockInExtent, blocksPerBatch_ - used);
    const std::uint64_t bytes = std::min(count * kBlockSize, p.chain.bytes - p.planned);
    const auto blocks = static_cast<std::uint32_t>((bytes + kBlockSize - 1) / kBlockSize);  // only wanted ones
    const bool last = p.planned + bytes == p.chain.bytes;
    out.push_back(Segment{p.job, static_cast<std::uint32_t>(e.first + p.blockInExtent), blocks,
                          static_cast<std::uint32_t>(bytes), usedBytes, last, p.chain.end, p.chain.bytes});
    used += blocks;
    usedBytes = static_cast<std::uint32_t>(writtenEnd(out.back()));
    p.planned += bytes;
    p.blockInExtent += blocks;
    if (p.blockInExtent == e.blockCount()) {
      ++p.extent;
      p.blockInExtent = 0;
    }
    if (last) finishJob();
  }
  return !out.empty();
}

void ContentPipeline::work() {
  std::vector<Segment> plan;
  for (;;) {
    std::size_t index;
    {
      std::lock_guard<std::mutex> lock(planLock_);
      if (stopping_.load() || !planBatch(plan)) return;
      index = nextBatch_++;
    }
    fill(index, plan);
  }
}

void ContentPipeline::fill(std::size_t batchIndex, std::vector<Segment>& plan) {
  Slot& slot = slotOf(batchIndex);
  const std::uint32_t free = freeTicket(batchIndex);
  if (stopping_.load() || !awaitTicket(slot, free)) return;
  slot.segments.swap(plan);
  const std::vector<Segment>& segments = slot.segments;
  slot.failed.assign(segments.size(), 0);  // within the capacity reserved at the start
  std::uint32_t jobsInBatch = 0;
  for (std::size_t s = 0; s < segments.size(); ++s) jobsInBatch += s == 0 || segments[s].job != segments[s - 1].job;
  slot.pending.store(jobsInBatch, std::memory_order_relaxed);
  try {
    readAndDecrypt(slot);
  } catch (...) {
    // Memory ran out: the batch is handed on with every segment failed, so that no reader waits
    // for it forever.
    std::fill(slot.failed.begin(), slot.failed.end(), 1);
    setTicket(slot, free + 1);
    throw;
  }
  setTicket(slot, free + 1);
}

void ContentPipeline::readAndDecrypt(Slot& slot) {
  const std::vector<Segment>& segments = slot.segments;
  // Blocks of a job its reader gave up are neither read nor decrypted.
  auto readable = [&](std::size_t s) { return segments[s].blockCount > 0 && !abandoned(segments[s].job); };
  // Room for what this batch writes, in whole blocks; a slot that must grow takes twice its
  // room at once (up to a full batch), so that growing stays rare.
  std::uint64_t needed = 0;
  for (const Segment& segment : segments) {
    if (segment.blockCount > 0) needed = std::max(needed, writtenEnd(segment));
  }
  const std::size_t fullBatch = std::size_t{blocksPerBatch_} * kBlockSize;
  const std::size_t oldCapacity = slot.data.capacity();
  std::uint8_t* const base =
      slot.data.reserve((needed + kBlockSize - 1) / kBlockSize * kBlockSize, std::min(2 * oldCapacity, fullBatch));
  if (slot.data.capacity() != oldCapacity) prefaultForWriting(base, slot.data.capacity());
  for (std::size_t s = 0; s < segments.size(); ++s) {
    if (segments[s].blockCount == 0) continue;
    if (!readable(s)) {
      slot.failed[s] = 1;
      continue;
    }
    // Segments that carry on each other's blocks (small files stored one after the other) are
    // read as one run, straight into the slot, and decrypted there segment by segment; the
    // empty segments of jobs without content in between take no room. A run ends after a block
    // of which only a head is wanted: the rest of it is neither read nor given room.
    std::size_t last = s;
    std::size_t end = s + 1;
    for (std::size_t k = s + 1; k < segments.size(); ++k) {
      if (segments[k].blockCount == 0) continue;
      if (!readable(k) ||
          segments[k].firstBlock != std::uint64_t{segments[last].firstBlock} + segments[last].blockCount ||
          segments[k].offset != segments[last].offset + std::uint64_t{segments[last].blockCount} * kBlockSize) {
        break;
      }
      last = k;
      end = k + 1;
    }
    const std::uint64_t runLength = writtenEnd(segments[last]) - segments[s].offset;
    const bool read =
        container_.archiveFile().readStoredBlocks(segments[s].firstBlock, runLength, base + segments[s].offset);
    slot.data.markWritten(static_cast<std::size_t>(segments[s].offset + runLength));
    for (std::size_t k = s; k < end; ++k) {
      if (segments[k].blockCount == 0) continue;
      slot.failed[k] = read && decryptSegment(segments[k], base) ? 0 : 1;
      blocksRead_.fetch_add(segments[k].blockCount, std::memory_order_relaxed);
    }
    s = end - 1;
  }
}

void ContentPipeline::fillOnReader(std::size_t batchIndex, std::vector<Segment>& plan) {
  try {
    fill(batchIndex, plan);
  } catch (const std::bad_alloc&) {
    // The batch went on as failed: its jobs' content ends there, as at a block that cannot be
    // read, and the reader goes on.
  }
}

void ContentPipeline::setTicket(Slot& slot, std::uint32_t ticket) {
  {
    std::lock_guard<std::mutex> hold(slot.lock);
    slot.ticket = ticket;
  }
  slot.changed.notify_all();
}

bool ContentPipeline::awaitTicket(Slot& slot, std::uint32_t wanted) {
  std::unique_lock<std::mutex> hold(slot.lock);
  slot.changed.wait(hold, [&] { return slot.ticket == wanted || slot.ticket == kStopped; });
  return slot.ticket == wanted;
}

bool ContentPipeline::decryptSegment(const Segment& segment, std::uint8_t* slotData) const {
  for (std::uint32_t i = 0; i < segment.blockCount; ++i) {
    std::uint8_t* block = slotData + segment.offset + std::uint64_t{i} * kBlockSize;
    const std::size_t wanted = i + 1 == segment.blockCount ? lastBlockBytes(segment) : kBlockSize;
    if (!container_.decryptor().decryptStoredBlock(block, block, wanted, segment.firstBlock + i)) return false;
  }
  return true;
}

void ContentPipeline::fillUntil(const std::function<bool()>& planned) {
  std::vector<Segment> plan;
  for (;;) {
    std::unique_lock<std::mutex> lock(planLock_);
    if (planned()) return;
    Slot& slot = slotOf(nextBatch_);
    std::unique_lock<std::mutex> hold(slot.lock);
    if (slot.ticket != freeTicket(nextBatch_)) {
      // Held by an earlier batch, still being filled or not yet left by all its readers.
      lock.unlock();
      const std::uint32_t held = slot.ticket;
      slot.changed.wait(hold, [&] { return slot.ticket != held; });
      continue;
    }
    hold.unlock();
    if (!planBatch(plan)) return;
    const std::size_t index = nextBatch_++;
    lock.unlock();
    fillOnReader(index, plan);
  }
}

bool ContentPipeline::fillNextIfFree() {
  std::vector<Segment> plan;
  std::size_t index;
  {
    std::lock_guard<std::mutex> lock(planLock_);
    if (stopping_.load() || !slotFree(nextBatch_) || !planBatch(plan)) return false;
    index = nextBatch_++;
  }
  fillOnReader(index, plan);
  return true;
}

bool ContentPipeline::slotFree(std::size_t batchIndex) {
  Slot& slot = slotOf(batchIndex);
  std::lock_guard<std::mutex> hold(slot.lock);
  return slot.ticket == freeTicket(batchIndex);
}

bool ContentPipeline::ready(std::size_t batchIndex) {
  Slot& slot = slotOf(batchIndex);
  std::lock_guard<std::mutex> hold(slot.lock);
  return slot.ticket == freeTicket(batchIndex) + 1;
}

void ContentPipeline::awaitReady(std::size_t batchIndex) {
  // Planned by a worker or here; then, while a worker fills it, this reader fills the batches
  // after it whose slots are free.
  fillUntil([&] { return nextBatch_ > batchIndex; });
  if (!workers_.empty()) {
    while (!ready(batchIndex) && fillNextIfFree()) {
    }
  }
  awaitTicket(slotOf(batchIndex), freeTicket(batchIndex) + 1);
}

std::size_t ContentPipeline::firstBatchOf(std::size_t job) {
  fillUntil([&] { return jobsStarted_ > job; });
  const std::size_t batch = firstBatch_[job];
  awaitReady(batch);  // only the destructor stops the slots, and not while a reader waits
  return batch;
}

void ContentPipeline::leave(std::size_t batchIndex) {
  Slot& slot = slotOf(batchIndex);
  if (slot.pending.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    setTicket(slot, freeTicket(batchIndex + slots_.size()));
  }
}

ContentSource& ContentPipeline::job(std::size_t index) {
  if (!single_) single_ = std::make_unique<Reader>(*this, 0, jobs_.size());
  return single_->job(index);
}

ContentPipeline::Reader::Reader(ContentPipeline& pipeline, std::size_t first, std::size_t end)
    : pipeline_(pipeline), next_(first), end_(std::min(end, pipeline.jobs_.size())) {}

ContentPipeline::Reader::~Reader() { finish(); }

ContentSource& ContentPipeline::Reader::job(std::size_t index) {
  source_.reset();
  close();
  if (index >= end_ || index < next_ || pipeline_.jobs_[index].claimOnly) {
    source_ = std::make_unique<JobSource>(*this);
    return *source_;
  }
  // What this reader passes over is not read any more, where it is not read already.
  for (; next_ < index; ++next_) drop(next_);
  next_ = index + 1;
  open(index);
  source_ = std::make_unique<JobSource>(*this, index);
  return *source_;
}

void ContentPipeline::Reader::finish() {
  source_.reset();
  close();
  for (; next_ < end_; ++next_) drop(next_);
}

void ContentPipeline::Reader::open(std::size_t job) {
  batch_ = pipeline_.firstBatchOf(job);
  const std::vector<Segment>& segments = pipeline_.slotOf(batch_).segments;
  segment_ = static_cast<std::size_t>(std::lower_bound(segments.begin(), segments.end(), job,
                                                       [](const Segment& s, std::size_t j) { return s.job < j; }) -
                                      segments.begin());
  open_ = job;
  openDone_ = false;
}

const ContentPipeline::Segment& ContentPipeline::Reader::current() {
  const std::vector<Segment>* segments = &pipeline_.slotOf(batch_).segments;
  if (segment_ == segments->size()) {  // the job goes on in the next batch
    const std::size_t next = batch_ + 1;
    pipeline_.leave(batch_);
    pipeline_.awaitReady(next);
    batch_ = next;
    segment_ = 0;
    segments = &pipeline_.slotOf(batch_).segments;
  }
  return (*segments)[segment_];
}

bool ContentPipeline::Reader::advance() {
  const bool last = pipeline_.slotOf(batch_).segments[segment_].lastOfJob;
  ++segment_;
  if (last) openDone_ = true;
  return last;
}

void ContentPipeline::Reader::close() {
  if (open_ == SIZE_MAX) return;
  if (!openDone_) {
    pipeline_.abandon(open_);
    while (!openDone_) {
      current();
      advance();
    }
  }
  pipeline_.leave(batch_);
  batch_ = SIZE_MAX;
  open_ = SIZE_MAX;
}

void ContentPipeline::Reader::drop(std::size_t job) {
  if (pipeline_.jobs_[job].claimOnly) return;
  pipeline_.abandon(job);
  open(job);
  close();
}

}  // namespace sorvel
