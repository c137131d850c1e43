#include "archive/ChainTable.h"

#include <gtest/gtest.h>

#include "support/RawContainer.h"

namespace sorvel {
namespace {

class ChainTableFixture : public ::testing::Test {
 protected:
  void write(const std::map<std::uint32_t, std::uint32_t>& table, std::uint32_t entries, std::uint32_t blocksInFile) {
    raw_.reset();
    raw_ = std::make_unique<testing::RawContainer>(table, entries, blocksInFile);
    table_ = &raw_->container().chainTable();
  }

  std::unique_ptr<testing::RawContainer> raw_;
  ChainTable* table_ = nullptr;
};

using Runs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

Runs runsOf(const ExtentList& extents) {
  Runs runs;
  for (const Extent& e : extents) runs.emplace_back(e.first, e.last);
  return runs;
}

TEST_F(ChainTableFixture, ChainsBecomeRunsOfConsecutiveBlocks) {
  struct Case {
    const char* what;
    std::map<std::uint32_t, std::uint32_t> table;
    std::uint32_t first;
    Runs runs;
    std::uint64_t capacity;
  };
  const Case cases[] = {
      {"one block", {{4, 1}}, 4, {{4, 4}}, 16384},
      {"two runs", {{5, 6}, {6, 7}, {7, 10}, {10, 11}, {11, 1}}, 5, {{5, 7}, {10, 11}}, 81920},
      {"backwards jump", {{9, 10}, {10, 3}, {3, 4}, {4, 1}}, 9, {{9, 10}, {3, 4}}, 65536},
      {"starts on a free block", {{5, 1}}, 6, {}, 0},
      {"reaches a free entry", {{5, 6}, {6, 8}, {8, 9}, {9, 12}}, 5, {{5, 6}}, 32768},
      {"names a block outside the table", {{5, 6}, {6, 40}}, 5, {}, 0},
      {"first block outside the table", {}, 70, {}, 0},
      {"starts at block 0", {{0, 5}, {1, 5}, {5, 1}}, 0, {}, 0},
      {"starts at block 1", {{0, 5}, {1, 5}, {5, 1}}, 1, {}, 0},
      {"loops back", {{5, 6}, {6, 7}, {7, 5}}, 5, {}, 0},
      {"loops onto itself", {{5, 5}}, 5, {}, 0},
  };
  for (const Case& c : cases) {
    write(c.table, 32, 12);
    ExtentList extents;
    EXPECT_EQ(table_->chainExtents(c.first, extents), c.capacity) << c.what;
    EXPECT_EQ(runsOf(extents), c.runs) << c.what;
  }
}

// A file's content: the chain as chainExtents gives it, cut to the wanted bytes, ending before
// a block already claimed or one the file (blocks 2..13 here) does not store.
TEST_F(ChainTableFixture, ContentIsPlannedFromWhatTheFileStoresAndNoOtherObjectHolds) {
  using End = ChainTable::ContentEnd;
  struct Case {
    const char* what;
    std::map<std::uint32_t, std::uint32_t> table;
    std::vector<std::uint32_t> claimedBefore;
    std::uint32_t first;
    std::uint64_t wanted;
    Runs runs;
    std::uint64_t bytes;
    End end;
  };
  const Case cases[] = {
      {"whole", {{5, 6}, {6, 9}, {9, 1}}, {}, 5, 40000, {{5, 6}, {9, 9}}, 40000, End::Whole},
      {"only the wanted blocks", {{5, 6}, {6, 7}, {7, 1}}, {}, 5, 100, {{5, 5}}, 100, End::Whole},
      {"chain too short", {{5, 1}}, {}, 5, 40000, {{5, 5}}, 16384, End::Short},
      {"free entry drops the open run", {{4, 5}, {5, 7}, {7, 8}}, {}, 4, 60000, {{4, 5}}, 32768, End::Short},
      {"runs past the end of the file",
       {{12, 13}, {13, 14}, {14, 15}, {15, 1}},
       {},
       12,
       60000,
       {{12, 13}},
       32768,
       End::Missing},
      {"starts past the end of the file", {{20, 1}}, {}, 20, 100, {}, 0, End::Missing},
      {"runs into a claimed block", {{3, 4}, {4, 5}, {5, 1}}, {5}, 3, 40000, {{3, 4}}, 32768, End::Claimed},
      {"starts on a claimed block", {{3, 1}}, {3}, 3, 100, {}, 0, End::Claimed},
      {"claimed only past the wanted blocks", {{3, 4}, {4, 1}}, {4}, 3, 100, {{3, 3}}, 100, End::Whole},
      {"loops past the wanted blocks", {{3, 4}, {4, 3}}, {}, 3, 100, {}, 0, End::Broken},
      {"names a block outside the table", {{3, 40}}, {}, 3, 100, {}, 0, End::Broken},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write(c.table, 32, 12);
    std::vector<bool> claimed(32, false);
    for (std::uint32_t b : c.claimedBefore) claimed[b] = true;
    const ChainTable::ContentChain plan = table_->planContent(c.first, c.wanted, claimed);
    EXPECT_EQ(runsOf(plan.extents), c.runs);
    EXPECT_EQ(plan.bytes, c.bytes);
    EXPECT_EQ(plan.end, c.end);
    for (const Extent& e : plan.extents) {
      for (std::uint32_t b = e.first; b <= e.last; ++b) EXPECT_TRUE(claimed[b]) << b;
    }
  }
}

TEST_F(ChainTableFixture, StoredPrefixKeepsTheBlocksTheFileHolds) {
  struct Case {
    const char* what;
    Runs before;
    Runs after;
  };
  // The file holds blocks 2 to 11.
  const Case cases[] = {
      {"all stored", {{3, 5}, {8, 9}}, {{3, 5}, {8, 9}}},
      {"cut inside a run", {{4, 4}, {9, 14}, {5, 5}}, {{4, 4}, {9, 11}}},
      {"cut before a run past the end", {{4, 4}, {20, 21}, {5, 6}}, {{4, 4}}},
      {"empty runs stay, holding nothing", {{0, 0}, {3, 3}}, {{0, 0}, {3, 3}}},
      {"nothing stored", {{12, 13}}, {}},
  };
  write({}, 32, 10);
  for (const Case& c : cases) {
    ExtentList extents;
    for (const auto& [first, last] : c.before) extents.push_back(Extent{first, last});
    const std::uint64_t capacity = table_->storedPrefix(extents);
    EXPECT_EQ(runsOf(extents), c.after) << c.what;
    EXPECT_EQ(capacity, capacityOf(extents)) << c.what;
  }
}

}  // namespace
}  // namespace sorvel
