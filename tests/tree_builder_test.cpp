// The tree is built folder by folder as directories are read; a build from a map of every
// item's path is kept for names that hold backslashes. Wherever no name does, both must give
// the same tree: the same items with the same records, the same damaged folders and the same
// items left out, told after the same nodes.
#include "tree/TreeBuilder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/Archive.h"
#include "archive/ContainerChains.h"
#include "platform/Utf16.h"
#include "support/ArchiveBuilder.h"
#include "support/HostileArchives.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

using testing::ArchiveBuilder;

// The tree as lines: every item with its record and damage, then every item left out.
std::vector<std::string> describe(const FolderTree& tree) {
  std::vector<std::string> lines;
  auto line = [](std::u16string_view path, const TreeNode& node) {
    const ItemRecord& r = node.record;
    return toUtf8Lossy(path) + " a" + std::to_string(r.attributes()) + " s" + std::to_string(r.size()) + " b" +
           std::to_string(r.firstBlock()) + " t" + std::to_string(r.created) + "/" + std::to_string(r.modified) + "/" +
           std::to_string(r.accessed) + (node.damaged ? " damaged" : "");
  };
  lines.push_back(line(kRootPath, tree.root()));
  walkBelow(tree, kTreeRoot, kRootPath, PathJoin::Plain, [&](const WalkedItem& item) {
    lines.push_back(line(item.path, item.node));
    return true;
  });
  for (const LeftOutItem& left : tree.leftOut()) {
    lines.push_back(std::string(left.why == LeftOutItem::Why::SameName ? "same name " : "unsafe ") +
                    toUtf8Lossy(left.path) + " | " + toUtf8Lossy(left.namesake) + " | " + toUtf8Lossy(left.folder) +
                    " after " + (left.after == nullptr ? "-" : toUtf8Lossy(tree.pathOf(tree.indexOf(*left.after)))));
  }
  return lines;
}

void expectBothBuildsAgree(const ArchiveBuilder& builder) {
  testing::TempDir dir;
  const std::filesystem::path path = std::filesystem::path(dir.path()) / "archive.sva";
  ASSERT_TRUE(builder.writeTo(path));
  Archive archive;
  ASSERT_TRUE(archive.checkPassword(path.string(), builder.settings.password));
  ASSERT_TRUE(archive.open(path.string()));
  ContainerChains chains(archive.container());
  std::uint32_t lastError = 0;
  FolderTree byFolders;
  FolderTree byPaths;
  TreeBuilder(chains, lastError).build(byFolders);
  const std::uint32_t byFoldersError = lastError;
  const std::vector<bool> byFoldersBlocks = chains.directoryBlocks();
  TreeBuilder(chains, lastError).buildByPaths(byPaths);
  EXPECT_EQ(describe(byFolders), describe(byPaths));
  EXPECT_EQ(byFoldersError, lastError);
  EXPECT_EQ(byFoldersBlocks, chains.directoryBlocks());
}

std::u16string withUnit(std::u16string_view head, char16_t unit, std::u16string_view tail = u"") {
  return std::u16string(head) + unit + std::u16string(tail);
}

TEST(TreeBuilder, BuildsWhatTheMapOfPathsBuilds) {
  struct Case {
    const char* name;
    std::function<void(ArchiveBuilder&)> describe;
  };
  const Case cases[] = {
      {"nested folders with files and times",
       [](ArchiveBuilder& b) {
         b.addFolder(u"Docs").modified = 5;
         b.addFile(u"Docs\\a.txt", "a").created = 7;
         b.addFile(u"Docs\\sub\\b.txt", "bb");
         b.addFile(u"docs b\\c", "c");
         b.addFile(u"top", "t");
       }},
      {"names alike once written, files and folders, the first by key keeps the name",
       [](ArchiveBuilder& b) {
         b.addFile(u"s1", "1").storedName = withUnit(u"a", 0xD800, u".txt");
         b.addFile(u"s2", "2").storedName = withUnit(u"a", 0xDC00, u".txt");
         b.addFile(u"s3", "3").storedName = withUnit(u"a", 0xFFFD, u".txt");
         b.addFile(u"f\\in.txt", "in").storedName = u"in.txt";
         b.addFolder(u"f").storedName = withUnit(u"d", 0xDBFF);
         b.addFile(u"g\\other.txt", "o");
         b.addFolder(u"g").storedName = withUnit(u"d", 0xFFFD);
         b.addFile(u"h", "h").storedName = withUnit(u"d", 0xDBFE);
       }},
      {"empty names beside a folder that loses its name, and below it",
       [](ArchiveBuilder& b) {
         b.addFile(u"e", "e").storedName = u"";
         b.addFolder(u"x").storedName = withUnit(u"x", 0xD801);
         b.addFolder(u"y").storedName = withUnit(u"x", 0xDC01);
         b.addFile(u"x\\e", "e").storedName = u"";
         b.addFile(u"y\\e", "e").storedName = u"";
         b.addFile(u"y\\deeper\\e", "e").storedName = u"";
         b.addFile(u"x\\k.txt", "k");
       }},
      {"a malformed directory, a folder leading back to the root's, an empty name below a surrogate",
       [](ArchiveBuilder& b) {
         b.addFile(u"aaa\\inside.txt", "in");
         b.addFile(u"bad\\one.txt", "1");
         b.addFile(u"bad\\two.txt", "2");
         b.addFolder(u"loop").firstBlock = 2;
         b.addFolder(u"loop2").storedName = withUnit(u"loop", 0xDFFF);
         b.addFile(u"loop2\\e", "e").storedName = u"";
         const auto layout = b.layout();
         ASSERT_TRUE(layout);
         const auto offset = layout->itemEntryFileOffset(u"bad\\two.txt");
         ASSERT_TRUE(offset);
         b.settings.patches.push_back({*offset + 46, {0x06, 0xFF}});
       }},
      {"item detail files, taken names among them",
       [](ArchiveBuilder& b) {
         b.addFile(u"a.txt", "a");
         b.addDetailFile(u"", {});
         b.addFile(u"v", "v").storedName = withUnit(u"valdo_item_detail.deposit", 0xD800);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveBuilder builder;
    c.describe(builder);
    expectBothBuildsAgree(builder);
  }
}

TEST(TreeBuilder, BuildsWhatTheMapOfPathsBuildsOfHostileArchives) {
  for (testing::HostileShape& shape : testing::hostileShapes(4096)) {
    SCOPED_TRACE(shape.name);
    expectBothBuildsAgree(shape.builder);
  }
}

}  // namespace
}  // namespace sorvel
