// The mount's file system without the kernel: the tree it builds from an archive, and reads
// through its shared block cache from many threads at once, the read-ahead thread running.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <cerrno>
#include <random>
#include <thread>
#include <vector>

#include "lib/LibraryParts.h"
#include "mount/MountFileSystem.h"
#include "mount/MountTree.h"
#include "support/ArchiveBuilder.h"
#include "support/TempDir.h"

namespace sorvel::mount {
namespace {

using testing::ArchiveBuilder;
using testing::bytesOf;

struct Opened {
  testing::TempDir dir;
  std::shared_ptr<api::Archive::Impl> archive;
  bool ok = false;
};

void open(ArchiveBuilder& builder, Opened& opened) {
  const std::string path = opened.dir.file("a.sva");
  ASSERT_TRUE(builder.writeTo(path));
  ReadOnlyFile file;
  ASSERT_TRUE(file.open(path));
  const Bytes& password = builder.settings.password;
  api::Result<std::shared_ptr<api::Archive::Impl>> result =
      lib::openArchive(std::move(file), api::Password::bytes(password.data(), password.size()));
  ASSERT_TRUE(result) << result.status().message;
  opened.archive = std::move(result.value());
  opened.ok = true;
}

NodeId find(const MountTree& tree, std::initializer_list<const char*> names) {
  NodeId id = kRootNode;
  for (const char* name : names) id = tree.lookup(id, name);
  return id;
}

TEST(MountTree, ShowsWhatExtractionWritesAndPlansContentInListingOrder) {
  ArchiveBuilder builder;
  builder.settings.password = bytesOf("pw");
  builder.addFile(u"a.bin", Bytes(3 * 16384, 0xA1)).blocks = testing::BlockList{3, 4, 5};
  builder.addFile(u"b.bin", Bytes(3 * 16384, 0xB2)).blocks = testing::BlockList{6, 7, 8};
  builder.settings.chainOverrides[6] = 4;  // b.bin runs into a.bin's second block
  builder.addFile(u"sub\\x/y", "slash");
  builder.addFile(u"..\\under-dots", "hidden");
  builder.addFile(std::u16string(300, u'n'), "too long a name");
  builder.addFile(u"gone.bin", Bytes(100, 1)).firstBlock = 0;  // content unreadable from the start
  testing::DetailFileContents details;
  details.records.push_back({u"a.bin", bytesOf("blob"), {}, {}, {}, {}, {}});
  builder.addDetailFile(u"", details);
  Opened opened;
  open(builder, opened);
  ASSERT_TRUE(opened.ok);
  const MountTree tree = MountTree::build(opened.archive, {});

  const NodeId a = find(tree, {"a.bin"});
  const NodeId b = find(tree, {"b.bin"});
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_FALSE(tree.node(a).damaged());
  EXPECT_EQ(tree.node(b).readable, 16384u);
  EXPECT_EQ(tree.node(b).size, 3 * 16384u);
  EXPECT_EQ(tree.blockAt(tree.node(b), 100), 6u);
  EXPECT_EQ(tree.blockAt(tree.node(a), 2 * 16384), 5u);
  EXPECT_NE(find(tree, {"sub"}), 0u);
  EXPECT_EQ(find(tree, {"sub", "x/y"}), 0u);
  EXPECT_EQ(find(tree, {".."}), 0u);
  EXPECT_EQ(find(tree, {"valdo_item_detail.deposit"}), 0u);
  EXPECT_EQ(find(tree, {"gone.bin"}), 0u);
  EXPECT_EQ(tree.lookup(kRootNode, std::string(300, 'n')), 0u);
  EXPECT_EQ(tree.node(kRootNode).childCount, 3u);  // a.bin, b.bin, sub
  EXPECT_EQ(tree.archivePath(b), "b.bin");
}

TEST(MountFileSystem, ConcurrentReadsThroughASmallCacheGiveThePlainData) {
  ArchiveBuilder builder;
  builder.settings.password = bytesOf("pw");
  builder.settings.dataCipher = 3;
  const Bytes plain = testing::generateContent(testing::seededContent(3), 0, 40 * 16384 + 77);
  builder.addFile(u"big.bin", plain);
  const Bytes shortContent = testing::generateContent(testing::seededContent(4), 0, 20000);
  builder.addFile(u"short.bin", shortContent).storedSize = 90000;
  Opened opened;
  open(builder, opened);
  ASSERT_TRUE(opened.ok);
  MountTree tree = MountTree::build(opened.archive, {});
  const ContainerFile& container = tree.container();
  MountFileSystem fs(container, std::move(tree), 4 * 16384);
  const NodeId big = fs.tree().lookup(kRootNode, "big.bin");
  const NodeId damaged = fs.tree().lookup(kRootNode, "short.bin");
  ASSERT_NE(big, 0u);
  ASSERT_NE(damaged, 0u);

  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (unsigned t = 0; t < 4; ++t) {
    readers.emplace_back([&, t] {
      std::mt19937_64 rng(t);
      std::vector<std::uint8_t> buffer(70000);
      for (int i = 0; i < 300; ++i) {
        const std::uint64_t offset = rng() % (plain.size() + 10);
        const std::size_t length = 1 + rng() % buffer.size();
        long got = 0;
        if (i % 3 == 0) {
          // As a sequential reader answers: the pieces, then the blocks taken whole dropped from the
          // cache while other threads may be loading or holding them.
          std::vector<MountFileSystem::Piece> pieces;
          got = fs.readPieces(big, offset, length, pieces);
          fs.forgetWholeBlocks(pieces);
          std::uint8_t* out = buffer.data();
          for (const MountFileSystem::Piece& piece : pieces) {
            out = std::copy_n(piece.block->data() + piece.offset, piece.size, out);
          }
        } else {
          got = fs.readFile(big, offset, length, buffer.data());
        }
        const std::size_t expected = offset >= plain.size() ? 0 : std::min<std::size_t>(length, plain.size() - offset);
        if (got != static_cast<long>(expected) ||
            !std::equal(buffer.begin(), buffer.begin() + got,
                        plain.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(offset, plain.size())))) {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(wrong.load(), 0);

  // The damaged file: its two stored blocks, a short read up to their end, then EIO.
  std::vector<std::uint8_t> buffer(65536);
  EXPECT_EQ(fs.readFile(damaged, 0, buffer.size(), buffer.data()), 2 * 16384);
  EXPECT_TRUE(std::equal(shortContent.begin(), shortContent.end(), buffer.begin()));
  EXPECT_EQ(fs.readFile(damaged, 2 * 16384, 10, buffer.data()), -EIO);
  EXPECT_EQ(fs.readFile(damaged, 80000, 10, buffer.data()), -EIO);
}

}  // namespace
}  // namespace sorvel::mount
