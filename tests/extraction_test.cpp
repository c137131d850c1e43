// The whole program on archives made by the test builder: what lands on disk, and what is
// reported for everything that cannot land there.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "platform/Utf16.h"
#include "support/ArchiveBuilder.h"
#include "support/FileTree.h"
#include "support/ProcessRunner.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::ArchiveBuilder;
using testing::BlockList;
using testing::bytesOf;
using testing::listTree;

Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Extraction : public ::testing::Test {
 protected:
  // Writes the archive, runs the program on it with the password on standard input.
  testing::ProcessResult run(const ArchiveBuilder& builder, const std::string& password = {},
                             const std::string& outName = "out") {
    archive_ = dir_.file("archive.sva");
    EXPECT_TRUE(builder.writeTo(archive_));
    out_ = dir_.file(outName);
    return testing::runSorvel({archive_, out_}, password + "\n", dir_.path());
  }
  // Writes the archive and runs the program on it into out/ under a file-size limit of 64 KiB
  // (128 blocks of 512 bytes), with SIGXFSZ ignored so that writes past it fail with EFBIG the
  // way a full disk fails them.
  testing::ProcessResult runWithSmallFileLimit(const ArchiveBuilder& builder) {
    archive_ = dir_.file("archive.sva");
    EXPECT_TRUE(builder.writeTo(archive_));
    testing::ProcessRequest request;
    request.program = "/bin/sh";
    request.args = {"-c", "ulimit -f 128; trap '' XFSZ; exec \"$0\" \"$@\"", SORVEL_EXE, archive_, dir_.file("out")};
    request.workingDirectory = dir_.path();
    return testing::runProcess(request);
  }
  fs::path out(const std::string& relative = {}) const {
    return relative.empty() ? fs::path(out_) : fs::path(out_) / relative;
  }

  testing::TempDir dir_;
  std::string archive_;
  std::string out_;
};

void expectFile(const fs::path& path, const Bytes& content, std::int64_t modified, std::int64_t accessed,
                bool readOnly) {
  SCOPED_TRACE(path.string());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mtim.tv_sec, modified);
  EXPECT_EQ(st.st_atim.tv_sec, accessed);
  EXPECT_EQ((st.st_mode & S_IWUSR) == 0, readOnly);
  EXPECT_EQ(readFile(path), content);
}

TEST_F(Extraction, EveryCipherCombinationComesBackByteForByte) {
  struct Case {
    std::uint8_t keyBlockCipher, dataCipher;
    std::string password;
  };
  const Case cases[] = {
      {1, 1, "correct horse"}, {1, 2, "blow-fish-7"}, {1, 3, "xts-pass"}, {2, 1, "p\xC3\xA4ssw\xC3\xB6rd"},
      {2, 2, "bf-bf"},         {2, 3, "two-three"},   {1, 1, ""},         {3, 3, ""}};
  const Bytes big = testing::generateContent(testing::seededContent(3), 0, 100000);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.keyBlockCipher) << "/" << int(c.dataCipher));
    ArchiveBuilder builder;
    builder.settings.keyBlockCipher = c.keyBlockCipher;
    builder.settings.dataCipher = c.dataCipher;
    builder.settings.password = bytesOf(c.password);
    auto& ro = builder.addFile(u"docs\\read-only.txt", "keep me");
    ro.attributes = 0x21;
    ro.modified = 1500000000;
    ro.accessed = 1600000000;
    auto& empty = builder.addFile(u"docs\\empty.dat", Bytes{});
    empty.modified = 0;
    empty.accessed = 4102444800;
    builder.addFile(u"one-block.bin", Bytes(16384, 0x11));
    builder.addFile(u"one-block-and-a-byte.bin", Bytes(16385, 0x22));
    builder.addFile(u"fragmented.bin", big).blocks = BlockList{60, 61, 50, 51, 52, 53, 70};
    builder.addFolder(u"nothing here");
    const auto result =
        run(builder, c.password,
            "out" + std::to_string(c.keyBlockCipher) + std::to_string(c.dataCipher) + (c.password.empty() ? "p" : ""));
    ASSERT_EQ(result.exitCode, 0) << result.stderrText;
    EXPECT_EQ(result.stderrText, "");
    EXPECT_EQ(result.stdoutLines().back(), "Archive extracted successfully! ");
    expectFile(out("docs/read-only.txt"), bytesOf("keep me"), 1500000000, 1600000000, true);
    expectFile(out("docs/empty.dat"), {}, 0, 4102444800, false);
    EXPECT_EQ(readFile(out("one-block.bin")), Bytes(16384, 0x11));
    EXPECT_EQ(readFile(out("one-block-and-a-byte.bin")), Bytes(16385, 0x22));
    EXPECT_EQ(readFile(out("fragmented.bin")), big);
    EXPECT_TRUE(fs::is_directory(out("nothing here")));
    EXPECT_EQ(listTree(out()).size(), 7u);
  }
}

