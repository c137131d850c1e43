// sorvel extract and sorvel cat: the items named, at their full paths below the output folder,
// what happens to files already there, and one file's content on standard output.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

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

TEST_F(ToolExtract, FilesAlreadyThere) {
  struct Case {
    const char* option;
    int exitCode;
    std::string writable, readOnly;  // the two files afterwards
  };
  const Case cases[] = {
      {nullptr, 11, "read me first\n", "old"},
      {"--overwrite", 0, "read me first\n", "frozen"},
      {"--keep", 11, "old", "old"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option != nullptr ? c.option : "default");
    const std::string out = dir_.makeDir(std::string("out") + (c.option != nullptr ? c.option : ""));
    const std::string writable = dir_.writeFile(fs::relative(out, dir_.path()).string() + "/docs/readme.txt", "old");
    const std::string readOnly = dir_.writeFile(fs::relative(out, dir_.path()).string() + "/docs/ro.txt", "old");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    std::vector<std::string> args = {"extract", "-C", out, archive_, "docs/readme.txt", "docs/ro.txt"};
    if (c.option != nullptr) args.insert(args.begin() + 1, c.option);
    const testing::ProcessResult result = runTool(args);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.stderrText;
    EXPECT_EQ(readText(writable), c.writable);
    EXPECT_EQ(readText(readOnly), c.readOnly);
  }
}

// A hard link in the output folder to a read-only file outside: whatever the option, the file
// outside keeps its mode, owner, content and times; --overwrite takes the name from it (one link
// fewer), the others leave the name to it.
TEST_F(ToolExtract, AHardLinkToAReadOnlyFileOutsideLeavesThatFileAsItWas) {
  SORVEL_SKIP_FOR_WINDOWS_TOOL();  // hard links and modes
  struct Case {
    const char* option;
    int exitCode;
    std::string atName;    // what the name in the output folder holds afterwards
    std::uintmax_t links;  // of the file outside afterwards
  };
  const Case cases[] = {
      {nullptr, 11, "outside", 2},
      {"--overwrite", 0, "frozen", 1},
      {"--keep", 11, "outside", 2},
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
    EXPECT_EQ(result.exitCode, c.exitCode) << result.stderrText;

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

TEST_F(ToolExtract, CatWritesExactlyTheContent) {
  const Bytes big = testing::sampleBigContent();
  struct Case {
    const char* path;
    int exitCode;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {"docs/notes/a.txt", 0, "note a", ""},
      {"big.bin", 0, std::string(big.begin(), big.end()), ""},
      {"docs", 11, "", "sorvel: not a file: docs\n"},
      {"bad.bin", 11, std::string(100, 'B') + std::string(16384 - 100, '\0'), "Error: damaged item: bad.bin\n"},
      {"docs/none", 2, "", "sorvel: no such item in archive: docs/none\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const testing::ProcessResult result = runTool({"cat", archive_, c.path});
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_TRUE(result.stdoutText == c.out) << result.stdoutText.size() << " bytes";
    EXPECT_EQ(result.stderrText, c.err);
  }
}

}  // namespace
}  // namespace sorvel
