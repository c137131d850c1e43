#include "tree/FolderTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sorvel {
namespace {

ItemRecord recordWithSize(std::uint64_t size, bool folder = false) {
  ItemRecord r;
  r.byteSize = size;
  if (folder) r.attributeBits = kFolderAttribute;
  return r;
}

// \Docs\{a.txt, B, c\{d.bin}} and \zeta.txt, children appended folder by folder.
struct SmallTree {
  FolderTree tree;
  NodeIndex docs, a, b, c, d, zeta;
  SmallTree() {
    docs = tree.appendChild(kTreeRoot, u"Docs", recordWithSize(0, true));
    zeta = tree.appendChild(kTreeRoot, u"zeta.txt", recordWithSize(3));
    a = tree.appendChild(docs, u"a.txt", recordWithSize(7));
    b = tree.appendChild(docs, u"B", recordWithSize(8));
    c = tree.appendChild(docs, u"c", recordWithSize(0, true));
    d = tree.appendChild(c, u"d.bin", recordWithSize(9));
  }
};

TEST(FolderTree, StartsWithTheRootFolderAtBlockTwo) {
  FolderTree tree;
  const TreeNode& root = tree.root();
  EXPECT_EQ(tree.nameOf(root), u"\\");
  EXPECT_TRUE(root.isFolder());
  EXPECT_EQ(root.record.firstBlock(), 2u);
  EXPECT_EQ(root.record.attributes(), 0x10);
  EXPECT_TRUE(tree.children(root).empty());
  EXPECT_EQ(tree.findNode(u"\\\\"), &root);
  EXPECT_EQ(tree.pathOf(kTreeRoot), u"\\");
}

TEST(FolderTree, FindsNodesByPathWithAsciiCaseFolded) {
  SmallTree t;
  const TreeNode* file = t.tree.findNode(u"\\docs\\A.TXT");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(t.tree.indexOf(*file), t.a);
  EXPECT_EQ(t.tree.nameOf(*file), u"a.txt");
  EXPECT_EQ(file->record.size(), 7u);
  EXPECT_EQ(t.tree.findNode(u"\\DOCS\\c\\D.bin"), &t.tree.node(t.d));
  EXPECT_EQ(t.tree.findNode(u"\\docs\\a.txt\\more"), nullptr);  // through a file
  EXPECT_EQ(t.tree.findNode(u"\\docs\\missing"), nullptr);
  EXPECT_EQ(t.tree.findNode(u"\\zeta.txt"), &t.tree.node(t.zeta));
  EXPECT_EQ(t.tree.findChild(t.tree.root(), u"ZETA.TXT"), &t.tree.node(t.zeta));
}

TEST(FolderTree, MakesPathsFromTheNames) {
  SmallTree t;
  EXPECT_EQ(t.tree.pathOf(t.d), u"\\Docs\\c\\d.bin");
  EXPECT_EQ(t.tree.pathOf(t.docs), u"\\Docs");
  std::u16string below = u"X\\";
  t.tree.appendPathBelow(t.docs, t.d, PathJoin::Plain, below);
  EXPECT_EQ(below, u"X\\c\\d.bin");
}

TEST(FolderTree, RefusesANameLongerThanANodeHolds) {
  FolderTree tree;
  EXPECT_EQ(tree.appendChild(kTreeRoot, std::u16string(65536, u'n'), recordWithSize(1)), kNoNode);
  EXPECT_EQ(tree.nodeCount(), 1u);
  EXPECT_NE(tree.appendChild(kTreeRoot, std::u16string(65535, u'n'), recordWithSize(1)), kNoNode);
}

TEST(FolderTree, LeftOutItemsComeAfterTheDeepestNodeOnTheirWay) {
  SmallTree t;
  t.tree.setLeftOut({{LeftOutItem::Why::SameName, u"\\docs\\C", u"\\Docs\\c", u"\\Docs\\"},
                     {LeftOutItem::Why::UnsafeName, u"\\docs\\c\\gone\\x", {}, u"\\docs\\c\\gone\\"}});
  ASSERT_EQ(t.tree.leftOut().size(), 2u);
  EXPECT_EQ(t.tree.leftOut()[0].after, &t.tree.node(t.c));
  EXPECT_EQ(t.tree.leftOut()[1].after, &t.tree.node(t.c));
  t.tree.clearTree();
  EXPECT_TRUE(t.tree.leftOut().empty());
  EXPECT_EQ(t.tree.nodeCount(), 1u);
  EXPECT_EQ(t.tree.findNode(u"\\docs"), nullptr);
}

// The walk: depth first, a folder before its contents, siblings in name order, paths made from
// the start path as given; a folder the visitor declines is not entered.
TEST(FolderTree, WalksDepthFirstMakingEachPath) {
  SmallTree t;
  struct Case {
    std::u16string_view start;
    PathJoin join;
    bool enterC;
    std::vector<std::u16string> paths;
    std::vector<std::size_t> depths;
  };
  const Case cases[] = {
      {u"\\",
       PathJoin::AsPrefix,
       true,
       {u"\\Docs", u"\\Docs\\a.txt", u"\\Docs\\B", u"\\Docs\\c", u"\\Docs\\c\\d.bin", u"\\zeta.txt"},
       {0, 1, 1, 1, 2, 0}},
      {u"\\",
       PathJoin::Plain,
       false,
       {u"\\Docs", u"\\Docs\\a.txt", u"\\Docs\\B", u"\\Docs\\c", u"\\zeta.txt"},
       {0, 1, 1, 1, 0}},
      {u"\\DOCS\\\\",
       PathJoin::AsPrefix,
       true,
       {u"\\DOCS\\a.txt", u"\\DOCS\\B", u"\\DOCS\\c", u"\\DOCS\\c\\d.bin"},
       {0, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    std::vector<std::u16string> paths;
    std::vector<std::size_t> depths;
    const TreeNode* start = t.tree.findNode(c.start);
    ASSERT_NE(start, nullptr);
    walkBelow(t.tree, t.tree.indexOf(*start), c.start, c.join, [&](const WalkedItem& item) {
      paths.push_back(item.path);
      depths.push_back(item.depth);
      EXPECT_EQ(&t.tree.node(item.index), &item.node);
      return c.enterC || item.index != t.c;
    });
    EXPECT_EQ(paths, c.paths);
    EXPECT_EQ(depths, c.depths);
  }
  std::vector<std::u16string> none;
  walkBelow(t.tree, t.a, u"\\Docs\\a.txt", PathJoin::Plain, [&](const WalkedItem& item) {
    none.push_back(item.path);
    return true;
  });
  EXPECT_TRUE(none.empty());  // a file has nothing below it
}

// A folder name ending in a slash: a listing drops it from the paths below (as folderPrefix
// does), the tool's walk keeps it.
TEST(FolderTree, JoinsAFolderEndingInASlashAsAsked) {
  FolderTree tree;
  const NodeIndex slash = tree.appendChild(kTreeRoot, u"s/", recordWithSize(0, true));
  const NodeIndex inner = tree.appendChild(slash, u"x", recordWithSize(1));
  for (const auto& [join, expected] :
       {std::pair{PathJoin::AsPrefix, u"\\s\\x"}, std::pair{PathJoin::Plain, u"\\s/\\x"}}) {
    std::vector<std::u16string> paths;
    walkBelow(tree, kTreeRoot, u"\\", join, [&](const WalkedItem& item) {
      paths.push_back(item.path);
      return true;
    });
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_EQ(paths[1], expected);
    std::u16string made(kRootPath);
    tree.appendPathBelow(kTreeRoot, inner, join, made);
    EXPECT_EQ(made, expected);
  }
}

TEST(FolderTree, WalksAVeryDeepTreeWithoutRecursion) {
  FolderTree tree;
  NodeIndex folder = kTreeRoot;
  for (int depth = 0; depth < 200000; ++depth) folder = tree.appendChild(folder, u"d", recordWithSize(0, true));
  std::size_t visited = 0;
  std::size_t deepest = 0;
  walkBelow(tree, kTreeRoot, u"\\", PathJoin::Plain, [&](const WalkedItem& item) {
    ++visited;
    deepest = item.depth;
    return true;
  });
  EXPECT_EQ(visited, 200000u);
  EXPECT_EQ(deepest, 199999u);
}

}  // namespace
}  // namespace sorvel