TEST_F(Extraction, ItemDetailFilesStayInTheArchiveInAnyLetterCase) {
  ArchiveBuilder builder;
  builder.addFile(u"a.txt", "a");
  testing::DetailFileContents table;
  table.records.push_back({u"a.txt", bytesOf("blob"), {}, {}, {}, {}, {}});
  builder.addDetailFile(u"", table);
  builder.addFile(u"sub\\VALDO_ITEM_DETAIL.DEPOSIT", "upper case");
  builder.addFile(u"sub\\b.txt", "b");
  const auto result = run(builder);
  ASSERT_EQ(result.exitCode, 0) << result.stderrText;
  EXPECT_EQ(listTree(out()), (std::vector<std::string>{"a.txt", "sub/", "sub/b.txt"}));
}

TEST_F(Extraction, ReplacesAnExistingFileButKeepsAReadOnlyOne) {
  ArchiveBuilder builder;
  builder.addFile(u"writable.txt", "new");
  builder.addFile(u"locked.txt", "new");
  builder.addFile(u"zz.txt", "after");
  dir_.writeFile("out/writable.txt", "old content, longer than the new one");
  const std::string locked = dir_.writeFile("out/locked.txt", "old");
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  const auto result = run(builder);
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{"Error: can not extract: \\locked.txt: Permission denied",
                                                            "Error: archive extracted with errors!"}));
  EXPECT_EQ(readFile(out("writable.txt")), bytesOf("new"));
  EXPECT_EQ(readFile(out("locked.txt")), bytesOf("old"));
  EXPECT_EQ(readFile(out("zz.txt")), bytesOf("after"));
  EXPECT_EQ(listTree(out()), (std::vector<std::string>{"locked.txt", "writable.txt", "zz.txt"}));  // no leftovers
}

TEST_F(Extraction, TrailingSeparatorsOnTheOutputFolderChangeNothing) {
  ArchiveBuilder builder;
  builder.addFile(u"d\\f.txt", "f");
  const auto result = run(builder, {}, "out//");
  ASSERT_EQ(result.exitCode, 0) << result.stderrText;
  EXPECT_EQ(readFile(dir_.file("out/d/f.txt")), bytesOf("f"));
}

TEST_F(Extraction, UnsafeNamesAreNeverWrittenAndEachIsReported) {
  ArchiveBuilder builder;
  builder.addFile(u"..\\x.txt", "escape");
  builder.addFile(u"..\\y\\z.txt", "deeper");
  builder.addFile(u".\\dot.txt", "dot");
  builder.addFile(u"ok.txt", "fine");
  builder.addFile(u"...", "dots");
  builder.addFile(u"slash", "s").storedName = u"a/b.txt";
  dir_.makeDir("deep");
  const auto result = run(builder, {}, "deep/out");
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{
                                      "Error: can not extract: \\.: unsafe name",
                                      "Error: can not extract: \\.\\dot.txt: unsafe name",
                                      "Error: can not extract: \\..: unsafe name",
                                      "Error: can not extract: \\..\\x.txt: unsafe name",
                                      "Error: can not extract: \\..\\y: unsafe name",
                                      "Error: can not extract: \\..\\y\\z.txt: unsafe name",
                                      "Error: can not extract: \\a/b.txt: unsafe name",
                                      "Error: archive extracted with errors!",
                                  }));
  EXPECT_EQ(listTree(dir_.file("deep")), (std::vector<std::string>{"out/", "out/...", "out/ok.txt"}));
  EXPECT_FALSE(fs::exists(dir_.file("x.txt")));
  EXPECT_FALSE(fs::exists(dir_.file("deep/x.txt")));
  EXPECT_FALSE(fs::exists(dir_.file("deep/y")));
}

