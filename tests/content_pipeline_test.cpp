#include "archive/ContentPipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <new>
#include <future>
#include <initializer_list>
#include <map>
#include <memory>
#include <system_error>
#include <thread>

#include "support/RawContainer.h"

// Arrays of a block or more (the slots' buffers) fail once on a thread that asks for it, as when
// memory runs out.
namespace {
thread_local bool failNextLargeArray = false;
}  // namespace

void* operator new[](std::size_t size) {
  if (failNextLargeArray && size >= sorvel::kBlockSize) {
    failNextLargeArray = false;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace sorvel {
namespace {

// Reads every job to its end and returns, per job, the block numbers its bytes came from, one
// entry per 16384 bytes, plus the byte count.
struct JobResult {
  std::vector<std::uint8_t> blocks;
  std::uint64_t bytes = 0;
};

std::vector<JobResult> drain(ContentPipeline& pipeline, std::size_t jobCount, std::size_t skip = SIZE_MAX) {
  std::vector<JobResult> results(jobCount);
  for (std::size_t j = 0; j < jobCount; ++j) {
    if (j == skip) continue;
    ContentSource& source = pipeline.job(j);
    for (auto piece = source.next(); piece.size > 0; piece = source.next()) {
      for (std::size_t at = 0; at < piece.size; at += kBlockSize) results[j].blocks.push_back(piece.data[at]);
      results[j].bytes += piece.size;
    }
    EXPECT_EQ(source.delivered(), results[j].bytes);
  }
  return results;
}

// A chain through the blocks `first` to `last` in order, plus single-block chains on `singles`.
std::map<std::uint32_t, std::uint32_t> chainTable(std::uint32_t first, std::uint32_t last,
                                                  std::initializer_list<std::uint32_t> singles = {}) {
  std::map<std::uint32_t, std::uint32_t> table;
  for (std::uint32_t b = first; b < last; ++b) table[b] = b + 1;
  table[last] = 1;
  for (std::uint32_t b : singles) table[b] = 1;
  return table;
}

class ContentPipelineTest : public ::testing::TestWithParam<ContentPipeline::Options> {};

TEST_P(ContentPipelineTest, DeliversEveryJobInOrderWhateverTheThreadsAndSlots) {
  // Job 0: 5,6,7 then 10 (fragmented, 3.5 blocks wanted); job 1: a single block, 100 bytes;
  // job 2: a free chain; job 3: a long run 12..39 in full; job 4: a chain shorter than wanted.
  std::map<std::uint32_t, std::uint32_t> table{{5, 6}, {6, 7}, {7, 10}, {10, 1}, {11, 1}, {2, 1}};
  for (std::uint32_t b = 12; b < 39; ++b) table[b] = b + 1;
  table[39] = 1;
  testing::RawContainer raw(table, 64, 40);
  const std::vector<ContentPipeline::Job> jobs{
      {5, 3 * kBlockSize + 8000}, {11, 100}, {8, 500}, {12, 28 * kBlockSize}, {2, 3 * kBlockSize}};
  ContentPipeline pipeline(raw.container(), jobs, GetParam());
  auto results = drain(pipeline, jobs.size());

  EXPECT_EQ(results[0].blocks, (std::vector<std::uint8_t>{5, 6, 7, 10}));
  EXPECT_EQ(results[0].bytes, 3 * kBlockSize + 8000);
  EXPECT_EQ(results[1].blocks, (std::vector<std::uint8_t>{11}));
  EXPECT_EQ(results[1].bytes, 100u);
  EXPECT_EQ(results[2].bytes, 0u);
  std::vector<std::uint8_t> run;
  for (std::uint8_t b = 12; b <= 39; ++b) run.push_back(b);
  EXPECT_EQ(results[3].blocks, run);
  EXPECT_EQ(results[4].bytes, kBlockSize);
}

TEST_P(ContentPipelineTest, AJobLeftUnreadIsDroppedAndTheNextOneIsIntact) {
  testing::RawContainer raw(chainTable(2, 30, {31}), 64, 31);
  const std::vector<ContentPipeline::Job> jobs{{2, 29 * kBlockSize}, {31, kBlockSize}};
  ContentPipeline pipeline(raw.container(), jobs, GetParam());
  auto results = drain(pipeline, jobs.size(), /*skip=*/0);
  EXPECT_EQ(results[1].blocks, (std::vector<std::uint8_t>{31}));
}

TEST_P(ContentPipelineTest, StopsCleanlyWithWorkLeft) {
  testing::RawContainer raw(chainTable(2, 60), 64, 59);
  std::vector<ContentPipeline::Job> jobs(20, ContentPipeline::Job{2, 59 * kBlockSize});
  ContentPipeline pipeline(raw.container(), jobs, GetParam());
  ContentSource& first = pipeline.job(0);
  EXPECT_GT(first.next().size, 0u);
  // Destroyed here with most batches unclaimed or waiting for a slot: must not hang.
}

TEST_P(ContentPipelineTest, ABlockThatFailsToDecryptEndsItsJobThere) {
  testing::RawContainer raw(chainTable(2, 10), 16, 9);
  raw.container().decryptor().dataCipher().setKey(Bytes{'k'});
  raw.container().decryptor().dataCipher().setType(9);  // a code without a cipher: every block fails
  const std::vector<ContentPipeline::Job> jobs{{2, 9 * kBlockSize}, {2, 100}};
  ContentPipeline pipeline(raw.container(), jobs, GetParam());
  auto results = drain(pipeline, jobs.size());
  EXPECT_EQ(results[0].bytes, 0u);
  EXPECT_EQ(results[1].bytes, 0u);
}

TEST_P(ContentPipelineTest, SmallJobsSharingBatchesStayApartWhenSomeAreSkippedOrLeftHalfRead) {
  // Jobs 0..29: one-block chains on blocks 2..31 in order (read as one run where they share a
  // batch), each wanting a different length; job 30: a chain 40,41,42 across batch boundaries.
  std::map<std::uint32_t, std::uint32_t> table{{40, 41}, {41, 42}, {42, 1}};
  std::vector<ContentPipeline::Job> jobs;
  for (std::uint32_t b = 2; b < 32; ++b) {
    table[b] = 1;
    jobs.push_back({b, 500 * std::uint64_t{b}});
  }
  jobs.push_back({40, 3 * kBlockSize});
  testing::RawContainer raw(table, 64, 42);
  ContentPipeline pipeline(raw.container(), jobs, GetParam());
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    if (j % 3 == 0 && j + 1 != jobs.size()) continue;  // never asked for
    ContentSource& source = pipeline.job(j);
    auto piece = source.next();
    ASSERT_GT(piece.size, 0u) << "job " << j;
    EXPECT_EQ(piece.data[0], static_cast<std::uint8_t>(jobs[j].firstBlock)) << "job " << j;
    if (j % 3 == 1) continue;  // left after its first piece
    std::uint64_t bytes = piece.size;
    for (piece = source.next(); piece.size > 0; piece = source.next()) bytes += piece.size;
    EXPECT_EQ(bytes, jobs[j].wanted) << "job " << j;
    EXPECT_EQ(source.delivered(), jobs[j].wanted) << "job " << j;
  }
}

// Files stored one after the other whose last blocks are wanted in part, wholly or barely past
// a block: every byte of each arrives from its own block, none from a neighbour's.
TEST_P(ContentPipelineTest, PartlyWantedLastBlocksKeepEveryByteApart) {
  const std::uint64_t lengths[] = {
      1, 15, 16, 17, 4096, kBlockSize - 1, kBlockSize, kBlockSize + 1, 100, 2 * kBlockSize - 16, 4000, 3 * kBlockSize,
      33};
  std::map<std::uint32_t, std::uint32_t> table;
  std::vector<ContentPipeline::Job> jobs;
  std::uint32_t block = 2;
  for (const std::uint64_t length : lengths) {
    const auto blocks = static_cast<std::uint32_t>((length + kBlockSize - 1) / kBlockSize);
    jobs.push_back({block, length});
    for (std::uint32_t b = block; b + 1 < block + blocks; ++b) table[b] = b + 1;
    table[block + blocks - 1] = 1;
    block += blocks;
  }
  testing::RawContainer raw(table, 64, block - 2);
  ContentPipeline pipeline(raw.container(), jobs, GetParam());
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    Bytes expected;
    for (std::uint64_t at = 0; at < jobs[j].wanted; ++at) {
      expected.push_back(static_cast<std::uint8_t>(jobs[j].firstBlock + at / kBlockSize));
    }
    Bytes delivered;
    ContentSource& source = pipeline.job(j);
    for (auto piece = source.next(); piece.size > 0; piece = source.next()) {
      delivered.insert(delivered.end(), piece.data, piece.data + piece.size);
    }
    EXPECT_EQ(delivered, expected) << "job " << j << ", " << jobs[j].wanted << " bytes";
  }
}

TEST_P(ContentPipelineTest, AbandonedContentIsNeitherReadNorDecrypted) {
  testing::RawContainer raw(chainTable(2, 401, {402}), 512, 401);
  const std::vector<ContentPipeline::Job> jobs{{2, 400 * kBlockSize}, {402, 100}};
  ContentPipeline pipeline(raw.container(), jobs, GetParam());
  ContentSource& first = pipeline.job(0);
  EXPECT_GT(first.next().size, 0u);
  first.abandon();
  EXPECT_EQ(first.next().size, 0u);
  ContentSource& second = pipeline.job(1);
  const auto piece = second.next();
  ASSERT_EQ(piece.size, 100u);
  EXPECT_EQ(piece.data[0], 402 % 256);
  // What was planned ahead when the first job was given up is all that was read of it.
  const ContentPipeline::Options options = GetParam();
  const std::uint64_t workers =
      options.workers == 0 ? std::max(1u, std::thread::hardware_concurrency()) : options.workers;
  EXPECT_LE(pipeline.blocksRead(), (options.slots + workers + 1) * options.blocksPerBatch + 1);
}

// Jobs never share a block: the first to reach a block keeps it, and a later job's content ends
// there. Blocks claimed beforehand (directories) and those of claim-only jobs count the same.
TEST_P(ContentPipelineTest, NoBlockGoesToTwoJobs) {
  std::map<std::uint32_t, std::uint32_t> table{{2, 1}, {3, 4}, {4, 5}, {5, 1}, {6, 4}, {7, 8}, {8, 1}, {9, 7}, {10, 1}};
  testing::RawContainer raw(table, 16, 9);
  std::vector<bool> claimed(16, false);
  claimed[2] = true;                                                       // a directory's
  const std::vector<ContentPipeline::Job> jobs{{3, 3 * kBlockSize},        // 3, 4, 5
                                               {6, 2 * kBlockSize},        // 6, then 4 is taken: one block
                                               {2, 100},                   // the directory's block: nothing
                                               {7, 2 * kBlockSize, true},  // claims 7, 8 and is never read
                                               {9, 2 * kBlockSize},        // 9, then 7 is taken
                                               {10, 100}};
  ContentPipeline pipeline(raw.container(), jobs, GetParam(), claimed);
  const std::vector<std::pair<std::vector<std::uint8_t>, ChainTable::ContentEnd>> expected{
      {{3, 4, 5}, ChainTable::ContentEnd::Whole}, {{6}, ChainTable::ContentEnd::Claimed},
      {{}, ChainTable::ContentEnd::Claimed},      {},
      {{9}, ChainTable::ContentEnd::Claimed},     {{10}, ChainTable::ContentEnd::Whole}};
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    if (jobs[j].claimOnly) continue;
    SCOPED_TRACE(j);
    ContentSource& source = pipeline.job(j);
    EXPECT_EQ(source.end(), expected[j].second);
    std::vector<std::uint8_t> blocks;
    for (auto piece = source.next(); piece.size > 0; piece = source.next()) {
      for (std::size_t at = 0; at < piece.size; at += kBlockSize) blocks.push_back(piece.data[at]);
    }
    EXPECT_EQ(blocks, expected[j].first);
  }
}

// Readers on two threads, each taking runs of consecutive jobs in turn, as the extraction's
// writers do: every job gets exactly its own blocks, whichever reader took it, also where jobs
// are passed over or left half read and runs share batches.
TEST_P(ContentPipelineTest, TwoReadersTakingRunsInTurnEachGetTheirJobsWhole) {
  std::map<std::uint32_t, std::uint32_t> table;
  std::vector<ContentPipeline::Job> jobs;
  for (std::uint32_t b = 2; b < 200; b += 3) {  // chains of one to three blocks
    const std::uint32_t length = 1 + b % 3;
    for (std::uint32_t k = 0; k + 1 < length; ++k) table[b + k] = b + k + 1;
    table[b + length - 1] = 1;
    jobs.push_back({b, (length - 1) * kBlockSize + 100 + std::uint64_t{b}});
  }
  testing::RawContainer raw(table, 256, 201);
  ContentPipeline pipeline(raw.container(), jobs, GetParam());
  constexpr std::size_t kRun = 5;
  std::atomic<std::size_t> nextRun{0};
  std::vector<std::uint64_t> bytes(jobs.size(), 0);
  std::vector<std::uint8_t> firstBytes(jobs.size(), 0);
  auto reader = [&] {
    for (std::size_t run = nextRun++; run * kRun < jobs.size(); run = nextRun++) {
      const std::size_t end = std::min(jobs.size(), (run + 1) * kRun);
      ContentPipeline::Reader runReader(pipeline, run * kRun, end);
      for (std::size_t j = run * kRun; j < end; ++j) {
        if (j % 7 == 3) continue;  // never asked for
        ContentSource& source = runReader.job(j);
        for (auto piece = source.next(); piece.size > 0; piece = source.next()) {
          if (bytes[j] == 0) firstBytes[j] = piece.data[0];
          bytes[j] += piece.size;
          if (j % 7 == 5) break;  // left after its first piece
        }
      }
    }
  };
  std::thread other(reader);
  reader();
  other.join();
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    SCOPED_TRACE(j);
    if (j % 7 == 3) {
      EXPECT_EQ(bytes[j], 0u);
      continue;
    }
    EXPECT_EQ(firstBytes[j], static_cast<std::uint8_t>(jobs[j].firstBlock));
    if (j % 7 != 5) {
      EXPECT_EQ(bytes[j], jobs[j].wanted);
    }
  }
}

