// sorvel list: the items, one aligned line each and a totals line, one JSON document or one JSON
// object per line, of the whole archive or of the items named; paths shown with "/" between names
// in every line of the tool; and output that cannot be written made a failure of the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ProcessRunner.h"
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
const std::string kAllTotals = "5 files, 3 folders, 100029 bytes";

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
      {"everything", {}, {kBig, kDocs, kNotes, kNoteA, kReadme, kReadOnly, kEmpty, kTop, kAllTotals}},
      {"a file", {"docs/readme.txt"}, {kReadme, "1 files, 0 folders, 14 bytes"}},
      {"a folder and its subtree", {"docs/notes"}, {kNotes, kNoteA, "1 files, 1 folders, 6 bytes"}},
      {"backslashes, other letter case, trailing separator",
       {"DOCS\\Notes\\"},
       {kNotes, kNoteA, "1 files, 1 folders, 6 bytes"}},
      {"several: in listing order, whatever the order named",
       {"top.txt", "empty", "docs/ro.txt"},
       {kReadOnly, kEmpty, kTop, "2 files, 1 folders, 9 bytes"}},
      {"the root", {"/"}, {kBig, kDocs, kNotes, kNoteA, kReadme, kReadOnly, kEmpty, kTop, kAllTotals}},
      {"quiet: no totals", {"-q", "docs/notes"}, {kNotes, kNoteA}},
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

// Shell-style patterns, exclusions and overlapping operands: every command chooses its items
// so, each item once and in listing order.
TEST_F(ToolList, ChoosesItemsByPatternsAndExclusions) {
  struct Case {
    const char* name;
    std::vector<std::string> operands;  // options included
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"'*' does not cross a separator", {"docs/*.txt"}, {kReadme, kReadOnly}},
      {"unless told", {"--wildcards-match-slash", "docs/*.txt"}, {kNoteA, kReadme, kReadOnly}},
      {"A-Z in either case, a set, a folder taking its contents", {"D?CS/[N]*"}, {kNotes, kNoteA}},
      {"a pattern per name", {"*/*/*"}, {kNoteA}},
      {"'*' alone: everything", {"*"}, {kBig, kDocs, kNotes, kNoteA, kReadme, kReadOnly, kEmpty, kTop}},
      {"overlapping operands: each item once",
       {"docs/readme.txt", "docs", "docs/*"},
       {kDocs, kNotes, kNoteA, kReadme, kReadOnly}},
      {"exclusion at any depth", {"--exclude", "notes"}, {kBig, kDocs, kReadme, kReadOnly, kEmpty, kTop}},
      {"exclusion by pattern, repeated", {"--exclude", "*.txt", "--exclude", "B*"}, {kDocs, kNotes, kEmpty}},
      {"exclusion from the root",
       {"--exclude", "/*.txt", "docs", "top.txt"},
       {kDocs, kNotes, kNoteA, kReadme, kReadOnly}},
      {"exclusion of a folder above an operand", {"docs/notes/a.txt", "top.txt", "--exclude", "docs"}, {kTop}},
      {"exclusion crossing separators",
       {"--wildcards-match-slash", "--exclude", "/d*a.txt", "docs"},
       {kDocs, kNotes, kReadme, kReadOnly}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"list", "-q", archive_};
    args.insert(args.end(), c.operands.begin(), c.operands.end());
    const testing::ProcessResult result = runTool(args);
    EXPECT_EQ(result.exitCode, 0) << result.stderrText;
    EXPECT_EQ(result.stdoutLines(), c.expected);
  }
}

// A name that holds a wildcard character is found as itself, and the pattern it makes chooses
// what it matches as well.
TEST_F(ToolList, ANameWithWildcardCharactersIsFoundAsItself) {
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf(testing::kToolPassword);
  builder.addFile(u"a[1].txt", "x");
  builder.addFile(u"a1.txt", "y");
  builder.addFile(u"a2.txt", "z");
  const std::string archive = dir_.file("odd.sva");
  ASSERT_TRUE(builder.writeTo(archive));
  const testing::ProcessResult result = runTool({"list", "-q", archive, "a[1].txt"});
  EXPECT_EQ(result.exitCode, 0) << result.stderrText;
  ASSERT_EQ(result.stdoutLines().size(), 2u) << result.stdoutText;
  EXPECT_TRUE(result.stdoutLines()[0].ends_with(" a1.txt"));
  EXPECT_TRUE(result.stdoutLines()[1].ends_with(" a[1].txt"));
}

