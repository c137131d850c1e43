// Which stream a line goes to, and what exactly is written.
#include "platform/Console.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace sorvel {
namespace {

struct LineCase {
  const char* text;
  bool toError;
};

TEST(Console, ErrorLinesGoToTheErrorStream) {
  const LineCase cases[] = {
      {"Error: archive format error !", true},
      {"Error:", true},
      {"Input  : /x/Error: y", false},
      {" Error: leading blank", false},
      {"Error without colon", false},
      {"error: lower case", false},
      {"", false},
  };
  for (const LineCase& c : cases) {
    std::ostringstream out, err;
    Console console(out, err);
    console.line(c.text);
    const std::string expected = std::string(c.text) + "\n";
    EXPECT_EQ(out.str(), c.toError ? "" : expected) << c.text;
    EXPECT_EQ(err.str(), c.toError ? expected : "") << c.text;
  }
}

TEST(Console, WriteAddsNoLineEndAndKeepsBytes) {
  std::ostringstream out, err;
  Console console(out, err);
  console.write("Password: ");
  console.write("*\b \b");
  console.write("Error: still the prompt");
  console.line("\xC3\xA9");
  EXPECT_EQ(out.str(), "Password: *\b \bError: still the prompt\xC3\xA9\n");
  EXPECT_EQ(err.str(), "");
}

TEST(Console, LinesCannotDriveTheTerminal) {
  std::ostringstream out, err;
  Console console(out, err);
  console.line("Input  : /x/\x1b[2Jy\nz");
  console.line("Error: can not extract: \\a\rArchive extracted successfully! ");
  EXPECT_EQ(out.str(), "Input  : /x/\\x1B[2Jy\\x0Az\n");
  EXPECT_EQ(err.str(), "Error: can not extract: \\a\\x0DArchive extracted successfully! \n");
}

}  // namespace
}  // namespace sorvel
