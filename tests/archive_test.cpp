#include "archive/Archive.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "base/ByteOrder.h"
#include "platform/ReadOnlyFile.h"
#include "support/ArchiveBuilder.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

using testing::ArchiveBuilder;
using testing::BlockList;
using testing::bytesOf;

// Builds the archive, then checks the password and opens it as the front end would.
struct Opened {
  testing::TempDir dir;
  std::filesystem::path path;
  std::unique_ptr<Archive> archive;
  bool passwordOk = false;
  bool opened = false;

  Opened(const ArchiveBuilder& builder, const Bytes& password) : path(dir.file("archive.sva")) {
    EXPECT_TRUE(builder.writeTo(path));
    archive = std::make_unique<Archive>();
    passwordOk = archive->checkPassword(path.string(), password);
    if (passwordOk) opened = archive->open(path.string());
  }
};

void addSampleTree(ArchiveBuilder& builder) {
  auto& readme = builder.addFile(u"readme.md", "read me");
  readme.created = 0;
  readme.modified = 1000000000;
  readme.accessed = 4102444800;  // beyond 2^31
  builder.addFile(u"docs\\note.txt", Bytes(20000, 0x4E)).attributes = 0x21;
  builder.addFolder(u"docs\\empty");
  builder.addFile(u"docs\\frag.bin", testing::generateContent(testing::seededContent(7), 0, 40000)).blocks =
      BlockList{40, 30, 31};
}

TEST(ArchiveOpen, BuildsTheWholeTreeForEveryCipherCombination) {
  struct Case {
    std::uint8_t keyBlockCipher, dataCipher;
    std::string password;
  };
  const Case cases[] = {
      {1, 1, "correct horse"},
      {1, 2, "blow-fish"},
      {1, 3, "xts-pass"},
      {2, 1, "p\xC3\xA4sswort"},
      {2, 2, "bf"},
      {2, 3, "12345678-and-more"},
      // Without a password the key block and the data are stored plain, whatever the codes say.
      {1, 1, ""},
      {0, 3, ""},
      {0, 1, ""},
      {0, 2, ""},
      {1, 0, ""},
      {2, 0, ""},
      {0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.keyBlockCipher) << "/" << int(c.dataCipher) << " '" << c.password
                                      << "'");
    ArchiveBuilder builder;
    builder.settings.keyBlockCipher = c.keyBlockCipher;
    builder.settings.dataCipher = c.dataCipher;
    builder.settings.password = bytesOf(c.password);
    addSampleTree(builder);
    Opened o(builder, bytesOf(c.password));
    ASSERT_TRUE(o.passwordOk);
    ASSERT_TRUE(o.opened);

    ItemRecord r;
    ASSERT_TRUE(o.archive->findItem(u"\\README.MD", r));
    EXPECT_EQ(r.size(), 7u);
    EXPECT_EQ(r.created, 0);
    EXPECT_EQ(r.modified, 1000000000);
    EXPECT_EQ(r.accessed, 4102444800);
    ASSERT_TRUE(o.archive->findItem(u"\\docs\\note.txt", r));
    EXPECT_EQ(r.attributes(), 0x21);
    ASSERT_TRUE(o.archive->findItem(u"\\docs\\frag.bin", r));
    EXPECT_EQ(r.firstBlock(), 40u);

    Bytes content;
    EXPECT_EQ(o.archive->readContent(u"\\docs\\frag.bin", content), 40000u);
    EXPECT_EQ(content, testing::generateContent(testing::seededContent(7), 0, 40000));
    EXPECT_EQ(o.archive->readContent(u"\\docs\\note.txt", content), 20000u);
    EXPECT_EQ(content, Bytes(20000, 0x4E));

    std::vector<std::u16string> paths;
    std::vector<DetailRecordRef> details;
    std::vector<const ItemRecord*> records;
    o.archive->listItems(u"\\", paths, details, &records);
    EXPECT_EQ(paths, (std::vector<std::u16string>{u"\\docs", u"\\docs\\empty", u"\\docs\\frag.bin", u"\\docs\\note.txt",
                                                  u"\\readme.md"}));
    EXPECT_EQ(details.size(), paths.size());
    ASSERT_EQ(records.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
      ItemRecord found;
      ASSERT_TRUE(o.archive->findItem(paths[i], found));
      EXPECT_TRUE(*records[i] == found) << i;
    }
  }
}

