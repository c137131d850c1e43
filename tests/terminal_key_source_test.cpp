// Keys typed at a terminal, through real pseudo-terminals: the key source on its own, and the
// program's password prompt.
#include "platform/posix/TerminalKeySource.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <future>
#include <iterator>
#include <stdexcept>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "archive/ArchiveHeader.h"
#include "support/ArchiveBuilder.h"
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
    {"BothBackspaceCodes",
     {"a\x7f"
      "b\b\r"},
     {ch('a'), kBackspace, ch('b'), kBackspace, kEnter}},
    {"ArrowKeysDropped", {"a\x1b[Db\x1b[A\x1bOB\r"}, {ch('a'), ch('b'), kEnter}},
    {"ModifiedCursorKeyDropped", {"a\x1b[1;5Cb\r"}, {ch('a'), ch('b'), kEnter}},
    {"EditingKeysDropped", {"\x1b[3~\x1b[2~\x1b[H\x1b[5~x\r"}, {ch('x'), kEnter}},
    {"FunctionKeysDropped", {"\x1bOP\x1b[15~\x1b[[Ay\r"}, {ch('y'), kEnter}},
    {"EscapeAloneIsACharacter", {"\x1b", "x\r"}, {ch(27), ch('x'), kEnter}},
    {"EscapeThenOtherKey", {"\x1bq\r"}, {ch(27), ch('q'), kEnter}},
    {"Utf8BecomesCharacters",
     {"\xC3\xA9\xF0\x9F\x98\x80\r"},
     {ch(0xE9), KeyEvent::surrogatePair(0xD83D, 0xDE00), kEnter}},
    {"CharacterSplitAcrossWrites", {"\xF0\x9F", "\x98\x80\r"}, {KeyEvent::surrogatePair(0xD83D, 0xDE00), kEnter}},
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
  // A hang-up drops input not yet read: give the reader the byte first. It reaches the terminal
  // with a delay of its own, so wait a while even when nothing is seen unread.
  const auto typed = std::chrono::steady_clock::now();
  int unread = 0;
  do {
    std::this_thread::sleep_for(2ms);
    ASSERT_EQ(::ioctl(pty.slave(), FIONREAD, &unread), 0);
  } while ((unread > 0 || std::chrono::steady_clock::now() - typed < 100ms) &&
           std::chrono::steady_clock::now() - typed < kPatience);
  pty.closeMaster();
  ASSERT_EQ(line.wait_for(kPatience), std::future_status::ready);
  EXPECT_EQ(line.get(), (std::vector<KeyEvent>{ch(0xFFFD), kEnter}));
  EXPECT_EQ(source.next(), kEnter);
}

// The state letter of a process in /proc (R, S, T for stopped, ...); '?' once it is gone.
char processState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  const std::size_t nameEnd = text.rfind(')');
  return nameEnd == std::string::npos || nameEnd + 2 >= text.size() ? '?' : text[nameEnd + 2];
}