// Items the archive holds but that cannot have a place of their own on disk: the first under a
// name is written, every later one is told in listing order, and the run ends with errors.
TEST_F(Extraction, NothingIsLostWithoutAWord) {
  struct Case {
    const char* name;
    std::function<void(ArchiveBuilder&)> describe;
    std::vector<std::string> tree;   // what lands on disk
    std::vector<std::string> lines;  // the lines reported before the closing one
  };
  const std::string fffd = "\xEF\xBF\xBD";
  const Case cases[] = {
      {"unpaired surrogates that come out as one name",
       [](ArchiveBuilder& b) {
         b.addFile(u"s1", "first").storedName = std::u16string(u"a") + char16_t(0xD800) + u".txt";
         b.addFile(u"s2", "second").storedName = std::u16string(u"a") + char16_t(0xDC00) + u".txt";
       },
       {"a" + fffd + ".txt"},
       {"Error: can not extract: \\a" + fffd + ".txt: same name as \\a" + fffd + ".txt"}},
      {"an unpaired surrogate and a stored U+FFFD, folders",
       [](ArchiveBuilder& b) {
         b.addFile(u"lone\\in.txt", "lone").storedName = u"in.txt";
         b.addFolder(u"lone").storedName = std::u16string(u"d") + char16_t(0xDBFF);
         b.addFile(u"real\\other.txt", "real");
         b.addFolder(u"real").storedName = std::u16string(u"d") + char16_t(0xFFFD);
       },
       {"d" + fffd + "/", "d" + fffd + "/in.txt"},
       {"Error: can not extract: \\d" + fffd + ": same name as \\d" + fffd}},
      {"an unpaired surrogate alone is written with U+FFFD",
       [](ArchiveBuilder& b) { b.addFile(u"s", "only").storedName = std::u16string(u"x") + char16_t(0xD834); },
       {"x" + fffd},
       {}},
      {"a backslash into a folder that is not there",
       [](ArchiveBuilder& b) {
         b.addFile(u"f", "f").storedName = u"nowhere\\f.txt";
         b.addFile(u"sub\\g.txt", "g");
         b.addFolder(u"sub").storedName = u"gone\\sub";
         b.addFile(u"z.txt", "z");
       },
       {"z.txt"},
       {"Error: can not extract: \\gone\\sub: unsafe name", "Error: can not extract: \\nowhere\\f.txt: unsafe name"}},
      {"a backslash into a folder that is there writes into it",
       [](ArchiveBuilder& b) {
         b.addFile(u"d\\a.txt", "a");
         b.addFile(u"f", "f").storedName = u"d\\b.txt";
       },
       {"d/", "d/a.txt", "d/b.txt"},
       {}},
      {"a backslash onto an item of the same path",
       [](ArchiveBuilder& b) {
         b.addFile(u"d\\f.txt", "in d");
         b.addFile(u"f", "from the root").storedName = u"d\\F.TXT";
       },
       {"d/", "d/F.TXT"},
       {"Error: can not extract: \\d\\f.txt: same name as \\d\\F.TXT"}},
      {"empty names",
       [](ArchiveBuilder& b) {
         b.addFile(u"e", "e").storedName = u"";
         b.addFile(u"d\\e", "e").storedName = u"";
         b.addFile(u"d\\k.txt", "k");
       },
       {"d/", "d/k.txt"},
       {"Error: can not extract: \\: unsafe name", "Error: can not extract: \\d\\: unsafe name"}},
      {"a name of backslashes alone",
       [](ArchiveBuilder& b) { b.addFile(u"b", "b").storedName = u"\\\\"; },
       {},
       {"Error: can not extract: \\\\\\: unsafe name"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    ArchiveBuilder builder;
    c.describe(builder);
    const std::string archive = dir.file("archive.sva");
    ASSERT_TRUE(builder.writeTo(archive));
    const auto result = testing::runSorvel({archive, dir.file("out")}, "\n", dir.path());
    std::vector<std::string> lines = c.lines;
    if (!lines.empty()) lines.push_back("Error: archive extracted with errors!");
    EXPECT_EQ(result.exitCode, lines.empty() ? 0 : 11);
    EXPECT_EQ(result.stderrLines(), lines);
    EXPECT_EQ(listTree(dir.file("out")), c.tree);
  }
}

// Each can-not-extract line says why: the system's text, or ours where that would mislead.
TEST_F(Extraction, EveryItemNotWrittenSaysWhy) {
  const std::string longName(300, 'n');
  ArchiveBuilder builder;
  builder.addFile(u"d\\f.txt", "f");
  builder.addFile(u"long", "l").storedName = std::u16string(longName.begin(), longName.end());
  builder.addFile(u"x.txt", "x");
  dir_.writeFile("out/d", "a file where a folder goes");
  dir_.makeDir("out/x.txt");
  const auto result = run(builder);
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{
                                      "Error: can not extract: \\d: Not a directory",
                                      "Error: can not extract: \\d\\f.txt: Not a directory",
                                      "Error: can not extract: \\" + longName + ": File name too long",
                                      "Error: can not extract: \\x.txt: a folder is in the way",
                                      "Error: archive extracted with errors!",
                                  }));
  EXPECT_EQ(listTree(out()), (std::vector<std::string>{"d", "x.txt/"}));
}

