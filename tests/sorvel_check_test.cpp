// sorvel test: every file read and decrypted, nothing written, damage reported as extraction
// reports it, and a final count.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace sorvel {
namespace {

using testing::runTool;

TEST(ToolTest, CountsOrReportsDamage) {
  testing::TempDir dir;
  const std::string sound = dir.file("sound.sva");
  const std::string damaged = dir.file("damaged.sva");
  ASSERT_TRUE(testing::sampleArchive().writeTo(sound));
  ASSERT_TRUE(testing::damagedArchive().writeTo(damaged));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> out, err;
  };
  const Case cases[] = {
      {"sound archive", {sound}, 0, {"5 files, 3 folders, 100029 bytes: OK"}, {}},
      {"named items only", {sound, "docs/notes", "top.txt"}, 0, {"2 files, 1 folders, 9 bytes: OK"}, {}},
      {"damaged file", {damaged}, 11, {"6 files, 3 folders, 116413 bytes: 1 error"}, {"Error: damaged item: bad.bin"}},
      {"damage outside the items named", {damaged, "docs"}, 0, {"3 files, 2 folders, 26 bytes: OK"}, {}},
      {"overlapping operands: each item once",
       {sound, "docs", "docs/readme.txt", "docs/notes"},
       0,
       {"3 files, 2 folders, 26 bytes: OK"},
       {}},
      {"patterns and exclusions",
       {damaged, "*.bin", "--exclude", "bad*"},
       0,
       {"1 files, 0 folders, 100000 bytes: OK"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"test"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const testing::ProcessResult result = runTool(args, {"SORVEL_PASSWORD=tool-pass"}, {}, dir.path());
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.stdoutLines(), c.out);
    EXPECT_EQ(result.stderrLines(), c.err);
  }
  // Nothing was written anywhere.
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"damaged.sva", "sound.sva"}));
}

TEST(ToolTest, ArchiveFailuresKeepTheExtractorsCodes) {
  testing::TempDir dir;
  const std::string archive = dir.file("a.sva");
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive));
  struct Case {
    const char* name;
    std::string path;
    std::string password;
    int exitCode;
    std::string err;
  };
  const Case cases[] = {
      {"wrong password", archive, "nope", 9, "sorvel: incorrect password\n"},
      {"not an archive", dir.writeFile("plain.txt", std::string(2000, 'x')), "x", 6, "sorvel: archive format error\n"},
      {"missing archive", dir.file("none.sva"), "x", 3,
       "sorvel: can not read archive: " + dir.file("none.sva") + ": No such file or directory\n"},
      {"a folder", dir.path(), "x", 3, "sorvel: can not read archive: " + dir.path() + ": not a regular file\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::ProcessResult result = runTool({"test", c.path}, {"SORVEL_PASSWORD=" + c.password});
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.stderrText, c.err);
    EXPECT_EQ(result.stdoutText, "");
  }
}

}  // namespace
}  // namespace sorvel
