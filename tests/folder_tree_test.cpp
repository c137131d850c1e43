#include "tree/FolderTree.h"

#include <gtest/gtest.h>

namespace sorvel {
namespace {

ItemRecord recordWithSize(std::uint64_t size, bool folder = false) {
  ItemRecord r;
  storeU64(r.entry.raw.data() + 2, size);
  if (folder) r.entry.raw[1] = kFolderAttribute;
  return r;
}

TEST(FolderTree, StartsWithTheRootFolderAtBlockTwo) {
  FolderTree tree;
  const SvFolder& root = tree.root();
  EXPECT_EQ(root.name, u"\\");
  EXPECT_TRUE(root.record.isFolder());
  EXPECT_EQ(root.record.firstBlock(), 2u);
  EXPECT_EQ(root.record.attributes(), 0x10);
  EXPECT_EQ(entrySignature(root.record.entry.raw), 0xFF05);
  EXPECT_TRUE(root.children.empty());
  EXPECT_EQ(tree.findNode(u"\\\\"), &root);
}

TEST(FolderTree, AddsFoldersAndFilesByPath) {
  FolderTree tree;
  EXPECT_TRUE(tree.addFolder(u"\\Docs\\", recordWithSize(0, true)));
  EXPECT_TRUE(tree.addFile(u"\\Docs\\a.txt", recordWithSize(7)));
  EXPECT_FALSE(tree.addFile(u"\\DOCS\\A.TXT", recordWithSize(8)));  // name taken, case folded
  EXPECT_FALSE(tree.addFile(u"\\missing\\b.txt", recordWithSize(1)));
  EXPECT_FALSE(tree.addFile(u"\\", recordWithSize(1)));  // no leaf
  EXPECT_FALSE(tree.addFolder(u"\\docs\\a.txt\\sub\\", recordWithSize(0, true)));  // through a file

  const FolderItemNode* file = tree.findNode(u"\\docs\\A.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->name, u"a.txt");
  EXPECT_EQ(file->record.size(), 7u);
  EXPECT_EQ(tree.findNode(u"\\docs\\a.txt\\more"), nullptr);

  auto [parent, leaf] = tree.findParentFolder(u"\\docs\\new");
  EXPECT_EQ(parent, tree.findNode(u"\\docs"));
  EXPECT_EQ(leaf, u"new");
  EXPECT_EQ(tree.findParentFolder(u"\\docs\\a.txt\\x").first, nullptr);
}

TEST(FolderTree, AddFolderCreatesMissingFoldersWithTheGivenRecord) {
  FolderTree tree;
  EXPECT_TRUE(tree.addFolder(u"\\a\\b\\", recordWithSize(5, true)));
  const FolderItemNode* a = tree.findNode(u"\\a");
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->isFolder());
  EXPECT_EQ(a->record.size(), 5u);
  // An existing folder keeps its name and record.
  EXPECT_TRUE(tree.addFolder(u"\\A\\", recordWithSize(9, true)));
  EXPECT_EQ(tree.findNode(u"\\a")->name, u"a");
  EXPECT_EQ(tree.findNode(u"\\a")->record.size(), 5u);
}

TEST(FolderTree, ClearsAVeryDeepTreeWithoutRecursion) {
  FolderTree tree;
  const std::u16string name(1, u'd');
  SvFolder* folder = &tree.root();
  for (int depth = 0; depth < 200000; ++depth) {
    auto child = std::make_unique<SvFolder>();
    child->name = name;
    SvFolder* next = child.get();
    folder->children.emplace(name, std::move(child));
    folder = next;
  }
  tree.clearTree();
  EXPECT_TRUE(tree.root().children.empty());
}

}  // namespace
}  // namespace sorvel
