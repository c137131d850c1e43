// Text made safe for a terminal: the rule itself, and the program's reports of names that try to
// drive the terminal.
#include "platform/TerminalText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/ArchiveBuilder.h"
#include "support/ProcessRunner.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

struct SafeCase {
  const char* name;
  std::string text;
  std::string shown;
};

void PrintTo(const SafeCase& c, std::ostream* os) { *os << c.name; }

const SafeCase kSafeCases[] = {
    {"PlainTextKept", "Input  : /tmp/a b.sva", "Input  : /tmp/a b.sva"},
    {"BackslashesKept", "\\docs\\x41\\", "\\docs\\x41\\"},
    {"EscapeSequence", "\x1b[31mred\x1b[0m", "\\x1B[31mred\\x1B[0m"},
    {"LineEnds", "a\nb\rc", "a\\x0Ab\\x0Dc"},
    {"OtherC0", std::string("\0\a\t\x1f", 4), "\\x00\\x07\\x09\\x1F"},
    {"Delete", "x\x7fy", "x\\x7Fy"},
    // C1 controls as the characters they are in UTF-8 (CSI, NEL, the last one).
    {"C1Controls",
     "\xC2\x9B"
     "2J\xC2\x85\xC2\x9F",
     "\\x9B2J\\x85\\x9F"},
    {"PrintableNonAsciiKept", "\xC2\xA0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD",
     "\xC2\xA0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD"},
    // Bytes that are not well-formed UTF-8 are shown as bytes: a raw C1 byte can be a control
    // to a terminal that is not in UTF-8 mode.
    {"StrayC1Byte",
     "a\x9b"
     "2J",
     "a\\x9B2J"},
    {"CutSequenceAtEnd", "ab\xC3", "ab\\xC3"},
    {"CutSequenceBeforeAscii", "\xE2\x82(", "\\xE2\\x82("},
    {"OverlongSlash", "\xC0\xAF", "\\xC0\\xAF"},
    {"EncodedSurrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
    {"BeyondUnicode", "\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},
    {"Empty", "", ""},
};

class TerminalSafeTest : public ::testing::TestWithParam<SafeCase> {};

TEST_P(TerminalSafeTest, ShowsThis) { EXPECT_EQ(terminalSafe(GetParam().text), GetParam().shown); }

std::string safeCaseName(const ::testing::TestParamInfo<SafeCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Texts, TerminalSafeTest, ::testing::ValuesIn(kSafeCases), safeCaseName);

// Nothing on the stream that a terminal acts on: no control byte but the line ends.
void expectPlainLines(const std::string& stream) {
  for (const char c : stream) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_FALSE((byte < 0x20 && byte != '\n') || byte == 0x7F) << "control byte " << unsigned{byte};
  }
  EXPECT_EQ(stream.find("\xC2\x9B"), std::string::npos);
}

// `line` is `expected`, or `expected` with the reason after ": ".
bool reportMatches(const std::string& line, const std::string& expected) {
  return line == expected || line.starts_with(expected + ": ");
}

TEST(TerminalSafeReports, NamesInReportsCannotDriveTheTerminal) {
  testing::TempDir dir;
  testing::ArchiveBuilder builder;
  // Written with a zero tail, and reported as damaged.
  builder.addFile(u"\x1b]0;owned\x07\x1b[31mred.bin", Bytes(20000, 'r')).storedSize = 40000;
  // Names holding "/" are never written, and reported.
  builder.addFile(u"forged", "f").storedName = u"x\n/Archive extracted successfully! ";
  builder.addFile(u"csi", "c").storedName = u"\u009B2J/y";
  // Written under its own name, so nothing to report.
  builder.addFile(u"\x1b[1mbold.txt", "b");
  const std::string archive = dir.file("a.sva");
  ASSERT_TRUE(builder.writeTo(archive));

  const testing::ProcessResult run = testing::runSorvel({archive, dir.file("out")}, "\n", dir.path());
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.exitCode, 11);
  expectPlainLines(run.stdoutText);
  expectPlainLines(run.stderrText);
  EXPECT_EQ(run.stdoutText.find("Archive extracted successfully!"), std::string::npos);

  std::vector<std::string> lines = run.stderrLines();
  ASSERT_EQ(lines.size(), 4u) << run.stderrText;
  EXPECT_EQ(lines.back(), "Error: archive extracted with errors!");
  lines.pop_back();
  const std::string expected[] = {
      "Error: damaged item: \\\\x1B]0;owned\\x07\\x1B[31mred.bin",
      "Error: can not extract: \\x\\x0A/Archive extracted successfully! ",
      "Error: can not extract: \\\\x9B2J/y",
  };
  for (const std::string& report : expected) {
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return reportMatches(line, report); }),
        1)
        << "missing: " << report << "\nin:\n"
        << run.stderrText;
  }
  // Only what is printed is escaped: on disk a name is what the archive says.
  EXPECT_TRUE(std::filesystem::exists(dir.file("out/\x1b[1mbold.txt")));
}

}  // namespace
}  // namespace sorvel
