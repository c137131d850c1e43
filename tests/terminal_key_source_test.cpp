// Keys typed at a terminal, through real pseudo-terminals: the key source on its own, and the
// program's password prompt.
#include "platform/TerminalKeySource.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <stdexcept>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "archive/ArchiveHeader.h"
#include "support/KeyEventPrinter.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

using namespace std::chrono_literals;

KeyEvent ch(char16_t unit) { return KeyEvent::character(unit); }
const KeyEvent kEnter = KeyEvent::enter();
const KeyEvent kBackspace = KeyEvent::backspace();

constexpr auto kPatience = 10s;

bool sameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
         a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

bool isRaw(const termios& mode) { return (mode.c_lflag & (ICANON | ECHO)) == 0; }

// Waits until the terminal behind `fd` is in raw, silent mode, as the key source sets it.
bool waitForRawMode(int fd) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  termios mode{};
  while (std::chrono::steady_clock::now() < deadline) {
    if (::tcgetattr(fd, &mode) == 0 && isRaw(mode)) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

void writeAll(int fd, const std::string& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// A pseudo-terminal pair in its default (cooked, echoing) mode.
class PtyPair {
 public:
  PtyPair() {
    if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) ADD_FAILURE() << "openpty";
    ::tcgetattr(slave_, &original_);
  }
  ~PtyPair() {
    closeMaster();
    if (slave_ >= 0) ::close(slave_);
  }
  void closeMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  int master() const { return master_; }
  int slave() const { return slave_; }
  const termios& original() const { return original_; }
  termios current() const {
    termios mode{};
    ::tcgetattr(slave_, &mode);
    return mode;
  }

 private:
  int master_ = -1;
  int slave_ = -1;
  termios original_{};
};

std::vector<KeyEvent> readLine(TerminalKeySource& source) {
  std::vector<KeyEvent> events;
  do {
    events.push_back(source.next());
  } while (events.back() != kEnter && events.size() < 64);
  return events;
}

struct TypingCase {
  const char* name;
  // Written one after the other, with a pause longer than an escape sequence may take between.
  std::vector<std::string> chunks;
  std::vector<KeyEvent> events;
};

void PrintTo(const TypingCase& c, std::ostream* os) { *os << c.name; }

const TypingCase kTypingCases[] = {
    {"EnterAsCarriageReturn", {"ab\r"}, {ch('a'), ch('b'), kEnter}},
    {"EnterAsLineFeed", {"a\n"}, {ch('a'), kEnter}},
    {"BothBackspaceCodes", {"a\x7f" "b\b\r"}, {ch('a'), kBackspace, ch('b'), kBackspace, kEnter}},
    {"ArrowKeysDropped", {"a\x1b[Db\x1b[A\x1bOB\r"}, {ch('a'), ch('b'), kEnter}},
    {"ModifiedCursorKeyDropped", {"a\x1b[1;5Cb\r"}, {ch('a'), ch('b'), kEnter}},
    {"EditingKeysDropped", {"\x1b[3~\x1b[2~\x1b[H\x1b[5~x\r"}, {ch('x'), kEnter}},
    {"FunctionKeysDropped", {"\x1bOP\x1b[15~\x1b[[Ay\r"}, {ch('y'), kEnter}},
    {"EscapeAloneIsACharacter", {"\x1b", "x\r"}, {ch(27), ch('x'), kEnter}},
    {"EscapeThenOtherKey", {"\x1bq\r"}, {ch(27), ch('q'), kEnter}},
    {"Utf8BecomesUnits", {"\xC3\xA9\xF0\x9F\x98\x80\r"}, {ch(0xE9), ch(0xD83D), ch(0xDE00), kEnter}},
    {"PrefixLookalikesAreCharacters", {std::string("\xC3\xA0\0\r", 4)}, {ch(0xE0), ch(0), kEnter}},
    {"ControlCharactersAreCharacters", {"\t\x01\x15\r"}, {ch('\t'), ch(1), ch(0x15), kEnter}},
    {"InvalidByteIsReplacement", {"\xFF\r"}, {ch(0xFFFD), kEnter}},
};

class TerminalTypingTest : public ::testing::TestWithParam<TypingCase> {};

TEST_P(TerminalTypingTest, DeliversTheseEvents) {
  const TypingCase& c = GetParam();
  PtyPair pty;
  TerminalKeySource source(pty.slave());
  auto line = std::async(std::launch::async, [&source] { return readLine(source); });

  // Typing before the mode changes would let the terminal's own line editing see the keys.
  ASSERT_TRUE(waitForRawMode(pty.slave()));
  for (std::size_t i = 0; i < c.chunks.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(4 * TerminalKeySource::kSequenceTimeoutMs));
    writeAll(pty.master(), c.chunks[i]);
  }
  if (line.wait_for(kPatience) != std::future_status::ready) {
    ADD_FAILURE() << "the line never ended";
    pty.closeMaster();  // hang-up: the source gives Enter and the reader returns
  }
  EXPECT_EQ(line.get(), c.events);
  EXPECT_TRUE(sameMode(pty.current(), pty.original())) << "mode not restored after Enter";
}

std::string typingCaseName(const ::testing::TestParamInfo<TypingCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Keys, TerminalTypingTest, ::testing::ValuesIn(kTypingCases), typingCaseName);