// A full file system, on a tiny one mounted for the test.
TEST_F(Extraction, AFullFileSystemIsNamed) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const std::string mountPoint = dir_.makeDir("small");
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount(path.c_str()); }
  } unmount{mountPoint};
  ArchiveBuilder builder;
  builder.addFile(u"big.bin", Bytes(400000, 'B'));
  builder.addFile(u"small.txt", "fits");
  const auto result = run(builder, {}, "small/out");
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(),
            (std::vector<std::string>{"Error: can not extract: \\big.bin: No space left on device",
                                      "Error: archive extracted with errors!"}));
  EXPECT_EQ(listTree(out()), (std::vector<std::string>{"small.txt"}));
}

TEST_F(Extraction, DamagedContentIsReportedInListingOrder) {
  ArchiveBuilder builder;
  builder.settings.password = bytesOf("files!");
  builder.addFile(u"files\\fine.txt", Bytes(100, 'f'));
  // Stored size larger than the chain: written with a zero tail.
  auto& shortChain = builder.addFile(u"files\\b_short.bin", Bytes(20000, 's'));
  shortChain.storedSize = 40000;
  // A chain whose first entry is free: nothing can be read.
  builder.addFile(u"files\\c_free.bin", Bytes(100, 'x'));
  builder.settings.chainOverrides[0] = 0;  // placeholder, replaced below once the layout is known
  // A chain that loops.
  builder.addFile(u"files\\d_loop.bin", Bytes(40000, 'l'));
  // A size far beyond anything the file could hold: no file is larger than its archive, so the
  // zero tail stops at the archive file's size.
  builder.addFile(u"files\\e_huge.bin", Bytes(10, 'h')).storedSize = std::uint64_t{1} << 60;
  builder.addFile(u"zz_last.txt", "last");
  builder.settings.chainOverrides.clear();
  const auto layout = builder.layout();
  ASSERT_TRUE(layout);
  builder.settings.chainOverrides[layout->find(u"files\\c_free.bin")->blocks.front()] = 0;
  const auto& loop = layout->find(u"files\\d_loop.bin")->blocks;
  builder.settings.chainOverrides[loop.back()] = loop.front();

  const auto result = run(builder, "files!");
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{
                                      "Error: damaged item: \\files\\b_short.bin",
                                      "Error: can not extract: \\files\\c_free.bin: content cannot be read",
                                      "Error: can not extract: \\files\\d_loop.bin: content cannot be read",
                                      "Error: damaged item: \\files\\e_huge.bin",
                                      "Error: archive extracted with errors!",
                                  }));
  Bytes expected(20000, 's');
  expected.resize(40000, 0);
  EXPECT_EQ(readFile(out("files/b_short.bin")), expected);
  EXPECT_EQ(fs::file_size(out("files/e_huge.bin")), fs::file_size(archive_));
  EXPECT_EQ(listTree(out()), (std::vector<std::string>{"files/", "files/b_short.bin", "files/e_huge.bin",
                                                       "files/fine.txt", "zz_last.txt"}));
}

