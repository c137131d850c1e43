#include "archive/ContainerFile.h"

#include <gtest/gtest.h>

#include "archive/ContentReader.h"
#include "archive/TableReader.h"
#include "support/RawContainer.h"

namespace sorvel {
namespace {

class ContainerFixture : public ::testing::Test {
 protected:
  void write(const std::map<std::uint32_t, std::uint32_t>& table, std::uint32_t entries, std::uint32_t blocksInFile) {
    raw_.reset();
    raw_ = std::make_unique<testing::RawContainer>(table, entries, blocksInFile);
    container_ = &raw_->container();
  }

  std::unique_ptr<testing::RawContainer> raw_;
  ContainerFile* container_ = nullptr;
};

// Directories and detail tables are read whole through a TableReader: blocks in chain order,
// each decrypted when first looked at.
TEST_F(ContainerFixture, TableReaderReadsTheChainInOrderOnDemand) {
  write({{5, 6}, {6, 7}, {7, 10}, {10, 11}, {11, 1}}, 32, 12);
  ExtentList extents;
  ASSERT_EQ(container_->chainTable().chainExtents(5, extents), 81920u);

  TableReader table(container_->decryptor(), extents, 81920);
  EXPECT_EQ(table.size(), 81920u);
  Bytes out(20000, 0xEE);
  table.copy(0, out.data(), out.size());
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[16384], 6);
  EXPECT_EQ(out[19999], 6);
  EXPECT_EQ(table.blocksRead(), 2u);  // only the blocks looked at

  Bytes piece(2, 0xEE);
  table.copy(3 * 16384 - 1, piece.data(), 2);  // across the jump from block 7 to 10
  EXPECT_EQ(piece, (Bytes{7, 10}));
  table.copy(81919, piece.data(), 1);
  EXPECT_EQ(piece[0], 11);

  ExtentList invalid{{0, 0}, {1, 1}, {0, 9}};
  TableReader nothing(container_->decryptor(), invalid, 0);
  EXPECT_FALSE(nothing.readable());
}

TEST_F(ContainerFixture, BlocksBeyondTheEndOfTheFileReadAsZeros) {
  write({{3, 4}, {4, 1}}, 8, 2);  // the file holds blocks 2 and 3 only
  ExtentList extents;
  ASSERT_EQ(container_->chainTable().chainExtents(3, extents), 32768u);
  TableReader table(container_->decryptor(), extents, 32768);
  Bytes out(32768, 0xEE);
  table.copy(0, out.data(), out.size());
  EXPECT_EQ(out[0], 3);
  EXPECT_EQ(out[16384], 0);
  EXPECT_EQ(out[32767], 0);
}

TEST_F(ContainerFixture, ContentReaderStreamsTheChainAndStopsWhereItEnds) {
  write({{5, 6}, {6, 7}, {7, 10}, {10, 11}, {11, 1}}, 32, 12);
  ContentReader reader(*container_, 5, 70000);
  EXPECT_EQ(reader.expected(), 70000u);
  Bytes out;
  for (auto piece = reader.next(); piece.size > 0; piece = reader.next())
    out.insert(out.end(), piece.data, piece.data + piece.size);
  ASSERT_EQ(out.size(), 70000u);
  EXPECT_EQ(out[0], 5);
  EXPECT_EQ(out[3 * 16384], 10);
  EXPECT_EQ(out[69999], 11);

  ContentReader shortChain(*container_, 10, 100000);
  EXPECT_EQ(shortChain.expected(), 32768u);
}

}  // namespace
}  // namespace sorvel