// Runs Python's own JSON parser over `json`: each line alone (`perLine`) or the whole as one
// document; `print` is run for each value read back (`doc`).
testing::ProcessResult parseJson(const std::string& json, bool perLine, const std::string& print) {
  testing::ProcessRequest request;
  request.program = "/usr/bin/python3";
  request.args = {"-c",
                  "import json, sys\n"
                  "text = sys.stdin.read()\n"
                  "docs = [json.loads(line) for line in text.splitlines()] if " +
                      std::string(perLine ? "True" : "False") +
                      " else [json.loads(text)]\n"
                      "for doc in docs:\n"
                      "  " +
                      print + "\n"};
  request.stdinBytes = json;
  return testing::runProcess(request);
}

// Names that JSON must escape, names that hold a slash (left out: "/" cannot be written), and an
// unpaired surrogate (shown as U+FFFD, as extraction writes it).
class ToolListOddNames : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ArchiveBuilder builder;
    builder.settings.password = testing::bytesOf(testing::kToolPassword);
    builder.addFile(u"say \"hi\"\x1b[2J\x7f.txt", "x").modified = 1700000000;
    builder.addFile(u"slash", "ab").storedName = u"a/b";
    builder.addFolder(u"d").modified = 1700000000;
    builder.addFile(u"d\\inside", "in").storedName = u"in/side";
    builder.addFile(u"lone", "s").storedName = std::u16string(u"s") + char16_t(0xDC00);
    builder.addFile(u"caf\u00e9\ttab", "tab").modified = -86400;
    ASSERT_TRUE(builder.writeTo(archive_));
  }
  testing::TempDir dir_;
  std::string archive_ = dir_.file("odd.sva");
};

TEST_F(ToolListOddNames, JsonIsOneDocumentThatReadsBackEveryName) {
  SORVEL_SKIP_FOR_WINDOWS_TOOL();  // Windows holds none of these names: they are left out
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  const testing::ProcessResult listed = runTool({"list", "--json", archive_});
  ASSERT_EQ(listed.exitCode, 0) << listed.stderrText;
  const testing::ProcessResult parsed =
      parseJson(listed.stdoutText, false,
                "print(ascii(doc['archive']), ascii(doc['totals']))\n"
                "  for item in doc['items']: print(ascii([item['path'], item['names'], item.get('type'), "
                "item.get('leftOut'), item.get('readOnly'), item.get('modifiedUtc')]))");
  ASSERT_EQ(parsed.exitCode, 0) << parsed.stderrText << listed.stdoutText;
  EXPECT_EQ(parsed.stdoutLines(),
            (std::vector<std::string>{
                "'" + archive_ + "' {'files': 3, 'folders': 1, 'bytes': 5, 'leftOut': 2}",
                "['a\\\\x2Fb', ['a/b'], 'file', 'unsafe name', False, '2020-09-13T12:28:20Z']",
                "['caf\\xe9\\ttab', ['caf\\xe9\\ttab'], 'file', None, False, '1969-12-31T00:00:00Z']",
                "['d', ['d'], 'folder', None, False, '2023-11-14T22:13:20Z']",
                "['d/in\\\\x2Fside', ['d', 'in/side'], 'file', 'unsafe name', False, '2020-09-13T12:28:20Z']",
                "['say \"hi\"\\x1b[2J\\x7f.txt', ['say \"hi\"\\x1b[2J\\x7f.txt'], 'file', None, False, "
                "'2023-11-14T22:13:20Z']",
                "['s\\ufffd', ['s\\ufffd'], 'file', None, False, '2020-09-13T12:28:20Z']",
            }))
      << listed.stdoutText;
}

TEST_F(ToolListOddNames, JsonLinesGiveOneObjectPerItem) {
  if (!std::filesystem::exists("/usr/bin/python3")) GTEST_SKIP() << "no /usr/bin/python3";
  const testing::ProcessResult listed = runTool({"list", "--json-lines", archive_, "d"});
  ASSERT_EQ(listed.exitCode, 0) << listed.stderrText;
  const testing::ProcessResult parsed = parseJson(listed.stdoutText, true, "print(ascii(doc['names']))");
  ASSERT_EQ(parsed.exitCode, 0) << parsed.stderrText << listed.stdoutText;
  EXPECT_EQ(parsed.stdoutLines(), (std::vector<std::string>{"['d']", "['d', 'in/side']"}));
}