TEST(ArchiveOpen, RefusesWhatCannotBeTrusted) {
  struct Case {
    const char* what;
    std::function<void(ArchiveBuilder&)> damage;
    bool opens;
    std::uint32_t lastError;
  };
  const Case cases[] = {
      {"intact", [](ArchiveBuilder&) {}, true, 0},
      {"header signature byte-swapped", [](ArchiveBuilder& b) { b.settings.headerSignature = 0x01FF; }, false, 0},
      {"key record signature", [](ArchiveBuilder& b) { b.settings.keyRecordSignature = 0xFF12; }, false, 0},
      {"key block end signature", [](ArchiveBuilder& b) { b.settings.keyBlockEndSignature = 0xFF02; }, false, 0},
      {"magic byte 21",
       [](ArchiveBuilder& b) {
         b.settings.patches.push_back({21, {'!'}});
       },
       false, 467},
      {"bytes after the magic's end are free",
       [](ArchiveBuilder& b) {
         b.settings.patches.push_back({25, {'x'}});
       },
       true, 0},
      {"lastBlock 0", [](ArchiveBuilder& b) { b.settings.lastBlock = 0; }, false, 467},
      {"lastBlock 1", [](ArchiveBuilder& b) { b.settings.lastBlock = 1; }, false, 467},
      {"lastBlock 2", [](ArchiveBuilder& b) { b.settings.lastBlock = 2; }, true, 0},
      {"paramWord 256", [](ArchiveBuilder& b) { b.settings.paramWord = 256; }, true, 0},
      {"paramWord 257", [](ArchiveBuilder& b) { b.settings.paramWord = 257; }, false, 467},
      {"block 2 free", [](ArchiveBuilder& b) { b.settings.chainOverrides[2] = 0; }, false, 467},
      {"chain table of 2 entries", [](ArchiveBuilder& b) { b.settings.statedChainEntryCount = 2; }, false, 467},
      {"chain table larger than the file", [](ArchiveBuilder& b) { b.settings.statedChainEntryCount = 0xFFFFFFFF; },
       false, 467},
      {"data cipher that does not exist", [](ArchiveBuilder& b) { b.settings.dataCipher = 7; }, false, 467},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ArchiveBuilder builder;
    builder.settings.password = bytesOf("pw1");
    builder.addFile(u"a.txt", "alpha");
    c.damage(builder);
    Opened o(builder, bytesOf("pw1"));
    ASSERT_TRUE(o.passwordOk);
    EXPECT_EQ(o.opened, c.opens);
    EXPECT_EQ(o.archive->lastError(), c.lastError);
  }
}

TEST(ArchiveOpen, OpensAnArchiveWithoutWritePermission) {
  ArchiveBuilder builder;
  builder.addFile(u"a.txt", "alpha");
  testing::TempDir dir;
  const std::filesystem::path path = dir.file("archive.sva");
  ASSERT_TRUE(builder.writeTo(path));
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  Archive archive;
  EXPECT_TRUE(archive.checkPassword(path.string(), {}));
  EXPECT_TRUE(archive.open(path.string()));
}

TEST(ArchiveTree, VoidsOnlyTheFolderWithADamagedDirectory) {
  ArchiveBuilder builder;
  builder.addFile(u"aaa\\inside.txt", "in");
  builder.addFile(u"bad\\one.txt", "1");
  builder.addFile(u"bad\\two.txt", "2");
  builder.addFile(u"zzz\\after.txt", "after");
  builder.addFolder(u"loop").firstBlock = 2;  // leads back to the root directory
  const auto layout = builder.layout();
  ASSERT_TRUE(layout);
  const auto offset = layout->itemEntryFileOffset(u"bad\\two.txt");
  ASSERT_TRUE(offset);
  builder.settings.patches.push_back({*offset + 46, {0x06, 0xFF}});
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);

  ItemRecord r;
  EXPECT_TRUE(o.archive->findItem(u"\\aaa\\inside.txt", r));
  EXPECT_TRUE(o.archive->findItem(u"\\zzz\\after.txt", r));
  EXPECT_TRUE(o.archive->findItem(u"\\bad", r));
  EXPECT_FALSE(o.archive->findItem(u"\\bad\\one.txt", r));  // the items before the bad entry go too
  EXPECT_TRUE(o.archive->isDamagedFolder(u"\\bad"));
  EXPECT_TRUE(o.archive->isDamagedFolder(u"\\loop"));
  EXPECT_FALSE(o.archive->isDamagedFolder(u"\\aaa"));
  EXPECT_FALSE(o.archive->isDamagedFolder(u"\\"));
  NameMap<ItemRecord> children;
  ASSERT_TRUE(o.archive->listChildren(u"\\loop", children));
  EXPECT_TRUE(children.empty());
}