TEST_F(Extraction, DamagedFoldersAreCreatedEmptyAndReported) {
  ArchiveBuilder builder;
  builder.addFile(u"aaa\\inside.txt", "in");
  builder.addFile(u"bad\\one.txt", "1");
  builder.addFolder(u"loop").firstBlock = 2;
  builder.addFile(u"top.txt", "top");
  const auto layout = builder.layout();
  ASSERT_TRUE(layout);
  builder.settings.patches.push_back({*layout->itemEntryFileOffset(u"bad\\one.txt") + 47, {0xFE}});
  const auto result = run(builder);
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(),
            (std::vector<std::string>{"Error: damaged folder: \\bad", "Error: damaged folder: \\loop",
                                      "Error: archive extracted with errors!"}));
  EXPECT_EQ(listTree(out()), (std::vector<std::string>{"aaa/", "aaa/inside.txt", "bad/", "loop/", "top.txt"}));
}

// The output folder that cannot be made, or is not a folder, is told once: nothing below it
// could be written either.
TEST_F(Extraction, AnOutputFolderThatCannotBeMadeIsReportedOnce) {
  struct Case {
    const char* name;
    const char* outName;
    const char* fileInTheWay;  // made before the run, or null
    const char* line;
  };
  const Case cases[] = {
      {"parent missing", "missing/out", nullptr, "Error: can not extract: \\: No such file or directory"},
      {"a file in its place", "out", "out", "Error: can not extract: \\: Not a directory"},
      {"below a file", "file/out", "file", "Error: can not extract: \\: Not a directory"},
  };
  ArchiveBuilder builder;
  builder.addFile(u"d\\f.txt", "f");
  builder.addFile(u"g.txt", "g");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    if (c.fileInTheWay != nullptr) dir.writeFile(c.fileInTheWay, "a file");
    const std::string archive = dir.file("archive.sva");
    ASSERT_TRUE(builder.writeTo(archive));
    const auto result = testing::runSorvel({archive, dir.file(c.outName)}, "\n", dir.path());
    EXPECT_EQ(result.exitCode, 11);
    EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{c.line, "Error: archive extracted with errors!"}));
    EXPECT_FALSE(fs::exists(dir.file("missing")));
  }
}

TEST_F(Extraction, AFullDiskLeavesNeitherAPartialNorATemporaryFile) {
  ArchiveBuilder builder;
  builder.addFile(u"small.txt", "fits");
  builder.addFile(u"large.bin", Bytes(200000, 'L'));
  builder.addFile(u"z.txt", "also fits");
  dir_.makeDir("out");
  dir_.writeFile("out/large.bin", "the old large file");
  const auto result = runWithSmallFileLimit(builder);
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{"Error: can not extract: \\large.bin: File too large",
                                                            "Error: archive extracted with errors!"}));
  EXPECT_EQ(listTree(dir_.file("out")), (std::vector<std::string>{"large.bin", "small.txt", "z.txt"}));
  EXPECT_EQ(readFile(dir_.file("out/large.bin")), bytesOf("the old large file"));
}