TEST_F(ToolListOddNames, ANameThatHoldsASlashIsShownEscapedInEveryLine) {
  SORVEL_SKIP_FOR_WINDOWS_TOOL();  // Windows holds none of these names: they are left out
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> out, err;
  };
  const std::string aSlashB = "Error: can not extract: a\\x2Fb: unsafe name";
  const std::string inSide = "Error: can not extract: d/in\\x2Fside: unsafe name";
  const Case cases[] = {
      {"list",
       {"list", archive_, "d"},
       0,
       {"d----            0 2023-11-14 22:13 d/",
        "----a            2 2020-09-13 12:28 d/in\\x2Fside  (left out: unsafe name)",
        "0 files, 1 folders, 0 bytes, 1 left out"},
       {}},
      {"test", {"test", archive_}, 11, {"5 files, 1 folders, 5 bytes: 2 errors"}, {aSlashB, inSide}},
      {"extract",
       {"extract", "-C", dir_.file("out"), archive_},
       11,
       {},
       {aSlashB, inSide, "sorvel: archive extracted with errors"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::ProcessResult result = runTool(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.stdoutLines(), c.out);
    EXPECT_EQ(result.stderrLines(), c.err);
  }
}

// Output that does not reach its place fails the run, whichever command wrote it.
TEST(ToolOutput, AFullDeviceIsAWriteErrorNamed) {
  testing::TempDir dir;
  const std::string archive = dir.file("a.sva");
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive));
  const std::vector<std::string> commands[] = {
      {"list", archive},           {"list", "--json", archive},    {"test", archive},
      {"cat", archive, "big.bin"}, {"export", "-o", "-", archive}, {"extract", "-v", "-C", dir.file("out"), archive},
  };
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command.front() + " " + command[1]);
    testing::ProcessRequest request;
    request.program = "/bin/sh";
    request.args = {"-c", "exec \"$0\" \"$@\" >/dev/full", SORVEL_TOOL_EXE};
    request.args.insert(request.args.end(), command.begin(), command.end());
    request.environment = {std::string("SORVEL_PASSWORD=") + testing::kToolPassword};
    const testing::ProcessResult result = testing::runProcess(request);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.stderrText, "sorvel: write error: No space left on device\n");
  }
}

TEST_F(ToolList, NamesThatNeedEscapingStayOneLine) {
  SORVEL_SKIP_FOR_WINDOWS_TOOL();  // Windows holds no name with a control character
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf(testing::kToolPassword);
  builder.addFile(u"say \"hi\"\x1b[2J.txt", "x");
  const std::string archive = dir_.file("odd.sva");
  ASSERT_TRUE(builder.writeTo(archive));
  const testing::ProcessResult text = runTool({"list", "-q", archive});
  ASSERT_EQ(text.stdoutLines().size(), 1u);
  EXPECT_TRUE(text.stdoutLines()[0].ends_with(" say \"hi\"\\x1B[2J.txt")) << text.stdoutText;
  const testing::ProcessResult json = runTool({"list", "--json-lines", archive});
  ASSERT_EQ(json.stdoutLines().size(), 1u);
  EXPECT_TRUE(json.stdoutLines()[0].starts_with("{\"path\":\"say \\\"hi\\\"\\u001b[2J.txt\"")) << json.stdoutText;
}

TEST_F(ToolList, ItemsNotInTheArchiveAreNamed) {
  const testing::ProcessResult result =
      runTool({"list", archive_, "docs/x", "top.txt", "*.md", "nope", "docs/*.txt", "--exclude", "nope"});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.stdoutText, "");
  EXPECT_EQ(result.stderrLines(), (std::vector<std::string>{"sorvel: no such item in archive: docs/x",
                                                            "sorvel: no such item in archive: *.md",
                                                            "sorvel: no such item in archive: nope"}));
  // An item excluded was found all the same.
  EXPECT_EQ(runTool({"list", archive_, "top.txt", "--exclude", "top.txt"}).exitCode, 0);
}

}  // namespace
}  // namespace sorvel
