#include "archive/ContentPipeline.h"

#include <algorithm>

namespace sorvel {
namespace {

constexpr std::uint32_t kStopped = UINT32_MAX;
// Keeps a slot's offsets within 32 bits.
constexpr std::uint32_t kMaxBlocksPerBatch = 65536;

unsigned defaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

}  // namespace

class ContentPipeline::JobSource final : public ContentSource {
 public:
  JobSource(ContentPipeline& pipeline, std::size_t job) : pipeline_(pipeline), job_(job) {}

  std::uint64_t expected() const override { return pipeline_.expected_[job_]; }
  std::uint64_t delivered() const override { return delivered_; }

  Piece next() override {
    if (failed_) return {};
    const std::size_t index = pipeline_.nextSegment_;
    if (index >= pipeline_.segments_.size() || pipeline_.segments_[index].job != job_) return {};
    const Slot& slot = pipeline_.holdBatchOf(index);
    pipeline_.nextSegment_ = index + 1;
    if (pipeline_.segmentFailed_[index] != 0) {
      failed_ = true;
      return {};
    }
    const Segment& segment = pipeline_.segments_[index];
    delivered_ += segment.bytes;
    return {slot.data.data() + segment.offset, segment.bytes};
  }

 private:
  ContentPipeline& pipeline_;
  std::size_t job_;
  std::uint64_t delivered_ = 0;
  bool failed_ = false;
};

ContentPipeline::ContentPipeline(ContainerFile& container, const std::vector<Job>& jobs, Options options)
    : container_(container), slots_(std::max<std::size_t>(options.slots, 1)) {
  const std::uint32_t perBatch = std::clamp<std::uint32_t>(options.blocksPerBatch, 1, kMaxBlocksPerBatch);
  plan(jobs, perBatch);
  for (std::size_t s = 0; s < slots_.size(); ++s) slots_[s].data.resize(perBatch * kBlockSize);
  const std::size_t workers = std::min<std::size_t>(options.workers == 0 ? defaultWorkers() : options.workers,
                                                    batches_.size());
  for (std::size_t w = 0; w < workers; ++w) workers_.emplace_back([this] { work(); });
}

ContentPipeline::~ContentPipeline() {
  current_.reset();
  stopping_.store(true);
  for (Slot& slot : slots_) {
    slot.ticket.store(kStopped);
    slot.ticket.notify_all();
  }
  for (std::thread& worker : workers_) worker.join();
  for (Slot& slot : slots_) secureWipe(slot.data);
}

void ContentPipeline::plan(const std::vector<Job>& jobs, std::uint32_t blocksPerBatch) {
  expected_.reserve(jobs.size());
  std::uint32_t used = blocksPerBatch;  // blocks taken in the open batch; full means none is open
  ExtentList extents;
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    container_.chainExtents(jobs[j].firstBlock, extents);
    const std::uint64_t limit = std::min(jobs[j].wanted, capacityOf(extents));
    expected_.push_back(limit);
    std::uint64_t planned = 0;
    for (const Extent& e : extents) {
      for (std::uint64_t i = 0; i < e.blockCount() && planned < limit;) {
        if (used == blocksPerBatch) {
          batches_.push_back(Batch{segments_.size(), segments_.size()});
          used = 0;
        }
        const std::uint64_t count = std::min<std::uint64_t>(e.blockCount() - i, blocksPerBatch - used);
        const std::uint64_t bytes = std::min(count * kBlockSize, limit - planned);
        const auto blocks = static_cast<std::uint32_t>((bytes + kBlockSize - 1) / kBlockSize);  // only wanted ones
        segments_.push_back(Segment{j, batches_.size() - 1, static_cast<std::uint32_t>(e.first + i), blocks,
                                    static_cast<std::uint32_t>(bytes), static_cast<std::uint32_t>(used * kBlockSize)});
        batches_.back().endSegment = segments_.size();
        used += blocks;
        planned += bytes;
        i += blocks;
      }
    }
  }
  segmentFailed_.assign(segments_.size(), 0);
}

void ContentPipeline::work() {
  for (;;) {
    if (stopping_.load()) return;
    const std::size_t index = nextToClaim_.fetch_add(1);
    if (index >= batches_.size()) return;
    fill(index);
  }
}

void ContentPipeline::fill(std::size_t batchIndex) {
  Slot& slot = slotOf(batchIndex);
  const std::uint32_t free = freeTicket(batchIndex);
  for (std::uint32_t t = slot.ticket.load(); t != free; t = slot.ticket.load()) {
    if (t == kStopped || stopping_.load()) return;
    slot.ticket.wait(t);
  }
  const Batch& batch = batches_[batchIndex];
  for (std::size_t s = batch.firstSegment; s < batch.endSegment;) {
    // Segments that carry on each other's blocks (small files stored one after the other) are
    // read as one run, straight into the slot, and decrypted there segment by segment.
    std::size_t end = s + 1;
    while (end < batch.endSegment &&
           segments_[end].firstBlock == std::uint64_t{segments_[end - 1].firstBlock} + segments_[end - 1].blockCount) {
      ++end;
    }
    const Segment& last = segments_[end - 1];
    const std::uint64_t runLength = last.offset - segments_[s].offset + lastBlockStart(last) +
                                    ContainerFile::decryptedLength(lastBlockBytes(last));
    std::uint8_t* const base = slot.data.data();
    const bool read = container_.readStoredBlocks(segments_[s].firstBlock, runLength, base + segments_[s].offset);
    for (std::size_t k = s; k < end; ++k) segmentFailed_[k] = read && decryptSegment(segments_[k], base) ? 0 : 1;
    s = end;
  }
  slot.ticket.store(free + 1);
  slot.ticket.notify_all();
}

bool ContentPipeline::decryptSegment(const Segment& segment, std::uint8_t* slotData) const {
  for (std::uint32_t i = 0; i < segment.blockCount; ++i) {
    std::uint8_t* block = slotData + segment.offset + std::uint64_t{i} * kBlockSize;
    const std::size_t wanted = i + 1 == segment.blockCount ? lastBlockBytes(segment) : kBlockSize;
    if (!container_.decryptStoredBlock(block, block, wanted, segment.firstBlock + i)) return false;
  }
  return true;
}

const ContentPipeline::Slot& ContentPipeline::holdBatchOf(std::size_t segmentIndex) {
  const std::size_t batch = segments_[segmentIndex].batch;
  Slot& slot = slotOf(batch);
  if (heldBatch_ == batch) return slot;
  releaseHeld();
  const std::uint32_t ready = freeTicket(batch) + 1;
  for (std::uint32_t t = slot.ticket.load(); t != ready; t = slot.ticket.load()) slot.ticket.wait(t);
  heldBatch_ = batch;
  return slot;
}

void ContentPipeline::releaseHeld() {
  if (heldBatch_ == SIZE_MAX) return;
  Slot& slot = slotOf(heldBatch_);
  slot.ticket.store(freeTicket(heldBatch_ + slots_.size()));
  slot.ticket.notify_all();
  heldBatch_ = SIZE_MAX;
}

void ContentPipeline::dropUpTo(std::size_t job) {
  current_.reset();
  while (nextSegment_ < segments_.size() && segments_[nextSegment_].job < job) {
    holdBatchOf(nextSegment_);
    ++nextSegment_;
  }
}

ContentSource& ContentPipeline::job(std::size_t index) {
  dropUpTo(index);
  current_ = std::make_unique<JobSource>(*this, index);
  return *current_;
}

}  // namespace sorvel