// The same with enough files for two writers: every file too large fails whole, an older file of
// its name stays as it was, the lines come in listing order, and no other file is lost.
TEST_F(Extraction, FailuresOnBothWritersLeaveNeitherAPartialFileNorALostOne) {
  ArchiveBuilder builder;
  std::vector<std::string> expectedLines;
  std::vector<std::string> expectedTree;
  for (const char* folder : {"a", "b"}) {
    expectedTree.push_back(std::string(folder) + "/");
    for (int i = 0; i < 150; ++i) {
      const std::string name = std::string(folder) + "/f" + std::to_string(1000 + i);
      const std::string inArchive = std::string(folder) + "\\f" + std::to_string(1000 + i);
      const bool large = i % 30 == 7;
      builder.addFile(toUtf16(inArchive), large ? Bytes(200000, 'L') : bytesOf(name));
      if (large) expectedLines.push_back("Error: can not extract: \\" + inArchive + ": File too large");
      if (!large || name == "b/f1037") expectedTree.push_back(name);
    }
  }
  expectedLines.push_back("Error: archive extracted with errors!");
  dir_.makeDir("out");
  dir_.makeDir("out/b");
  dir_.writeFile("out/b/f1037", "the old one");
  const auto result = runWithSmallFileLimit(builder);
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(), expectedLines);
  EXPECT_EQ(listTree(dir_.file("out")), expectedTree);
  EXPECT_EQ(readFile(dir_.file("out/b/f1037")), bytesOf("the old one"));
  EXPECT_EQ(readFile(dir_.file("out/a/f1149")), bytesOf("a/f1149"));
}

// A cut-off archive (a half-finished download) is never a success: content stops at the first
// block the file does not hold, and the rest is zeros. Only a last block that is partly stored
// is read as it always was, its missing tail as zeros.
TEST_F(Extraction, ACutOffArchiveReportsTheFilesItCutShort) {
  const Bytes big = testing::generateContent(testing::seededContent(5), 0, 40000);
  struct Case {
    const char* name;
    int blockCut;             // the file ends at the start of this block of big.bin, plus:
    std::uint64_t extra;      // bytes of that block still stored
    std::uint64_t goodBytes;  // of big.bin's content that come back
    std::vector<std::string> errors;
  };
  const Case cases[] = {
      {"two blocks missing",
       1,
       0,
       16384,
       {"Error: damaged item: \\z_big.bin", "Error: archive extracted with errors!"}},
      {"last block missing",
       2,
       0,
       32768,
       {"Error: damaged item: \\z_big.bin", "Error: archive extracted with errors!"}},
      {"last block partly stored", 2, 100, 32868, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArchiveBuilder builder;
    builder.addFile(u"a.txt", "first");
    builder.addFile(u"z_big.bin", big);
    const auto layout = builder.layout();
    ASSERT_TRUE(layout);
    builder.settings.fileSize = layout->blockOffset(layout->find(u"z_big.bin")->blocks[c.blockCut]) + c.extra;
    const auto result =
        run(builder, {}, std::string("out-") + std::to_string(c.blockCut) + "-" + std::to_string(c.extra));
    EXPECT_EQ(result.exitCode, c.errors.empty() ? 0 : 11);
    EXPECT_EQ(result.stderrLines(), c.errors);
    Bytes expected(big.begin(), big.begin() + static_cast<std::ptrdiff_t>(c.goodBytes));
    expected.resize(big.size(), 0);
    EXPECT_EQ(readFile(out("z_big.bin")), expected);
    EXPECT_EQ(readFile(out("a.txt")), bytesOf("first"));
  }
}

// Two items never share a block: a file whose chain starts in or runs into blocks that a
// directory, an item detail file or an earlier file holds ends there, and is damaged.
TEST_F(Extraction, ContentThatRunsIntoAnotherItemsBlocksEndsThere) {
  ArchiveBuilder builder;
  builder.settings.password = bytesOf("pw");
  const Bytes a = testing::generateContent(testing::seededContent(11), 0, 20000);
  const Bytes c = testing::generateContent(testing::seededContent(12), 0, 30000);
  builder.addFile(u"a.bin", a);
  testing::Item& bSame = builder.addFile(u"b_same.bin", Bytes(100, 'b'));
  builder.addFile(u"c_into.bin", c);
  testing::Item& dDirectory = builder.addFile(u"d_directory.bin", Bytes(50, 'd'));
  builder.addFile(u"e_fine.bin", "fine");
  testing::DetailFileContents details;
  details.records.push_back({u"a.bin", bytesOf("blob"), {}, {}, {}, {}, {}});
  builder.addDetailFile(u"", details);
  testing::Item& zzDetail = builder.addFile(u"zz_detail.bin", Bytes(10, 'z'));
  auto layout = builder.layout();
  ASSERT_TRUE(layout);
  const BlockList aBlocks = layout->find(u"a.bin")->blocks;
  const std::uint32_t detailBlock = layout->find(testing::disk::kDetailFileName)->blocks.front();
  bSame.firstBlock = aBlocks[0];
  dDirectory.firstBlock = 2;  // the root directory's block
  zzDetail.firstBlock = detailBlock;
  builder.settings.chainOverrides[layout->find(u"c_into.bin")->blocks[0]] = aBlocks[1];

  const auto result = run(builder, "pw");
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{
                                      "Error: damaged item: \\b_same.bin",
                                      "Error: damaged item: \\c_into.bin",
                                      "Error: damaged item: \\d_directory.bin",
                                      "Error: damaged item: \\zz_detail.bin",
                                      "Error: archive extracted with errors!",
                                  }));
  EXPECT_EQ(readFile(out("a.bin")), a);
  EXPECT_EQ(readFile(out("b_same.bin")), Bytes(100, 0));
  Bytes cExpected(c.begin(), c.begin() + 16384);
  cExpected.resize(c.size(), 0);
  EXPECT_EQ(readFile(out("c_into.bin")), cExpected);
  EXPECT_EQ(readFile(out("d_directory.bin")), Bytes(50, 0));
  EXPECT_EQ(readFile(out("e_fine.bin")), bytesOf("fine"));
  EXPECT_EQ(readFile(out("zz_detail.bin")), Bytes(10, 0));
}