// A reader that starts on a run far beyond the slots waits for the reader of the earlier run,
// which never waits for it: both finish.
TEST_P(ContentPipelineTest, AReaderAheadOfTheWindowWaitsWithoutBlockingTheEarlierOne) {
  std::map<std::uint32_t, std::uint32_t> table;
  std::vector<ContentPipeline::Job> jobs;
  for (std::uint32_t b = 2; b <= 59; ++b) {  // one block each
    table[b] = 1;
    jobs.push_back({b, kBlockSize});
  }
  testing::RawContainer raw(table, 64, 59);
  ContentPipeline pipeline(raw.container(), jobs, GetParam());
  std::uint64_t lateBytes = 0;
  std::thread late([&] {
    ContentPipeline::Reader reader(pipeline, 50, jobs.size());
    for (std::size_t j = 50; j < jobs.size(); ++j) {
      ContentSource& source = reader.job(j);
      for (auto piece = source.next(); piece.size > 0; piece = source.next()) lateBytes += piece.size;
    }
  });
  std::uint64_t earlyBytes = 0;
  {
    ContentPipeline::Reader reader(pipeline, 0, 50);
    for (std::size_t j = 0; j < 50; ++j) {
      ContentSource& source = reader.job(j);
      for (auto piece = source.next(); piece.size > 0; piece = source.next()) earlyBytes += piece.size;
    }
  }
  late.join();
  EXPECT_EQ(earlyBytes, 50 * kBlockSize);
  EXPECT_EQ(lateBytes, 8 * kBlockSize);
}