bool waitForState(pid_t pid, char state) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (processState(pid) != state) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// How the program is started on its terminal.
struct Launch {
  const char* archive = "a.sva";
  // In a process group of its own, the terminal's foreground job, below a minimal shell that
  // waits for it and ends as it ends; the shell never touches the terminal's mode, so whatever
  // mode the terminal is in while the job is stopped is the program's doing.
  bool asJob = false;
  bool stdoutToFile = false;  // standard output to "stdout.txt" in the test folder
};

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
  }

  void start(const Launch& launch = {}) {
    int jobPipe[2] = {-1, -1};
    ASSERT_EQ(::pipe(jobPipe), 0);
    PtyPair defaults;
    mode_ = defaults.original();
    pid_ = ::forkpty(&master_, nullptr, &mode_, nullptr);
    if (pid_ == 0) {
      ::close(jobPipe[0]);
      runChild(launch, jobPipe[1]);
    }
    ::close(jobPipe[1]);
    ASSERT_GT(pid_, 0) << "forkpty";
    job_ = pid_;
    if (launch.asJob) {
      ASSERT_EQ(::read(jobPipe[0], &job_, sizeof job_), static_cast<ssize_t>(sizeof job_));
    }
    ::close(jobPipe[0]);
  }

  void TearDown() override {
    if (job_ > 0 && job_ != pid_ && !reaped_) ::kill(job_, SIGKILL);
    if (pid_ > 0 && !reaped_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
  }

  // Reads the terminal's output until it holds `needle` at or after `from`; false after the time
  // limit or at its end.
  bool readUntil(const std::string& needle, std::size_t from = 0) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (seen_.find(needle, from) == std::string::npos) {
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
  pid_t pid_ = -1;  // the process started on the terminal: the program, or the shell of its job
  pid_t job_ = -1;  // the program
  bool reaped_ = false;
  std::string seen_;

 private:
  [[noreturn]] void runChild(const Launch& launch, int jobPipe) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGTSTP, SIGTTOU, SIGTTIN}) ::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::setenv("LC_ALL", "C", 1);
    ::setenv("LANG", "C", 1);
    if (::chdir(dir_.path().c_str()) != 0) ::_exit(127);
    if (launch.stdoutToFile) {
      const int file = ::open("stdout.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (file < 0 || ::dup2(file, STDOUT_FILENO) < 0) ::_exit(127);
      ::close(file);
    }
    if (launch.asJob) {
      const pid_t job = ::fork();
      if (job < 0) ::_exit(127);
      if (job > 0) {
        ::setpgid(job, job);
        if (::write(jobPipe, &job, sizeof job) != static_cast<ssize_t>(sizeof job)) ::_exit(127);
        int status = 0;
        while (::waitpid(job, &status, 0) < 0 && errno == EINTR) {
        }
        ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
      }
      // Into the foreground, as a shell puts a job there.
      ::setpgid(0, 0);
      ::signal(SIGTTOU, SIG_IGN);
      if (::tcsetpgrp(STDIN_FILENO, ::getpgrp()) != 0) ::_exit(127);
      ::signal(SIGTTOU, SIG_DFL);
    }
    ::close(jobPipe);
    ::execl(SORVEL_EXE, SORVEL_EXE, launch.archive, "out", nullptr);
    ::_exit(127);
  }

  bool readSome(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
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
  start();
  ASSERT_TRUE(readUntil("Password: "));
  ASSERT_TRUE(waitForRawMode(master_));

  // "ab", Backspace, an arrow key, "c", a smiley, Backspace, Enter.
  writeAll(master_, "ab\x7f\x1b[Dc\xF0\x9F\x98\x80\x7f\r");
  readToEnd();
  const int status = waitForExit();
  ASSERT_TRUE(WIFEXITED(status)) << seen_;

  const std::string prompt = "Password: ";
  const std::size_t at = seen_.find(prompt);
  ASSERT_NE(at, std::string::npos);
  const std::size_t lineEnd = seen_.find("\r\n", at);
  ASSERT_NE(lineEnd, std::string::npos) << seen_;
  // Stars and the erasing of them, one per character; nothing the user typed, not the arrow
  // key's sequence.
  EXPECT_EQ(seen_.substr(at + prompt.size(), lineEnd - at - prompt.size()), "**\b \b**\b \b") << seen_;
  EXPECT_EQ(seen_.find("Input  : " + dir_.path() + "/a.sva\r\n"), 0u) << seen_;
  EXPECT_TRUE(sameMode(terminalMode(), mode_));
}

// A signal that ends the program in the middle of the password, sent or typed.
struct EndingCase {
  const char* name;
  int signal;
  const char* key;  // typed to raise it; nullptr: sent with kill
};

void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.name; }

const EndingCase kEndingCases[] = {
    {"InterruptKey", SIGINT, "\x03"}, {"QuitKey", SIGQUIT, "\x1c"},          {"InterruptSignal", SIGINT, nullptr},
    {"QuitSignal", SIGQUIT, nullptr}, {"TerminateSignal", SIGTERM, nullptr}, {"HangUpSignal", SIGHUP, nullptr},
};