TEST(TerminalKeySource, RawOnlyWhileALineIsTyped) {
  PtyPair pty;
  TerminalKeySource source(pty.slave());
  EXPECT_TRUE(sameMode(pty.current(), pty.original())) << "changed before any key was asked for";

  writeAll(pty.master(), "ab");  // typed ahead, in the terminal's usual mode
  auto first = std::async(std::launch::async, [&source] { return source.next(); });
  ASSERT_TRUE(waitForRawMode(pty.slave()));
  writeAll(pty.master(), "\r");
  ASSERT_EQ(first.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(first.get(), ch('a'));
  EXPECT_EQ(source.next(), ch('b'));
  EXPECT_TRUE(isRaw(pty.current()));
  EXPECT_EQ(source.next(), kEnter);
  EXPECT_TRUE(sameMode(pty.current(), pty.original()));
}

TEST(TerminalKeySource, ModeRestoredWhenAnExceptionLeavesMidLine) {
  PtyPair pty;
  writeAll(pty.master(), "x");
  bool wasRaw = false;
  try {
    TerminalKeySource source(pty.slave());
    EXPECT_EQ(source.next(), ch('x'));
    wasRaw = isRaw(pty.current());
    throw std::runtime_error("interrupted");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(wasRaw);
  EXPECT_TRUE(sameMode(pty.current(), pty.original()));
}

TEST(TerminalKeySource, HangUpEndsTheLine) {
  PtyPair pty;
  TerminalKeySource source(pty.slave());
  auto line = std::async(std::launch::async, [&source] { return readLine(source); });
  ASSERT_TRUE(waitForRawMode(pty.slave()));
  writeAll(pty.master(), "\xC3");
  std::this_thread::sleep_for(20ms);
  pty.closeMaster();
  ASSERT_EQ(line.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(line.get(), (std::vector<KeyEvent>{ch(0xFFFD), kEnter}));
  EXPECT_EQ(source.next(), kEnter);
}

// The program on a pseudo-terminal of its own, as a user at a terminal starts it.
class PromptOnTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    ArchiveHeader header;
    header.setMagic();
    header.authType = 1;
    header.cipherType = 1;
    header.headerSignature = kHeaderSignature;
    const auto bytes = header.serialize();
    dir_.writeFile("a.sva", std::string(bytes.begin(), bytes.end()));

    PtyPair defaults;
    mode_ = defaults.original();
    pid_ = ::forkpty(&master_, nullptr, &mode_, nullptr);
    if (pid_ == 0) {
      for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) ::signal(sig, SIG_DFL);
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::setenv("LC_ALL", "C", 1);
      ::setenv("LANG", "C", 1);
      if (::chdir(dir_.path().c_str()) == 0) ::execl(SORVEL_EXE, SORVEL_EXE, "a.sva", "out", nullptr);
      ::_exit(127);
    }
    ASSERT_GT(pid_, 0) << "forkpty";
  }

  void TearDown() override {
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
  }

  // Reads the terminal's output until it holds `needle`; false after the time limit or at its end.
  bool readUntil(const std::string& needle) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (seen_.find(needle) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= deadline || !readSome(deadline)) return false;
    }
    return true;
  }

  void readToEnd() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (readSome(deadline)) {
    }
  }

  int waitForExit() {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ADD_FAILURE() << "the program did not end";
        return 0;
      }
      std::this_thread::sleep_for(2ms);
    }
    reaped_ = true;
    return status;
  }

  termios terminalMode() const {
    termios mode{};
    ::tcgetattr(master_, &mode);
    return mode;
  }

  testing::TempDir dir_;
  termios mode_{};
  int master_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string seen_;

 private:
  bool readSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd watch{master_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&watch, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[256];
    const ssize_t n = ::read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;  // EIO once the program has closed the terminal
    seen_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }
};

TEST_F(PromptOnTerminal, MasksTypingAndRestoresTheMode) {
  ASSERT_TRUE(readUntil("Password: "));
  ASSERT_TRUE(waitForRawMode(master_));

  // "ab", Backspace, an arrow key, "c", Enter.
  writeAll(master_, "ab\x7f\x1b[Dc\r");
  readToEnd();
  const int status = waitForExit();
  ASSERT_TRUE(WIFEXITED(status)) << seen_;

  const std::string prompt = "Password: ";
  const std::size_t at = seen_.find(prompt);
  ASSERT_NE(at, std::string::npos);
  const std::size_t lineEnd = seen_.find("\r\n", at);
  ASSERT_NE(lineEnd, std::string::npos) << seen_;
  // Stars and the erasing of one; nothing the user typed, not the arrow key's sequence.
  EXPECT_EQ(seen_.substr(at + prompt.size(), lineEnd - at - prompt.size()), "**\b \b*") << seen_;
  EXPECT_EQ(seen_.find("Input  : " + dir_.path() + "/a.sva\r\n"), 0u) << seen_;
  EXPECT_TRUE(sameMode(terminalMode(), mode_));
}

TEST_F(PromptOnTerminal, InterruptRestoresTheModeAndEndsTheProgram) {
  ASSERT_TRUE(readUntil("Password: "));
  ASSERT_TRUE(waitForRawMode(master_));
  writeAll(master_, "x");
  ASSERT_TRUE(readUntil("Password: *"));

  ASSERT_EQ(::kill(pid_, SIGINT), 0);
  const int status = waitForExit();
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << status;
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_TRUE(sameMode(terminalMode(), mode_));
}

}  // namespace
}  // namespace sorvel