// A slot's buffer is only as large as the batches it held: a first batch of one block (behind
// thousands of empty files) and then one of four make it grow, and every byte still arrives.
TEST(ContentPipelineBuffers, ASlotGrowsForALargerBatchAndDeliversEveryByte) {
  testing::RawContainer raw(chainTable(5, 8, {2}), 16, 12);
  std::vector<ContentPipeline::Job> jobs(4095, ContentPipeline::Job{});
  jobs.push_back({2, 100});
  jobs.push_back({5, 3 * kBlockSize + 5000});
  ContentPipeline pipeline(raw.container(), jobs, ContentPipeline::Options{2, 1, 4});
  Bytes expected(100, 2);
  for (std::uint8_t b = 5; b <= 8; ++b) expected.insert(expected.end(), b == 8 ? 5000 : kBlockSize, b);
  Bytes delivered;
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    ContentSource& source = pipeline.job(j);
    for (auto piece = source.next(); piece.size > 0; piece = source.next()) {
      delivered.insert(delivered.end(), piece.data, piece.data + piece.size);
    }
  }
  EXPECT_EQ(delivered, expected);
}

// Jobs of one block each on blocks 2 to 39, then one chain through 40 to 49 across many batches.
std::vector<ContentPipeline::Job> smallJobsThenALongOne(std::map<std::uint32_t, std::uint32_t>& table) {
  table = chainTable(40, 49);
  std::vector<ContentPipeline::Job> jobs;
  for (std::uint32_t b = 2; b < 40; ++b) {
    table[b] = 1;
    jobs.push_back({b, kBlockSize});
  }
  jobs.push_back({40, 10 * kBlockSize});
  return jobs;
}