// Links already in the output folder, where an archive folder must go, are neither followed nor
// removed: that folder and everything below it are reported, and nothing outside changes. The
// output folder itself may be a link: the user named it.
TEST_F(Extraction, LinksInTheOutputFolderAreNeitherFollowedNorRemoved) {
  ArchiveBuilder builder;
  builder.addFile(u"cfg\\authorized_keys", "attacker's key");
  builder.addFile(u"cfg\\sub\\x.txt", "x");
  builder.addFile(u"gone\\f.txt", "f");
  builder.addFile(u"ok\\fine.txt", "fine");
  dir_.writeFile("outside/authorized_keys", "the owner's key");
  dir_.makeDir("out");
  fs::create_directory_symlink(dir_.file("outside"), dir_.file("out/cfg"));
  fs::create_directory_symlink(dir_.file("outside/nothing"), dir_.file("out/gone"));
  fs::create_directory_symlink(dir_.file("out"), dir_.file("outlink"));

  const auto result = run(builder, {}, "outlink");
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{
                                      "Error: can not extract: \\cfg: symbolic link in the way",
                                      "Error: can not extract: \\cfg\\authorized_keys: symbolic link in the way",
                                      "Error: can not extract: \\cfg\\sub: symbolic link in the way",
                                      "Error: can not extract: \\cfg\\sub\\x.txt: symbolic link in the way",
                                      "Error: can not extract: \\gone: symbolic link in the way",
                                      "Error: can not extract: \\gone\\f.txt: symbolic link in the way",
                                      "Error: archive extracted with errors!",
                                  }));
  EXPECT_EQ(listTree(dir_.file("outside")), (std::vector<std::string>{"authorized_keys"}));
  EXPECT_EQ(readFile(dir_.file("outside/authorized_keys")), bytesOf("the owner's key"));
  EXPECT_TRUE(fs::is_symlink(dir_.file("out/cfg")));
  EXPECT_TRUE(fs::is_symlink(dir_.file("out/gone")));
  EXPECT_EQ(readFile(dir_.file("out/ok/fine.txt")), bytesOf("fine"));
}

}  // namespace
}  // namespace sorvel