TEST(ArchiveTree, FreeOrEmptyDirectoriesAreOrdinaryEmptyFolders) {
  ArchiveBuilder builder;
  builder.addFolder(u"free").directory.allocate = false;  // first block 0
  builder.addFolder(u"empty");
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);
  EXPECT_FALSE(o.archive->isDamagedFolder(u"\\free"));
  EXPECT_FALSE(o.archive->isDamagedFolder(u"\\empty"));
}

TEST(ArchiveTree, ReadsADirectorySpanningBlocksWithEntriesAcrossBoundaries) {
  ArchiveBuilder builder;
  builder.rootDirectory.blocks = BlockList{2, 9, 5};
  std::vector<std::u16string> names;
  for (int i = 0; i < 400; ++i) {  // 400 groups of 96 bytes: 38400 bytes over three blocks
    names.push_back(u"file" + std::u16string(1, char16_t(u'A' + i / 26 % 26)) +
                    std::u16string(1, char16_t(u'a' + i % 26)) + std::u16string(1, char16_t(u'0' + i / 676)));
    builder.addFile(names.back(), Bytes{static_cast<std::uint8_t>(i)});
  }
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);
  NameMap<ItemRecord> children;
  ASSERT_TRUE(o.archive->listChildren(u"\\", children));
  EXPECT_EQ(children.size(), names.size());
  Bytes content;
  EXPECT_EQ(o.archive->readContent(u"\\" + names[399], content), 1u);
  EXPECT_EQ(content, Bytes{static_cast<std::uint8_t>(399 % 256)});
}

TEST(ArchiveLookup, FollowsThePathRules) {
  ArchiveBuilder builder;
  builder.addFile(u"Docs\\A.txt", "a");
  builder.addFile(u"sl/ash", "s");
  builder.addFile(u"\u00C9t\u00E9", "e");
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);
  ItemRecord r;
  for (const char16_t* path : {u"\\", u"", u"\\\\\\"}) {
    ASSERT_TRUE(o.archive->findItem(path, r));
    EXPECT_EQ(r.firstBlock(), 2u);
    EXPECT_EQ(r.attributes(), 0x10);
  }
  EXPECT_TRUE(o.archive->findItem(u"\\docs\\a.TXT\\", r));
  EXPECT_TRUE(o.archive->findItem(u"docs\\", r));
  EXPECT_TRUE(o.archive->findItem(u"\\sl/ash", r));
  EXPECT_FALSE(o.archive->findItem(u"\\sl\\ash", r));
  EXPECT_TRUE(o.archive->findItem(u"\\\u00C9t\u00E9", r));
  EXPECT_FALSE(o.archive->findItem(u"\\\u00E9t\u00E9", r));  // only ASCII letters fold
  EXPECT_FALSE(o.archive->findItem(u"\\docs\\a.txt\\more", r));
  Bytes content{1, 2};
  EXPECT_EQ(o.archive->readContent(u"\\missing", content), 0u);
  EXPECT_EQ(content, (Bytes{1, 2}));  // left untouched
}

TEST(ArchiveDetails, HandsOutEachItemsRecordAndHidesTheDetailFile) {
  ArchiveBuilder builder;
  builder.addFile(u"docs\\a.txt", "a");
  builder.addFile(u"docs\\b.txt", "b");
  builder.addFile(u"top.txt", "t");
  testing::DetailFileContents docs;
  docs.records.push_back({u"A.TXT", bytesOf("one"), bytesOf("two"), {}, {}, {}, {}});
  builder.addDetailFile(u"docs", docs);
  testing::DetailFileContents root;
  root.records.push_back({u"top.txt", bytesOf("root blob"), {}, {}, {}, {}, {}});
  builder.addDetailFile(u"", root);
  builder.addFile(u"other\\VALDO_ITEM_DETAIL.DEPOSIT\\x", "in a folder named like it");  // left out too
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);

  std::vector<std::u16string> paths;
  std::vector<DetailRecordRef> details;
  o.archive->listItems(u"\\", paths, details);
  ASSERT_EQ(paths,
            (std::vector<std::u16string>{u"\\docs", u"\\docs\\a.txt", u"\\docs\\b.txt", u"\\other", u"\\top.txt"}));
  EXPECT_EQ(details[0], nullptr);
  ASSERT_NE(details[1], nullptr);
  EXPECT_EQ(details[1]->firstBlob, bytesOf("one"));
  EXPECT_EQ(details[1]->secondBlob, bytesOf("two"));
  EXPECT_EQ(details[2], nullptr);
  EXPECT_EQ(details[3], nullptr);
  ASSERT_NE(details[4], nullptr);
  EXPECT_EQ(details[4]->firstBlob, bytesOf("root blob"));

  ItemRecord r;
  EXPECT_TRUE(o.archive->findItem(u"\\docs\\valdo_item_detail.deposit", r));
  Bytes content;
  EXPECT_GT(o.archive->readContent(u"\\docs\\Valdo_Item_Detail.deposit", content), 0u);
}