// The bytes each job delivered to two readers at once, on threads of their own: one over the jobs
// [0, split), one over the rest.
std::vector<std::uint64_t> readInTwoRuns(ContentPipeline& pipeline, std::size_t jobCount, std::size_t split) {
  std::vector<std::uint64_t> bytes(jobCount, 0);
  auto read = [&](std::size_t first, std::size_t end) {
    ContentPipeline::Reader reader(pipeline, first, end);
    for (std::size_t j = first; j < end; ++j) {
      ContentSource& source = reader.job(j);
      for (auto piece = source.next(); piece.size > 0; piece = source.next()) bytes[j] += piece.size;
    }
  };
  std::thread late(read, split, jobCount);
  read(0, split);
  late.join();
  return bytes;
}

// A worker that cannot start (the system has no thread left) leaves the work to those that did;
// with none, the readers fill the batches themselves. Either way every job arrives whole, for one
// consumer or for two readers at once over few slots.
TEST(ContentPipelineStarts, AWorkerThatCannotStartLeavesTheWorkToTheOthersOrToTheReaders) {
  std::map<std::uint32_t, std::uint32_t> table;
  const std::vector<ContentPipeline::Job> jobs = smallJobsThenALongOne(table);
  testing::RawContainer raw(table, 64, 49);
  for (const int started : {0, 1, 2}) {
    SCOPED_TRACE(started);
    int starts = 0;
    ContentPipeline::Options options{3, 2, 2};
    options.startThread = [&](std::function<void()> body) {
      if (starts++ == started) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      return std::thread(std::move(body));
    };
    {
      ContentPipeline pipeline(raw.container(), jobs, options);
      const auto results = drain(pipeline, jobs.size());
      for (std::size_t j = 0; j < jobs.size(); ++j) EXPECT_EQ(results[j].bytes, jobs[j].wanted) << "job " << j;
      EXPECT_EQ(results.back().blocks, (std::vector<std::uint8_t>{40, 41, 42, 43, 44, 45, 46, 47, 48, 49}));
    }
    starts = 0;
    ContentPipeline pipeline(raw.container(), jobs, options);
    const std::vector<std::uint64_t> bytes = readInTwoRuns(pipeline, jobs.size(), 20);
    for (std::size_t j = 0; j < jobs.size(); ++j) EXPECT_EQ(bytes[j], jobs[j].wanted) << "job " << j;
  }
}

