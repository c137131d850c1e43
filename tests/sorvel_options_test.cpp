// The sorvel tool's command line: help, version and usage errors, and where the password comes
// from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
      {{"cat", archive}, 1, "", "sorvel: cat takes the archive and one path\n"},
      {{"list", "-C", "x", archive}, 1, "", "sorvel: option not taken by list: -C\n"},
      {{"test", "--json", archive}, 1, "", "sorvel: option not taken by test: --json\n"},
      {{"extract", "--keep", "--overwrite", archive}, 1, "", "sorvel: --overwrite and --keep exclude each other\n"},
      {{"list", archive, "--password-file"}, 1, "", "sorvel: option needs a value: --password-file\n"},
      {{"list", "--password-fd", "x1", archive}, 1, "", "sorvel: not a file descriptor: x1\n"},
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

TEST(ToolOptions, PasswordSourcesInTheirOrder) {
  testing::TempDir dir;
  const std::string archive = dir.file("a.sva");
  ASSERT_TRUE(testing::sampleArchive().writeTo(archive));
  const std::string right = dir.writeFile("right", "tool-pass\nsecond line\n");
  const std::string wrong = dir.writeFile("wrong", "nope\n");
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::vector<std::string> environment;
    std::string stdinBytes;
    int exitCode;
  };
  const Case cases[] = {
      {"environment", {}, {"SORVEL_PASSWORD=tool-pass"}, "", 0},
      {"environment in compatibility forms (NFKC)",
       {}, {"SORVEL_PASSWORD=\xEF\xBD\x94\xEF\xBD\x8F\xEF\xBD\x8F\xEF\xBD\x8C\xEF\xBC\x8D\xEF\xBD\x90\xEF\xBD\x81\xEF\xBD\x93\xEF\xBD\x93"}, "", 0},
      {"file: its first line", {"--password-file", right}, {}, "", 0},
      {"file before environment", {"--password-file", right}, {"SORVEL_PASSWORD=nope"}, "", 0},
      {"file before descriptor", {"--password-file", wrong, "--password-fd", "0"}, {}, "tool-pass\n", 9},
      {"descriptor before environment", {"--password-fd", "0"}, {"SORVEL_PASSWORD=nope"}, "tool-pass\n", 0},
      {"environment before standard input", {}, {"SORVEL_PASSWORD=nope"}, "tool-pass\n", 9},
      {"standard input last", {}, {}, "tool-pass\r\n", 0},
      {"wrong everywhere", {}, {}, "nope\n", 9},
      {"file missing", {"--password-file", dir.file("none")}, {}, "", 2},
      {"descriptor not open", {"--password-fd", "57"}, {}, "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Without a controlling terminal, so that nothing is asked there.
    testing::ProcessRequest request;
    request.program = "/usr/bin/setsid";
    request.args = {"-w", SORVEL_TOOL_EXE, "list", archive, "top.txt"};
    request.args.insert(request.args.end(), c.options.begin(), c.options.end());
    request.environment = c.environment;
    request.environment.emplace_back("TZ=UTC");
    request.stdinBytes = c.stdinBytes;
    const testing::ProcessResult result = testing::runProcess(request);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.stderrText;
    EXPECT_EQ(result.stdoutText, c.exitCode == 0 ? "----a            3 2023-11-14 22:21 top.txt\n" : "");
  }
}

}  // namespace
}  // namespace sorvel