TEST(ArchiveDetails, TheCacheKeepsAThousandTablesAndEvictsTheOldest) {
  ArchiveBuilder builder;
  for (int i = 0; i < 1001; ++i) {
    const std::u16string folder = u"f" + std::u16string(1, char16_t(0x4E00 + i));
    builder.addFile(folder + u"\\x", "x");
    testing::DetailFileContents table;
    table.records.push_back({u"x", {}, {}, {}, {}, {}, {}});
    builder.addDetailFile(folder, table);
  }
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);
  auto folder = [](int i) { return u"\\f" + std::u16string(1, char16_t(0x4E00 + i)); };
  auto loadsFor = [&](int i) {
    const auto before = o.archive->detailTableLoads();
    EXPECT_NE(o.archive->detailRecordFor(folder(i) + u"\\x"), nullptr);
    return o.archive->detailTableLoads() - before;
  };
  EXPECT_EQ(loadsFor(0), 1u);
  EXPECT_EQ(loadsFor(0), 0u);  // served from the cache
  for (int i = 1; i < 1000; ++i) EXPECT_EQ(loadsFor(i), 1u);
  EXPECT_EQ(loadsFor(0), 0u);     // a thousand tables fit; folder 0 is now the most recent
  EXPECT_EQ(loadsFor(1000), 1u);  // the 1001st evicts the least recently used: folder 1
  EXPECT_EQ(loadsFor(0), 0u);
  EXPECT_EQ(loadsFor(2), 0u);
  EXPECT_EQ(loadsFor(1), 1u);  // read again from its file
}

// A detail file whose chain runs on through thousands of blocks the file does not hold, claiming
// a blob that only those blocks could hold: refused, without reading a block past the end.
TEST(ArchiveHostile, DetailTablesAreReadOnlyFromBlocksTheFileHolds) {
  ArchiveBuilder builder;
  builder.addFile(u"a.txt", "a");
  testing::DetailFileContents table;
  table.records.push_back({u"a.txt", bytesOf("blob"), {}, {}, 40u << 20, {}, {}});
  builder.addDetailFile(u"", table);
  builder.settings.extraChainEntries = 4000;
  const auto layout = builder.layout();
  ASSERT_TRUE(layout);
  const std::uint32_t detailBlock = layout->find(u"valdo_item_detail.deposit")->blocks.front();
  const std::uint32_t pastEnd = layout->highestBlock + 1;
  builder.settings.chainOverrides[detailBlock] = pastEnd;
  for (std::uint32_t b = pastEnd; b + 1 < layout->highestBlock + 4000; ++b) builder.settings.chainOverrides[b] = b + 1;
  builder.settings.chainOverrides[layout->highestBlock + 3999] = 1;
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);

  EXPECT_EQ(o.archive->detailRecordFor(u"\\a.txt"), nullptr);
  EXPECT_EQ(o.archive->lastError(), kErrorMalformedDetailTable);
}

// Folder keys stop growing at 32767 units: the folder whose key would pass that is kept, marked
// damaged and left empty, and nothing below it is read.
TEST(ArchiveHostile, FoldersNestedPastTheLongestPathAreLeftEmpty) {
  ArchiveBuilder builder;
  const std::u16string name(1200, u'n');
  std::u16string path;
  std::vector<std::u16string> folders;
  for (int level = 0; level < 30; ++level) {
    path += u"\\" + name;
    folders.push_back(path);
  }
  builder.addFile(path + u"\\leaf.txt", "leaf");
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);

  // A folder's key is one backslash and 1201 units per level: level 27 (index 26) still fits.
  ItemRecord r;
  EXPECT_TRUE(o.archive->findItem(folders[26], r));
  EXPECT_FALSE(o.archive->isDamagedFolder(folders[26]));
  EXPECT_TRUE(o.archive->findItem(folders[27], r));
  EXPECT_TRUE(o.archive->isDamagedFolder(folders[27]));
  EXPECT_FALSE(o.archive->findItem(folders[28], r));
  std::vector<std::u16string> paths;
  std::vector<DetailRecordRef> details;
  o.archive->listItems(u"\\", paths, details);
  EXPECT_EQ(paths.size(), 28u);
}

