// The sorvel tool's command line: help, version and usage errors, and where the password comes
// from.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/FileTree.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace sorvel {
namespace {

using testing::runTool;

TEST(ToolOptions, HelpVersionAndUsageErrors) {
  testing::TempDir dir;
  const std::string archive = dir.file("a.sva");
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive));
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string outStart;  // of standard output
    std::string errStart;  // of standard error
  };
  const Case cases[] = {
      {{}, 0, "Usage: sorvel COMMAND", ""},
      {{"--help"}, 0, "Usage: sorvel COMMAND", ""},
      {{"--version"}, 0, "sorvel 1.0.0\n", ""},
      {{"help", "export"}, 0, "Usage: sorvel export", ""},
      {{"list", "--help"}, 0, "Usage: sorvel list", ""},
      {{"extract", archive, "-h"}, 0, "Usage: sorvel extract", ""},
      {{"help", "bogus"}, 1, "", "sorvel: unknown command: bogus\n"},
      {{"frobnicate", archive}, 1, "", "sorvel: unknown command: frobnicate\n"},
      {{"list"}, 1, "", "sorvel: list: no archive named\n"},
      {{"cat", archive}, 1, "", "sorvel: cat takes the archive and at least one path\n"},
      {{"list", "-C", "x", archive}, 1, "", "sorvel: option not taken by list: -C\n"},
      {{"test", "--json", archive}, 1, "", "sorvel: option not taken by test: --json\n"},
      {{"extract", "--keep", "--overwrite", archive}, 1, "", "sorvel: --overwrite and --keep exclude each other\n"},
      {{"list", archive, "--password-file"}, 1, "", "sorvel: option needs a value: --password-file\n"},
      {{"list", "--password-fd", "x1", archive}, 1, "", "sorvel: not a file descriptor: x1\n"},
      {{"list", "--password-file", "pw", archive, "--password-fd", "0"},
       1,
       "",
       "sorvel: --password-file and --password-fd exclude each other\n"},
      {{"list", "--bogus", archive}, 1, "", "sorvel: unknown option for list: --bogus\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args.front() + " " + c.args.back());
    const testing::ProcessResult result = runTool(c.args);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_TRUE(result.stdoutText.starts_with(c.outStart)) << result.stdoutText;
    EXPECT_TRUE(result.stderrText.starts_with(c.errStart)) << result.stderrText;
    if (c.outStart.empty()) {
      EXPECT_EQ(result.stdoutText, "");
    }
  }
  // The overview names every exit code and the password rules.
  const std::string help = runTool({"--help"}).stdoutText;
  for (const char* text : {"  9  incorrect password", "  11 damaged", "SORVEL_PASSWORD (the least safe"}) {
    EXPECT_NE(help.find(text), std::string::npos) << text;
  }
}