class EndingOnTerminal : public PromptOnTerminal, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(EndingOnTerminal, RestoresTheModeAndEndsAsTheSignalWould) {
  const EndingCase& c = GetParam();
  start();
  ASSERT_TRUE(readUntil("Password: "));
  ASSERT_TRUE(waitForRawMode(master_));
  writeAll(master_, "x");
  ASSERT_TRUE(readUntil("Password: *"));

  if (c.key != nullptr) {
    writeAll(master_, c.key);
  } else {
    ASSERT_EQ(::kill(pid_, c.signal), 0);
  }
  const int status = waitForExit();
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << status;
  EXPECT_EQ(WTERMSIG(status), c.signal);
  EXPECT_TRUE(sameMode(terminalMode(), mode_));
}

std::string endingCaseName(const ::testing::TestParamInfo<EndingCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Signals, EndingOnTerminal, ::testing::ValuesIn(kEndingCases), endingCaseName);

TEST_F(PromptOnTerminal, StopAndContinueInTheMiddleOfThePassword) {
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf("ab\xF0\x9F\x98\x80");
  builder.addFile(u"note.txt", "stopped and continued");
  ASSERT_TRUE(builder.writeTo(dir_.file("job.sva")));
  start({.archive = "job.sva", .asJob = true});
  ASSERT_TRUE(readUntil("Password: "));
  ASSERT_TRUE(waitForRawMode(master_));
  writeAll(master_, "a\xF0\x9F\x98\x80");
  ASSERT_TRUE(readUntil("Password: **"));

  writeAll(master_, "\x1a");  // Ctrl-Z.
  ASSERT_TRUE(waitForState(job_, 'T')) << "the program did not stop";
  // Stopped, the terminal is as it was before the prompt: echo and line editing on.
  EXPECT_TRUE(sameMode(terminalMode(), mode_));

  const std::size_t beforeContinue = seen_.size();
  ASSERT_EQ(::kill(job_, SIGCONT), 0);  // fg: the job still holds the terminal
  ASSERT_TRUE(waitForRawMode(master_));
  // The prompt again, with a star for each character typed so far.
  ASSERT_TRUE(readUntil("\rPassword: **", beforeContinue)) << seen_;
  writeAll(master_,
           "\x7f"
           "b\xF0\x9F\x98\x80\r");
  readToEnd();
  const int status = waitForExit();
  ASSERT_TRUE(WIFEXITED(status)) << seen_;
  // Erasing the smiley took it whole: the password is the archive's.
  EXPECT_EQ(WEXITSTATUS(status), 0) << seen_;
  EXPECT_NE(seen_.find("\rPassword: **\b \b**\r\n", beforeContinue), std::string::npos) << seen_;
  EXPECT_NE(seen_.find("Archive extracted successfully! "), std::string::npos) << seen_;
  EXPECT_TRUE(sameMode(terminalMode(), mode_));
}

TEST_F(PromptOnTerminal, PromptStaysOnTheTerminalWhenStandardOutputIsAFile) {
  start({.stdoutToFile = true});
  ASSERT_TRUE(readUntil("Password: "));
  ASSERT_TRUE(waitForRawMode(master_));
  writeAll(master_, "xy\r");
  readToEnd();
  const int status = waitForExit();
  ASSERT_TRUE(WIFEXITED(status)) << seen_;

  EXPECT_NE(seen_.find("Password: **\r\n"), std::string::npos) << seen_;
  EXPECT_EQ(seen_.find("Input  : "), std::string::npos) << seen_;
  std::ifstream file(dir_.file("stdout.txt"), std::ios::binary);
  const std::string written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, "Input  : " + dir_.path() + "/a.sva\nOutput : " + dir_.path() + "/out\n");
}

}  // namespace
}  // namespace sorvel