// A reader that would wait for a batch fills the next one itself while its slot is free: with
// the only worker held up (busy elsewhere, or not yet scheduled), every job still arrives, for one
// reader of all jobs and for two readers at once.
TEST(ContentPipelineStarts, ReadersFillBatchesThemselvesWhileTheWorkerIsHeldUp) {
  std::map<std::uint32_t, std::uint32_t> table;
  const std::vector<ContentPipeline::Job> jobs = smallJobsThenALongOne(table);
  testing::RawContainer raw(table, 64, 49);
  for (const std::size_t split : {jobs.size(), std::size_t{20}}) {
    SCOPED_TRACE(split);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    ContentPipeline::Options options{1, 2, 3};
    options.startThread = [&](std::function<void()> body) {
      return std::thread([released, body = std::move(body)] {
        released.wait();
        body();
      });
    };
    ContentPipeline pipeline(raw.container(), jobs, options);
    std::future<std::vector<std::uint64_t>> bytes =
        std::async(std::launch::async, [&] { return readInTwoRuns(pipeline, jobs.size(), split); });
    EXPECT_EQ(bytes.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the readers waited for the worker";
    release.set_value();
    const std::vector<std::uint64_t> delivered = bytes.get();
    for (std::size_t j = 0; j < jobs.size(); ++j) EXPECT_EQ(delivered[j], jobs[j].wanted) << "job " << j;
  }
}

// A reader that runs out of memory while it fills a batch hands the batch on as failed: the jobs
// in it deliver nothing, every later job arrives whole, and no reader waits for the batch
// forever. (Should it wait, the pipeline and its threads are left behind, so the test still ends.)
TEST(ContentPipelineStarts, AReaderOutOfMemoryWhileFillingABatchLetsItFailAndGoesOn) {
  std::map<std::uint32_t, std::uint32_t> table;
  const std::vector<ContentPipeline::Job> jobs = smallJobsThenALongOne(table);
  auto raw = std::make_shared<testing::RawContainer>(table, 64, 49);
  auto released = std::make_shared<std::promise<void>>();
  ContentPipeline::Options options{1, 2, 2};
  options.startThread = [wait = released->get_future().share()](std::function<void()> body) {
    return std::thread([wait, body = std::move(body)] {
      wait.wait();
      body();
    });
  };
  auto pipeline = std::make_shared<ContentPipeline>(raw->container(), jobs, options);
  auto delivered = std::make_shared<std::promise<std::vector<std::uint64_t>>>();
  std::future<std::vector<std::uint64_t>> bytes = delivered->get_future();
  std::thread([pipeline, jobs, delivered]() mutable {
    failNextLargeArray = true;  // the first batch, which this reader fills while the worker is held up
    std::vector<std::uint64_t> read(jobs.size(), 0);
    for (std::size_t j = 0; j < jobs.size(); ++j) {
      ContentSource& source = pipeline->job(j);
      for (auto piece = source.next(); piece.size > 0; piece = source.next()) read[j] += piece.size;
    }
    pipeline.reset();  // the test's own goes last, before the container
    delivered->set_value(std::move(read));
  }).detach();
  if (bytes.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "a reader waits for the batch that ran out of memory";
    new std::shared_ptr<testing::RawContainer>(raw);  // left to the waiting reader's pipeline
    released->set_value();
    return;
  }
  released->set_value();
  const std::vector<std::uint64_t> read = bytes.get();
  // The first batch holds the first two jobs' blocks.
  EXPECT_EQ(read[0], 0u);
  EXPECT_EQ(read[1], 0u);
  for (std::size_t j = 2; j < jobs.size(); ++j) EXPECT_EQ(read[j], jobs[j].wanted) << "job " << j;
}

INSTANTIATE_TEST_SUITE_P(Threads, ContentPipelineTest,
                         ::testing::Values(ContentPipeline::Options{1, 1, 1}, ContentPipeline::Options{2, 2, 2},
                                           ContentPipeline::Options{3, 8, 64}, ContentPipeline::Options{0, 3, 5}));

}  // namespace
}  // namespace sorvel