// Each source in its turn, and every way one can fail: a source that cannot be read or gives no
// password says so (exit 2) rather than passing for a wrong password.
TEST(ToolOptions, PasswordSourcesInTheirOrder) {
  testing::TempDir dir;
  const std::string archive = dir.file("a.sva");
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive));
  const std::string right = dir.writeFile("right", "tool-pass\nsecond line\n");
  const std::string empty = dir.writeFile("empty", "");
  const std::string blankLine = dir.writeFile("blank", "\ntool-pass\n");
  const std::string folder = dir.makeDir("folder");
  const std::string unreadable = dir.writeFile("unreadable", "tool-pass\n");
  ASSERT_EQ(::chmod(unreadable.c_str(), 0), 0);
  std::vector<std::string> withoutIcu = testing::environmentWithoutIcu();
  withoutIcu.emplace_back("SORVEL_PASSWORD=t\xC3\xB6\xC3\xB6l-pass");
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::string> environment;
    std::string stdinBytes;
    int exitCode;
    std::string error;  // the start of standard error; empty: not checked
  };
  std::vector<Case> cases = {
      {"environment", {}, {"SORVEL_PASSWORD=tool-pass"}, "", 0, ""},
      {"environment in compatibility forms (NFKC)",
       {},
       {"SORVEL_PASSWORD="
        "\xEF\xBD\x94\xEF\xBD\x8F\xEF\xBD\x8F\xEF\xBD\x8C\xEF\xBC\x8D\xEF\xBD\x90\xEF\xBD\x81\xEF\xBD\x93\xEF\xBD\x93"},
       "",
       0,
       ""},
      {"file: its first line", {"--password-file", right}, {}, "", 0, ""},
      {"file before environment", {"--password-file", right}, {"SORVEL_PASSWORD=nope"}, "", 0, ""},
      {"descriptor before environment", {"--password-fd", "0"}, {"SORVEL_PASSWORD=nope"}, "tool-pass\n", 0, ""},
      {"environment before standard input",
       {},
       {"SORVEL_PASSWORD=nope"},
       "tool-pass\n",
       9,
       "sorvel: incorrect password"},
      {"standard input last", {}, {}, "tool-pass\r\n", 0, ""},
      {"wrong everywhere", {}, {}, "nope\n", 9, "sorvel: incorrect password"},
      {"file missing",
       {"--password-file", dir.file("none")},
       {},
       "",
       2,
       "sorvel: can not read password file " + dir.file("none") + ": No such file or directory\n"},
      {"file is a folder",
       {"--password-file", folder},
       {},
       "tool-pass\n",
       2,
       "sorvel: can not read password file " + folder + ": Is a directory\n"},
      {"descriptor not open",
       {"--password-fd", "57"},
       {},
       "",
       2,
       "sorvel: can not read password descriptor 57: Bad file descriptor\n"},
      {"descriptor open for writing only (standard output)",
       {"--password-fd", "1"},
       {},
       "tool-pass\n",
       2,
       "sorvel: can not read password descriptor 1: Bad file descriptor\n"},
      {"descriptor on a folder",
       {"--password-fd", "3"},
       {},
       "",
       2,
       "sorvel: can not read password descriptor 3: Is a directory\n"},
      {"empty file", {"--password-file", empty}, {}, "tool-pass\n", 2, "sorvel: no password given\n"},
      {"empty first line", {"--password-file", blankLine}, {}, "", 2, "sorvel: no password given\n"},
      {"empty environment", {}, {"SORVEL_PASSWORD="}, "tool-pass\n", 2, "sorvel: no password given\n"},
      {"no input at all", {}, {}, "", 2, "sorvel: no password given\n"},
      {"not ASCII, and ICU can not be loaded",
       {},
       withoutIcu,
       "",
       2,
       "sorvel: can not normalise the password: ICU can not be loaded: /nonexistent/libicuuc.so: "},
  };
  // Root reads any file whatever its mode.
  if (::geteuid() != 0) {
    cases.push_back({"file without read permission",
                     {"--password-file", unreadable},
                     {},
                     "",
                     2,
                     "sorvel: can not read password file " + unreadable + ": Permission denied\n"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Without a controlling terminal, so that nothing is asked there; descriptor 3 is a folder.
    testing::ProcessRequest request;
    request.program = "/bin/sh";
    request.args = {
        "-c",     "exec 3<\"$0\"; exec /usr/bin/setsid -w \"$@\"", folder, SORVEL_TOOL_EXE, "list", "-q", archive,
        "top.txt"};
    request.args.insert(request.args.end(), c.options.begin(), c.options.end());
    request.environment = c.environment;
    request.environment.emplace_back("TZ=UTC");
    request.stdinBytes = c.stdinBytes;
    const testing::ProcessResult result = testing::runProcess(request);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.stderrText;
    EXPECT_EQ(result.stdoutText, c.exitCode == 0 ? "----a            3 2023-11-14 22:21 top.txt\n" : "");
    EXPECT_TRUE(result.stderrText.starts_with(c.error)) << result.stderrText;
  }
}

// ARCHIVE "-": the archive is read from standard input, which then gives no password.
TEST(ToolOptions, AnArchiveFromStandardInput) {
  testing::TempDir dir;
  const std::string archive = dir.file("a.sva");
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive));
  const std::string bytes = testing::readText(archive);
  const std::string holdsTheArchive =
      "sorvel: standard input holds the archive; give the password with --password-file, --password-fd, "
      "SORVEL_PASSWORD or at the terminal\n";
  struct Case {
    const char* name;
    std::vector<std::string> args;  // after the tool
    std::vector<std::string> environment;
    int exitCode;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {"list",
       {"list", "-q", "-", "top.txt"},
       {"SORVEL_PASSWORD=tool-pass"},
       0,
       "----a            3 2023-11-14 22:21 top.txt\n",
       ""},
      {"cat", {"cat", "-", "docs/*.txt"}, {"SORVEL_PASSWORD=tool-pass"}, 0, "read me first\nfrozen", ""},
      {"the password from the same input",
       {"list", "--password-fd", "0", "-"},
       {},
       1,
       "",
       holdsTheArchive + "Try 'sorvel --help' for more information.\n"},
      {"no password elsewhere", {"list", "-"}, {}, 2, "", holdsTheArchive},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Without a controlling terminal, so that nothing is asked there.
    testing::ProcessRequest request;
    request.program = "/usr/bin/setsid";
    request.args = {"-w", SORVEL_TOOL_EXE};
    request.args.insert(request.args.end(), c.args.begin(), c.args.end());
    request.environment = c.environment;
    request.environment.emplace_back("TZ=UTC");
    request.environment.emplace_back("TMPDIR=" + dir.path());
    request.stdinBytes = bytes;
    const testing::ProcessResult result = testing::runProcess(request);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.stdoutText, c.out);
    EXPECT_EQ(result.stderrText, c.err);
  }
  // The copy had no name: nothing is left beside the archive.
  EXPECT_EQ(testing::listTree(dir.path()), std::vector<std::string>{"a.sva"});
}

}  // namespace
}  // namespace sorvel
