// Keys read from standard input when it is not a terminal.
#include "platform/PipeKeySource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "support/KeyEventPrinter.h"

namespace sorvel {
namespace {

KeyEvent ch(char16_t unit) { return KeyEvent::character(unit); }
const KeyEvent kEnter = KeyEvent::enter();
const KeyEvent kBackspace = KeyEvent::backspace();

// Reads events from a pipe that holds `input` and is then closed, until `count` are read.
std::vector<KeyEvent> eventsFrom(const std::string& input, std::size_t count) {
  std::array<int, 2> fds{};
  if (::pipe(fds.data()) != 0) {
    ADD_FAILURE() << "pipe";
    return {};
  }
  EXPECT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(fds[1]);
  PipeKeySource source(fds[0]);
  std::vector<KeyEvent> events;
  for (std::size_t i = 0; i < count; ++i) events.push_back(source.next());
  ::close(fds[0]);
  return events;
}

struct PipeCase {
  const char* name;
  std::string input;
  std::vector<KeyEvent> events;  // read exactly this many
};

void PrintTo(const PipeCase& c, std::ostream* os) { *os << c.name; }

const PipeCase kCases[] = {
    {"LineFeedEnds", "ab\ncd", {ch('a'), ch('b'), kEnter, ch('c')}},
    {"CarriageReturnEnds", "a\r\n", {ch('a'), kEnter, kEnter}},
    {"BothBackspaceBytes", "\b\x7f", {kBackspace, kBackspace}},
    {"EndOfInputIsEnterForever", "x", {ch('x'), kEnter, kEnter, kEnter}},
    {"EmptyInputIsEnter", "", {kEnter}},
    {"Utf8BecomesUnits", "\xC3\xA0\xF0\x9F\x98\x80", {ch(0xE0), ch(0xD83D), ch(0xDE00), kEnter}},
    {"PrefixLookalikesAreCharacters", std::string("\0\xC3\xA0", 3), {ch(0), ch(0xE0), kEnter}},
    {"EscapeIsACharacterHere", "\x1b[A", {ch(27), ch('['), ch('A'), kEnter}},
    {"InvalidByteIsReplacement", "\xFFz", {ch(0xFFFD), ch('z'), kEnter}},
    // A sequence cut off by a control byte or the end still shows as one character.
    {"CutByEnter", "\xE2\x82\n", {ch(0xFFFD), kEnter, kEnter}},
    {"CutByBackspace", "\xF0\x9F\x7f", {ch(0xFFFD), kBackspace, kEnter}},
    {"CutByEnd", "\xF0\x9F\x98", {ch(0xFFFD), kEnter}},
};

class PipeKeySourceTest : public ::testing::TestWithParam<PipeCase> {};

TEST_P(PipeKeySourceTest, DeliversTheseEvents) {
  const PipeCase& c = GetParam();
  EXPECT_EQ(eventsFrom(c.input, c.events.size()), c.events);
}

std::string caseName(const ::testing::TestParamInfo<PipeCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Inputs, PipeKeySourceTest, ::testing::ValuesIn(kCases), caseName);

// A read that fails ends the line as the end of the input does, and is told from it by its error.
TEST(PipeKeySource, AFailedReadEndsTheLineAndIsToldFromTheEnd) {
  const int folder = ::open("/", O_RDONLY);
  ASSERT_GE(folder, 0);
  const int empty = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(empty, 0);
  const int closed = ::open("/dev/null", O_RDONLY);  // last, so that nothing takes its number again
  ASSERT_GE(closed, 0);
  ::close(closed);
  const struct {
    const char* name;
    int fd;
    int error;
  } cases[] = {{"closed", closed, EBADF}, {"a folder", folder, EISDIR}, {"empty", empty, 0}};
  for (const auto& c : cases) {
    PipeKeySource source(c.fd);
    EXPECT_EQ(source.readError(), 0) << c.name << ": nothing read yet";
    EXPECT_EQ(source.next(), kEnter) << c.name;
    EXPECT_EQ(source.next(), kEnter) << c.name;
    EXPECT_EQ(source.readError(), c.error) << c.name;
  }
  ::close(folder);
  ::close(empty);
}

TEST(PipeKeySource, TakesNothingBeyondTheLine) {
  std::array<int, 2> fds{};
  ASSERT_EQ(::pipe(fds.data()), 0);
  const std::string input = "pw\nrest";
  ASSERT_EQ(::write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  ::close(fds[1]);
  {
    PipeKeySource source(fds[0]);
    for (int i = 0; i < 3; ++i) source.next();
  }
  std::array<char, 8> rest{};
  EXPECT_EQ(::read(fds[0], rest.data(), rest.size()), 4);
  EXPECT_EQ(std::string(rest.data(), 4), "rest");
  ::close(fds[0]);
}

TEST(PipeKeySource, EndlessInputEndsTheLineAfterOneMebibyte) {
  // The limit falls inside a two-byte character, which is then cut like any other.
  std::string input(PipeKeySource::kMaxBytes - 1, 'a');
  input += "\xC3\xA9rest";
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(input.data(), 1, input.size(), file), input.size());
  ASSERT_EQ(std::fflush(file), 0);
  const int fd = ::fileno(file);
  ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);

  PipeKeySource source(fd);
  std::size_t letters = 0;
  KeyEvent event = source.next();
  for (; event == ch('a'); event = source.next()) ++letters;
  EXPECT_EQ(letters, PipeKeySource::kMaxBytes - 1);
  EXPECT_EQ(event, ch(0xFFFD));
  EXPECT_EQ(source.next(), kEnter);
  EXPECT_EQ(source.next(), kEnter);
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), static_cast<off_t>(PipeKeySource::kMaxBytes)) << "read past the limit";
  std::fclose(file);
}

}  // namespace
}  // namespace sorvel