// A directory whose chain runs into the blocks of another directory ends there: it keeps the
// items before, and is reported damaged. A folder that starts inside another directory is empty.
TEST(ArchiveHostile, DirectoriesEndWhereTheyRunIntoAnotherDirectory) {
  ArchiveBuilder builder;
  builder.addFile(u"a\\one.txt", "1");
  builder.addFile(u"b\\two.txt", "2");
  builder.addFolder(u"c");
  const auto layout = builder.layout();
  ASSERT_TRUE(layout);
  const std::uint32_t aBlock = layout->find(u"a")->blocks.front();
  builder.settings.chainOverrides[layout->find(u"b")->blocks.front()] = aBlock;  // b's chain: its block, then a's
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);

  ItemRecord r;
  EXPECT_TRUE(o.archive->findItem(u"\\a\\one.txt", r));
  EXPECT_FALSE(o.archive->isDamagedFolder(u"\\a"));
  EXPECT_TRUE(o.archive->findItem(u"\\b\\two.txt", r));
  EXPECT_FALSE(o.archive->findItem(u"\\b\\one.txt", r));
  EXPECT_TRUE(o.archive->isDamagedFolder(u"\\b"));
}

TEST(ArchiveHostile, AFolderStartingInsideAnotherDirectoryIsEmptyAndDamaged) {
  ArchiveBuilder builder;
  builder.rootDirectory.blocks = BlockList{2, 3};
  for (int i = 0; i < 200; ++i)
    builder.addFile(u"f" + std::u16string(1, char16_t(0x4E00 + i)));  // two blocks of groups
  builder.addFolder(u"inside").firstBlock = 3;                        // the root directory's second block
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);
  NameMap<ItemRecord> children;
  ASSERT_TRUE(o.archive->listChildren(u"\\inside", children));
  EXPECT_TRUE(children.empty());
  EXPECT_TRUE(o.archive->isDamagedFolder(u"\\inside"));
  ASSERT_TRUE(o.archive->listChildren(u"\\", children));
  EXPECT_EQ(children.size(), 201u);
}

// All keys together are bounded by the size of the archive: items below paths of tens of
// thousands of units stop being taken once the keys would outgrow it, and their folder is
// reported damaged.
TEST(ArchiveHostile, TheKeysOfTheTreeStayWithinABoundSetByTheArchiveSize) {
  ArchiveBuilder builder;
  const std::u16string name(1200, u'n');
  std::u16string deepest;
  for (int level = 0; level < 26; ++level) deepest += u"\\" + name;
  const int files = 1200;  // 1200 keys of about 31000 units: more than the bound allows
  for (int i = 0; i < files; ++i) builder.addFile(deepest + u"\\" + std::u16string(1, char16_t(0x4E00 + i)));
  Opened o(builder, {});
  ASSERT_TRUE(o.opened);

  NameMap<ItemRecord> children;
  ASSERT_TRUE(o.archive->listChildren(deepest, children));
  EXPECT_GT(children.size(), 100u);
  EXPECT_LT(children.size(), static_cast<std::size_t>(files));
  EXPECT_TRUE(o.archive->isDamagedFolder(deepest));
}

// The front end opens the archive once; the header, the password check and the opening all
// read that one file, whatever the name stands for by then. Opening never waits on a FIFO.
TEST(ArchiveFile, EverythingIsReadThroughTheFileOpenedOnce) {
  testing::TempDir dir;
  ArchiveBuilder first;
  first.settings.password = bytesOf("first");
  first.addFile(u"first.txt", "1");
  ArchiveBuilder second;
  second.settings.password = bytesOf("second");
  second.addFile(u"second.txt", "2");
  const std::string path = dir.file("archive.sva");
  const std::string other = dir.file("other.sva");
  ASSERT_TRUE(first.writeTo(path));
  ASSERT_TRUE(second.writeTo(other));

  ReadOnlyFile file;
  ASSERT_TRUE(file.open(path));
  std::filesystem::rename(other, path);  // replaced while, say, the prompt waits
  Archive archive;
  ASSERT_TRUE(archive.attach(std::move(file)));
  EXPECT_FALSE(archive.checkPassword(bytesOf("second")));
  ASSERT_TRUE(archive.checkPassword(bytesOf("first")));
  ASSERT_TRUE(archive.open());
  ItemRecord record;
  EXPECT_TRUE(archive.findItem(u"\\first.txt", record));
  EXPECT_FALSE(archive.findItem(u"\\second.txt", record));

  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ReadOnlyFile notRegular;
  EXPECT_FALSE(notRegular.open(fifo));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_FALSE(notRegular.open(dir.path()));
  EXPECT_EQ(errno, EINVAL);
}

}  // namespace
}  // namespace sorvel
