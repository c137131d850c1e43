// sorvel list: the items, one aligned line each or one JSON object per line, of the whole
// archive or of the items named.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace sorvel {
namespace {

using testing::runTool;

const std::string kBig = "----a       100000 2023-11-14 22:20 big.bin";
const std::string kDocs = "d----            0 2023-11-14 22:13 docs/";
const std::string kNotes = "d----            0 2020-09-13 12:28 docs/notes/";
const std::string kNoteA = "----a            6 2023-11-14 22:16 docs/notes/a.txt";
const std::string kReadme = "----a           14 2023-11-14 22:15 docs/readme.txt";
const std::string kReadOnly = "-r--a            6 2023-11-14 22:18 docs/ro.txt";
const std::string kEmpty = "d----            0 2020-09-13 12:28 empty/";
const std::string kTop = "----a            3 2023-11-14 22:21 top.txt";

class ToolList : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(testing::sampleArchive().writeTo(archive_)); }
  testing::TempDir dir_;
  std::string archive_ = dir_.file("a.sva");
};

TEST_F(ToolList, ListsWhatIsAskedForInTreeOrder) {
  struct Case {
    const char* name;
    std::vector<std::string> operands;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"everything", {}, {kBig, kDocs, kNotes, kNoteA, kReadme, kReadOnly, kEmpty, kTop}},
      {"a file", {"docs/readme.txt"}, {kReadme}},
      {"a folder and its subtree", {"docs/notes"}, {kNotes, kNoteA}},
      {"backslashes, other letter case, trailing separator", {"DOCS\\Notes\\"}, {kNotes, kNoteA}},
      {"several, in the order named", {"top.txt", "empty", "docs/ro.txt"}, {kTop, kEmpty, kReadOnly}},
      {"the root", {"/"}, {kBig, kDocs, kNotes, kNoteA, kReadme, kReadOnly, kEmpty, kTop}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"list", archive_};
    args.insert(args.end(), c.operands.begin(), c.operands.end());
    const testing::ProcessResult result = runTool(args);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.stdoutLines(), c.expected);
    EXPECT_EQ(result.stderrText, "");
  }
}

TEST_F(ToolList, JsonGivesEveryFieldOfAnItem) {
  const testing::ProcessResult result = runTool({"list", "--json", archive_, "docs/ro.txt", "empty"});
  EXPECT_EQ(result.exitCode, 0);
  ASSERT_EQ(result.stdoutLines().size(), 2u);
  const std::string file = result.stdoutLines()[0];
  EXPECT_EQ(file.substr(0, file.find(",\"first_block\"")),
            "{\"path\":\"docs/ro.txt\",\"type\":\"file\",\"size\":6,\"attributes\":33,\"created\":1600000000,"
            "\"modified\":1700000300,\"accessed\":1600000200");
  EXPECT_NE(file.find(",\"first_block\":"), std::string::npos);
  EXPECT_TRUE(file.ends_with(",\"damaged\":false}"));
  EXPECT_TRUE(result.stdoutLines()[1].starts_with("{\"path\":\"empty\",\"type\":\"folder\",\"size\":0,"));
}

TEST_F(ToolList, NamesThatNeedEscapingStayOneLine) {
  SORVEL_SKIP_FOR_WINDOWS_TOOL();  // Windows holds no name with a control character
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf(testing::kToolPassword);
  builder.addFile(u"say \"hi\"\x1b[2J.txt", "x");
  const std::string archive = dir_.file("odd.sva");
  ASSERT_TRUE(builder.writeTo(archive));
  const testing::ProcessResult text = runTool({"list", archive});
  ASSERT_EQ(text.stdoutLines().size(), 1u);
  EXPECT_TRUE(text.stdoutLines()[0].ends_with(" say \"hi\"\\x1B[2J.txt")) << text.stdoutText;
  const testing::ProcessResult json = runTool({"list", "--json", archive});
  ASSERT_EQ(json.stdoutLines().size(), 1u);
  EXPECT_TRUE(json.stdoutLines()[0].starts_with("{\"path\":\"say \\\"hi\\\"\\u001b[2J.txt\"")) << json.stdoutText;
}

TEST_F(ToolList, ItemsNotInTheArchiveAreNamed) {
  const testing::ProcessResult result = runTool({"list", archive_, "docs/x", "top.txt", "nope"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.stdoutText, "");
  EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{"sorvel: no such item in archive: docs/x",
                                                            "sorvel: no such item in archive: nope"}));
}

}  // namespace
}  // namespace sorvel
