// sorvel extract and sorvel cat: the items named, at their full paths below the output folder,
// what happens to files already there, and one file's content on standard output.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/ArchiveBuilder.h"
#include "support/ContentGenerator.h"
#include "support/FileState.h"
#include "support/FileTree.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::listTree;
using testing::readText;
using testing::runTool;

class ToolExtract : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(testing::damagedArchive().writeTo(archive_)); }
  testing::TempDir dir_;
  std::string archive_ = dir_.file("a.sva");
};

TEST_F(ToolExtract, NamedItemsLandAtTheirFullPaths) {
  struct Case {
    const char* name;
    std::vector<std::string> args;  // after "extract"; OUT stands for the output folder
    std::vector<std::string> tree;
  };
  const Case cases[] = {
      {"a file deep down", {"-C", "OUT", "A", "docs/notes/a.txt"}, {"docs/", "docs/notes/", "docs/notes/a.txt"}},
      {"a folder: its subtree", {"A", "-C", "OUT", "DOCS/notes"}, {"docs/", "docs/notes/", "docs/notes/a.txt"}},
      {"two items, options between", {"A", "top.txt", "--directory", "OUT", "empty"}, {"empty/", "top.txt"}},
      {"patterns, less an exclusion",
       {"-C", "OUT", "A", "*.txt", "d*/n*", "--exclude", "a.txt"},
       {"docs/", "docs/notes/", "top.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir_.file(std::string("out-") + c.name);
    std::vector<std::string> args = {"extract"};
    for (const std::string& arg : c.args) args.push_back(arg == "OUT" ? out : arg == "A" ? archive_ : arg);
    const testing::ProcessResult result = runTool(args);
    EXPECT_EQ(result.exitCode, 0) << result.stderrText;
    EXPECT_EQ(result.stdoutText, "");
    EXPECT_EQ(listTree(out), c.tree);
  }
  EXPECT_EQ(readText(dir_.file("out-a file deep down/docs/notes/a.txt")), "note a");
}

TEST_F(ToolExtract, EverythingByDefaultIntoTheCurrentFolderWithDamageReported) {
  const std::string out = dir_.makeDir("here");
  const testing::ProcessResult result = runTool({"extract", "-v", archive_}, {"SORVEL_PASSWORD=tool-pass"}, {}, out);
  EXPECT_EQ(result.exitCode, 11);
  EXPECT_EQ(result.stderrLines(),
            (std::vector<std::string>{"Error: damaged item: bad.bin", "sorvel: archive extracted with errors"}));
  EXPECT_EQ(result.stdoutLines(),
            (std::vector<std::string>{"bad.bin", "big.bin", "docs/", "docs/notes/", "docs/notes/a.txt",
                                      "docs/readme.txt", "docs/ro.txt", "empty/", "top.txt"}));
  EXPECT_EQ(fs::file_size(fs::path(out) / "bad.bin"), 40000u);
  const Bytes big = testing::sampleBigContent();
  EXPECT_EQ(readText(fs::path(out) / "big.bin"), std::string(big.begin(), big.end()));
  struct stat st {};
  ASSERT_EQ(::stat((fs::path(out) / "docs/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000300);
  // Folders get their times once their contents are written, as tar gives them.
  ASSERT_EQ(::stat((fs::path(out) / "docs").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000000);
}

// Items named twice, or within a folder also named, are written and listed once.
TEST_F(ToolExtract, OverlappingOperandsWriteEachItemOnce) {
  const std::string out = dir_.file("out");
  const testing::ProcessResult result =
      runTool({"extract", "-v", "-C", out, archive_, "docs/notes/a.txt", "DOCS/notes"});
  EXPECT_EQ(result.exitCode, 0) << result.stderrText;
  EXPECT_EQ(result.stdoutLines(), (std::vector<std::string>{"docs/notes/", "docs/notes/a.txt"}));
}

// Files already there are replaced, read-only ones too, by a new file under their name; --keep
// leaves them as they are, which is no error, and counts them.
TEST_F(ToolExtract, FilesAlreadyThere) {
  struct Case {
    std::vector<std::string> options;
    std::string writable, readOnly;  // the two files afterwards
    std::string out;                 // standard output
  };
  const std::string keptCount = "1 files written, 2 existing files kept\n";
  const Case cases[] = {
      {{}, "read me first\n", "frozen", ""},
      {{"--overwrite"}, "read me first\n", "frozen", ""},
      {{"--keep"}, "old", "old", keptCount},
      {{"-k", "-v"}, "old", "old", "docs/readme.txt (kept)\ndocs/ro.txt (kept)\ntop.txt\n" + keptCount},
      {{"-kq"}, "old", "old", ""},
  };
  int round = 0;
  for (const Case& c : cases) {
    const std::string name = "out" + std::to_string(round++);
    SCOPED_TRACE(name);
    const std::string out = dir_.makeDir(name);
    const std::string writable = dir_.writeFile(name + "/docs/readme.txt", "old");
    const std::string readOnly = dir_.writeFile(name + "/docs/ro.txt", "old");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    std::vector<std::string> args = {"extract", "-C", out, archive_, "docs/readme.txt", "docs/ro.txt", "top.txt"};
    args.insert(args.begin() + 1, c.options.begin(), c.options.end());
    const testing::ProcessResult result = runTool(args);
    EXPECT_EQ(result.exitCode, 0) << result.stderrText;
    EXPECT_EQ(result.stderrText, "");
    EXPECT_EQ(result.stdoutText, c.out);
    EXPECT_EQ(readText(writable), c.writable);
    EXPECT_EQ(readText(readOnly), c.readOnly);
    EXPECT_EQ(readText(out + "/top.txt"), "top");
    struct stat st {};
    ASSERT_EQ(::stat(readOnly.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);  // the archive's item is read-only too
  }
}

// Running the same extraction again replaces what the first run wrote, the read-only files too.
TEST_F(ToolExtract, ASecondRunReplacesWhatTheFirstWroteReadOnly) {
  const std::string out = dir_.file("again");
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    const testing::ProcessResult result = runTool({"extract", "-C", out, archive_, "docs"});
    EXPECT_EQ(result.exitCode, 0) << result.stderrText;
    EXPECT_EQ(result.stderrText, "");
    EXPECT_EQ(readText(out + "/docs/ro.txt"), "frozen");
  }
}

// A folder where a file should go is never replaced, kept or not: the file is reported.
TEST_F(ToolExtract, AFolderInTheWayIsReported) {
  for (const char* option : {"--overwrite", "--keep"}) {
    SCOPED_TRACE(option);
    const std::string out = dir_.makeDir(std::string("in-the-way") + option + "/docs/readme.txt/inside");
    const std::string base = dir_.file(std::string("in-the-way") + option);
    const testing::ProcessResult result = runTool({"extract", option, "-C", base, archive_, "docs/readme.txt"});
    EXPECT_EQ(result.exitCode, 11);
    EXPECT_NE(result.stderrText.find("readme.txt: a folder is in the way\n"), std::string::npos) << result.stderrText;
    EXPECT_TRUE(fs::is_directory(out));
  }
}

// A file where a folder above a named item should be: the item is reported with why, and the
// file stays as it was.
TEST_F(ToolExtract, AFileInTheWayOfTheFoldersAboveIsReportedWithWhy) {
  const std::string base = dir_.makeDir("file-above");
  dir_.writeFile("file-above/docs", "plain");
  const testing::ProcessResult result = runTool({"extract", "-C", base, archive_, "docs/readme.txt"});
  EXPECT_EQ(result.exitCode, 11);
  const std::string line = "Error: can not extract: docs/readme.txt: ";
  EXPECT_NE(result.stderrText.find(line), std::string::npos) << result.stderrText;
  if (!testing::toolIsWindowsProgram()) {
    EXPECT_NE(result.stderrText.find(line + "Not a directory\n"), std::string::npos) << result.stderrText;
  }
  EXPECT_EQ(readText(base + "/docs"), "plain");
}

// An output folder that cannot be made is named, and nothing is written.
TEST_F(ToolExtract, AnOutputFolderThatCanNotBeMadeIsNamed) {
  const std::string file = dir_.writeFile("plain", "plain");
  struct Case {
    std::string folder;
    std::string why;
  };
  const Case cases[] = {
      {dir_.file("x3/deeper"), "No such file or directory"},
      // Windows reports a file in the way of a path as a path not found.
      {file + "/below", testing::toolIsWindowsProgram() ? "No such file or directory" : "Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const testing::ProcessResult result = runTool({"extract", "-C", c.folder, archive_});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.stderrText, "sorvel: can not create " + c.folder + ": " + c.why + "\n");
    EXPECT_EQ(result.stdoutText, "");
  }
  EXPECT_FALSE(fs::exists(dir_.file("x3")));
}

// A hard link in the output folder to a read-only file outside: whatever the option, the file
// outside keeps its mode, owner, content and times; replacing takes the name from it (one link
// fewer), --keep leaves the name to it.
TEST_F(ToolExtract, AHardLinkToAReadOnlyFileOutsideLeavesThatFileAsItWas) {
  SORVEL_SKIP_FOR_WINDOWS_TOOL();  // hard links and modes
  struct Case {
    const char* option;
    std::string atName;    // what the name in the output folder holds afterwards
    std::uintmax_t links;  // of the file outside afterwards
  };
  const Case cases[] = {
      {nullptr, "frozen", 1},
      {"--overwrite", "frozen", 1},
      {"--keep", "outside", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option != nullptr ? c.option : "default");
    const std::string suffix = c.option != nullptr ? c.option : "";
    const std::string outside = dir_.writeFile("outside" + suffix, "outside");
    ASSERT_EQ(::chmod(outside.c_str(), 0444), 0);
    const std::string out = dir_.makeDir("out" + suffix + "/docs");
    ASSERT_EQ(::link(outside.c_str(), (out + "/ro.txt").c_str()), 0);
    const testing::FileState before = testing::fileStateOf(outside);
    std::vector<std::string> args = {"extract", "-C", dir_.file("out" + suffix), archive_, "docs/ro.txt"};
    if (c.option != nullptr) args.insert(args.begin() + 1, c.option);
    const testing::ProcessResult result = runTool(args);
    EXPECT_EQ(result.exitCode, 0) << result.stderrText;

    EXPECT_EQ(testing::fileStateOf(outside), before);
    EXPECT_EQ(fs::hard_link_count(outside), c.links);
    EXPECT_EQ(readText(outside), "outside");
    EXPECT_EQ(readText(out + "/ro.txt"), c.atName);
  }
}

// Several paths or patterns: each file once, in the order named, the others written when one
// fails.
TEST_F(ToolExtract, CatWritesSeveralFilesInTheOrderNamed) {
  struct Case {
    const char* name;
    std::vector<std::string> operands;
    int exitCode;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {"two files", {"top.txt", "docs/notes/a.txt"}, 0, "topnote a", ""},
      {"the other order", {"docs/notes/a.txt", "top.txt"}, 0, "note atop", ""},
      {"a pattern, its files in listing order", {"docs/*.txt"}, 0, "read me first\nfrozen", ""},
      {"a file named twice", {"top.txt", "t*", "top.txt"}, 0, "top", ""},
      {"a folder among them",
       {"top.txt", "docs/notes", "docs/ro.txt"},
       11,
       "topfrozen",
       "sorvel: not a file: docs/notes\n"},
      {"a path not found: nothing written", {"top.txt", "nope"}, 2, "", "sorvel: no such item in archive: nope\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"cat", archive_};
    args.insert(args.end(), c.operands.begin(), c.operands.end());
    const testing::ProcessResult result = runTool(args);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.stdoutText, c.out);
    EXPECT_EQ(result.stderrText, c.err);
  }
}

// `sorvel cat` of each case's path: its exit code, standard output and standard error.
struct CatCase {
  const char* path;
  int exitCode;
  std::string out;
  std::string err;
};
void expectCatOutputs(const std::string& archive, const std::vector<CatCase>& cases) {
  for (const CatCase& c : cases) {
    SCOPED_TRACE(c.path);
    const testing::ProcessResult result = runTool({"cat", archive, c.path});
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_TRUE(result.stdoutText == c.out) << result.stdoutText.size() << " bytes";
    EXPECT_EQ(result.stderrText, c.err);
  }
}

TEST_F(ToolExtract, CatWritesExactlyTheContent) {
  const Bytes big = testing::sampleBigContent();
  expectCatOutputs(archive_, {
                                 {"docs/notes/a.txt", 0, "note a", ""},
                                 {"big.bin", 0, std::string(big.begin(), big.end()), ""},
                                 {"docs", 11, "", "sorvel: not a file: docs\n"},
                                 {"bad.bin", 11, std::string(100, 'B') + std::string(16384 - 100, '\0'),
                                  "Error: damaged item: bad.bin\n"},
                                 {"docs/none", 2, "", "sorvel: no such item in archive: docs/none\n"},
                             });
}

// Files of more than one batch of blocks are decrypted ahead on other threads: whole, and cut
// short by their chain, they come out as those read on the calling thread do.
TEST(ToolCat, FilesBeyondOneBatchComeOutWhole) {
  constexpr std::size_t kBlock = 16384;
  testing::TempDir dir;
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf(testing::kToolPassword);
  builder.settings.dataCipher = 3;
  const Bytes whole = testing::generateContent(testing::seededContent(21), 0, 90 * kBlock + 123);
  const Bytes shortContent = testing::generateContent(testing::seededContent(22), 0, 70 * kBlock + 5);
  builder.addFile(u"whole.bin", whole);
  builder.addFile(u"short.bin", shortContent).storedSize = 100 * kBlock;
  const std::string archive = dir.file("big.sva");
  ASSERT_TRUE(builder.writeTo(archive));
  std::string cutShort(shortContent.begin(), shortContent.end());
  cutShort.resize(71 * kBlock, '\0');  // the stored blocks, the last one to its end
  expectCatOutputs(archive, {
                                {"whole.bin", 0, std::string(whole.begin(), whole.end()), ""},
                                {"short.bin", 11, cutShort, "Error: damaged item: short.bin\n"},
                            });
}

}  // namespace
}  // namespace sorvel
