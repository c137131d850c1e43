// sorvel export: the tree as a pax tar stream, checked with tar itself: `tar -t` lists what
// `sorvel list` lists, and `tar -x` gives what `sorvel extract` gives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/FileTree.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;
using testing::readText;
using testing::runTool;

testing::ProcessResult runTar(const std::vector<std::string>& args) {
  testing::ProcessRequest request;
  request.program = "/usr/bin/tar";
  request.args = args;
  return testing::runProcess(request);
}

// What a tree holds: per entry its path, type, permission bits, time and content.
std::vector<std::string> describeTree(const fs::path& root) {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat st {};
    EXPECT_EQ(::lstat(entry.path().c_str(), &st), 0);
    const bool folder = S_ISDIR(st.st_mode);
    std::string line = fs::relative(entry.path(), root).string() + (folder ? "/ " : " ") +
                       std::to_string(st.st_mode & 0777);
    if (!folder) line += " " + std::to_string(st.st_mtim.tv_sec) + " " + std::to_string(st.st_size) + " " +
                         std::to_string(std::hash<std::string>{}(readText(entry.path())));
    entries.push_back(line);
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

class ToolExport : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  std::string archive_ = dir_.file("a.sva");
};

TEST_F(ToolExport, TarListsWhatListLists) {
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive_));
  const testing::ProcessResult exported = runTool({"export", archive_, "-"});
  ASSERT_EQ(exported.exitCode, 0) << exported.stderrText;
  EXPECT_EQ(exported.stderrText, "");
  const std::string tarFile = dir_.writeFile("a.tar", exported.stdoutText);
  const testing::ProcessResult listed = runTar({"-tf", tarFile});
  ASSERT_EQ(listed.exitCode, 0) << listed.stderrText;

  const testing::ProcessResult ours = runTool({"list", archive_});
  std::vector<std::string> paths;
  for (const std::string& line : ours.stdoutLines()) paths.push_back(line.substr(36));  // the columns before
  EXPECT_EQ(listed.stdoutLines(), paths);
  ASSERT_EQ(paths.size(), 8u);
}

TEST_F(ToolExport, TarExtractsWhatExtractWrites) {
  ASSERT_TRUE(testing::damagedArchive().writeTo(archive_));
  const std::string tarFile = dir_.file("a.tar");
  const testing::ProcessResult exported = runTool({"export", "-o", tarFile, archive_});
  EXPECT_EQ(exported.exitCode, 11);
  EXPECT_EQ(exported.stderrLines(), std::vector<std::string>{"Error: damaged item: \\bad.bin"});
  const std::string fromTar = dir_.makeDir("from-tar");
  const testing::ProcessResult unpacked = runTar({"-xf", tarFile, "-C", fromTar});
  ASSERT_EQ(unpacked.exitCode, 0) << unpacked.stderrText;

  const std::string extracted = dir_.file("extracted");
  EXPECT_EQ(runTool({"extract", "-C", extracted, archive_}).exitCode, 11);
  const std::vector<std::string> expected = describeTree(extracted);
  EXPECT_EQ(describeTree(fromTar), expected);
  // Modes as a tar of ordinary files has them: read-only items lose their write bits.
  EXPECT_NE(std::find(expected.begin(), expected.end(), "docs/ 493"), expected.end());
  EXPECT_EQ(expected.size(), 9u);
  struct stat st {};
  ASSERT_EQ(::stat((fs::path(fromTar) / "docs/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(st.st_mtim.tv_sec, 1700000300);
}

TEST_F(ToolExport, NamesOutsideAsciiAndOutputChoices) {
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf(testing::kToolPassword);
  builder.addFile(u"caf\u00e9\\\u00fcber \u4e2d.txt", "utf");
  ASSERT_TRUE(builder.writeTo(archive_));
  const std::string tarFile = dir_.file("u.tar");
  ASSERT_EQ(runTool({"export", archive_, tarFile}).exitCode, 0);
  testing::ProcessRequest request;
  request.program = "/usr/bin/tar";
  request.args = {"-tf", tarFile};
  request.environment = {"LC_ALL=C.UTF-8"};
  EXPECT_EQ(testing::runProcess(request).stdoutLines(),
            (std::vector<std::string>{"caf\xC3\xA9/", "caf\xC3\xA9/\xC3\xBC" "ber \xE4\xB8\xAD.txt"}));

  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  const Case cases[] = {
      {{"export", archive_, "-o", tarFile, "other.tar"}, 1},
      {{"export", archive_, "a.tar", "b.tar"}, 1},
      {{"export", archive_, dir_.file("no/such/folder.tar")}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    const testing::ProcessResult result = runTool(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_TRUE(result.stderrText.starts_with("sorvel: ")) << result.stderrText;
  }
}

}  // namespace
}  // namespace sorvel
