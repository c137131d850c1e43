#include "archive/ContentPipeline.h"

#include <algorithm>

namespace sorvel {
namespace {

constexpr std::uint64_t kStopped = UINT64_MAX;

unsigned defaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

}  // namespace

class ContentPipeline::JobSource final : public ContentSource {
 public:
  JobSource(ContentPipeline& pipeline, std::size_t job) : pipeline_(pipeline), job_(job) {}
  ~JobSource() override { releaseHeld(); }

  std::uint64_t expected() const override { return pipeline_.expected_[job_]; }
  std::uint64_t delivered() const override { return delivered_; }

  Piece next() override {
    releaseHeld();
    if (failed_) return {};
    const std::size_t index = pipeline_.nextToConsume_;
    if (index >= pipeline_.batches_.size() || pipeline_.batches_[index].job != job_) return {};
    Slot* slot = pipeline_.awaitBatch(index);
    pipeline_.nextToConsume_ = index + 1;
    held_ = index;
    if (slot->failed) {
      failed_ = true;
      releaseHeld();
      return {};
    }
    const Batch& batch = pipeline_.batches_[index];
    delivered_ += batch.bytes;
    return {slot->data.data(), batch.bytes};
  }

 private:
  void releaseHeld() {
    if (held_ != kNone) pipeline_.releaseBatch(held_);
    held_ = kNone;
  }

  static constexpr std::size_t kNone = SIZE_MAX;
  ContentPipeline& pipeline_;
  std::size_t job_;
  std::size_t held_ = kNone;
  std::uint64_t delivered_ = 0;
  bool failed_ = false;
};

ContentPipeline::ContentPipeline(ContainerFile& container, const std::vector<Job>& jobs, Options options)
    : container_(container), slots_(std::max<std::size_t>(options.slots, 1)) {
  const std::uint32_t perBatch = std::max<std::uint32_t>(options.blocksPerBatch, 1);
  expected_.reserve(jobs.size());
  ExtentList extents;
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    container_.chainExtents(jobs[j].firstBlock, extents);
    const std::uint64_t limit = std::min(jobs[j].wanted, capacityOf(extents));
    expected_.push_back(limit);
    std::uint64_t planned = 0;
    for (const Extent& e : extents) {
      for (std::uint64_t i = 0; i < e.blockCount() && planned < limit;) {
        const std::uint64_t count = std::min<std::uint64_t>(e.blockCount() - i, perBatch);
        const std::uint64_t bytes = std::min(count * kBlockSize, limit - planned);
        const std::uint64_t used = (bytes + kBlockSize - 1) / kBlockSize;  // never decrypt unwanted blocks
        batches_.push_back(Batch{j, static_cast<std::uint32_t>(e.first + i), static_cast<std::uint32_t>(used),
                                 static_cast<std::uint32_t>(bytes)});
        planned += bytes;
        i += used;
      }
    }
  }
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    slots_[s].ticket.store(2 * s);
    slots_[s].data.resize(perBatch * kBlockSize);
  }
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

void ContentPipeline::work() {
  for (;;) {
    if (stopping_.load()) return;
    const std::size_t index = nextToClaim_.fetch_add(1);
    if (index >= batches_.size()) return;
    fill(index);
  }
}

void ContentPipeline::fill(std::size_t batchIndex) {
  Slot& slot = slots_[batchIndex % slots_.size()];
  const std::uint64_t free = 2 * batchIndex;
  for (std::uint64_t t = slot.ticket.load(); t != free; t = slot.ticket.load()) {
    if (t == kStopped || stopping_.load()) return;
    slot.ticket.wait(t);
  }
  const Batch& batch = batches_[batchIndex];
  slot.failed = !container_.readBlocksUncached(batch.firstBlock, batch.blockCount, slot.data.data());
  slot.ticket.store(free + 1);
  slot.ticket.notify_all();
}

ContentPipeline::Slot* ContentPipeline::awaitBatch(std::size_t batchIndex) {
  Slot& slot = slots_[batchIndex % slots_.size()];
  const std::uint64_t ready = 2 * batchIndex + 1;
  for (std::uint64_t t = slot.ticket.load(); t != ready; t = slot.ticket.load()) slot.ticket.wait(t);
  return &slot;
}

void ContentPipeline::releaseBatch(std::size_t batchIndex) {
  Slot& slot = slots_[batchIndex % slots_.size()];
  slot.ticket.store(2 * (batchIndex + slots_.size()));
  slot.ticket.notify_all();
}

void ContentPipeline::dropUpTo(std::size_t job) {
  current_.reset();
  while (nextToConsume_ < batches_.size() && batches_[nextToConsume_].job < job) {
    awaitBatch(nextToConsume_);
    releaseBatch(nextToConsume_);
    ++nextToConsume_;
  }
}

ContentSource& ContentPipeline::job(std::size_t index) {
  dropUpTo(index);
  current_ = std::make_unique<JobSource>(*this, index);
  return *current_;
}

}  // namespace sorvel
