// The sorvel tool on a pseudo-terminal: the progress line on standard error during a long run,
// and the password prompt on the terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/ProcessMemory.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

namespace sorvel {
namespace {

using namespace std::chrono_literals;

constexpr std::uint64_t kBigSize = 8u << 20;

// The tool started on a fresh terminal, its standard output on a pipe that the test holds back
// for a while, so that the run lasts past the progress line's first second.
class ToolOnTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ArchiveBuilder builder;
    builder.settings.password = testing::bytesOf(testing::kToolPassword);
    builder.addGeneratedFile(u"big.bin", kBigSize, testing::seededContent(5));
    ASSERT_TRUE(builder.writeTo(archive_));
  }
  void TearDown() override {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) ::close(master_);
    if (output_ >= 0) ::close(output_);
  }

  // `errorToPipe`: standard error goes to a pipe, not the terminal (its bytes join the output's).
  void start(std::vector<std::string> args, bool withPassword, bool errorToPipe = false) {
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      if (errorToPipe) ::dup2(out[1], STDERR_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      ::signal(SIGPIPE, SIG_DFL);
      if (withPassword) {
        ::setenv("SORVEL_PASSWORD", testing::kToolPassword, 1);
      } else {
        ::unsetenv("SORVEL_PASSWORD");
      }
      std::vector<char*> argv = {const_cast<char*>(SORVEL_TOOL_EXE)};
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      ::execv(SORVEL_TOOL_EXE, argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    output_ = out[0];
  }

  // Reads whatever the terminal and the pipe deliver until both end; the pipe is left unread
  // for `holdBack` first. `typeAtPrompt`: typed at the terminal once it shows "Password: ".
  void collect(std::chrono::milliseconds holdBack, const std::string& typeAtPrompt = {}) {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + 30s;
    bool terminalOpen = true, outputOpen = true, typed = typeAtPrompt.empty();
    while ((terminalOpen || outputOpen) && std::chrono::steady_clock::now() < deadline) {
      const bool readOutput = std::chrono::steady_clock::now() - start >= holdBack;
      pollfd fds[2] = {{master_, POLLIN, 0}, {readOutput && outputOpen ? output_ : -1, POLLIN, 0}};
      if (::poll(fds, 2, 20) < 0) break;
      char buffer[65536];
      if (terminalOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
          terminal_.append(buffer, static_cast<std::size_t>(n));
        } else {
          terminalOpen = false;
        }
      }
      if (!typed && promptReady()) {
        ASSERT_EQ(::write(master_, typeAtPrompt.data(), typeAtPrompt.size()),
                  static_cast<ssize_t>(typeAtPrompt.size()));
        typed = true;
      }
      if (outputOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        const ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n > 0) {
          output_bytes_ += static_cast<std::uint64_t>(n);
          if (outputText_.size() < 4096) outputText_.append(buffer, static_cast<std::size_t>(n));
        } else {
          outputOpen = false;
        }
      }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid_, &status, 0), pid_);
    pid_ = -1;
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Typed once the prompt shows and the terminal no longer echoes.
  bool promptReady() const {
    termios mode{};
    return terminal_.find("Password: ") != std::string::npos && ::tcgetattr(master_, &mode) == 0 &&
           (mode.c_lflag & ECHO) == 0;
  }

  // Takes what the terminal shows for up to `limit` or until `done`.
  bool readTerminalUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd terminal = {master_, POLLIN, 0};
      if (::poll(&terminal, 1, 20) > 0) {
        char buffer[4096];
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) terminal_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    return true;
  }

  testing::TempDir dir_;
  std::string archive_ = dir_.file("a.sva");
  pid_t pid_ = -1;
  int master_ = -1;
  int output_ = -1;
  std::string terminal_;
  std::string outputText_;
  std::uint64_t output_bytes_ = 0;
  int exitCode_ = -1;
};

TEST_F(ToolOnTerminal, ProgressShowsOnALongRunAndIsClearedAtTheEnd) {
  start({"cat", archive_, "big.bin"}, true);
  collect(1500ms);
  EXPECT_EQ(exitCode_, 0);
  EXPECT_EQ(output_bytes_, kBigSize);
  const std::size_t line = terminal_.find("\r0/1 items, ");
  ASSERT_NE(line, std::string::npos) << terminal_;
  EXPECT_NE(terminal_.find(" MiB/8.0 MiB, ", line), std::string::npos) << terminal_;
  EXPECT_NE(terminal_.find("/s, ETA ", line), std::string::npos) << terminal_;
  EXPECT_TRUE(terminal_.ends_with("\x1b[K\r\x1b[K")) << terminal_;  // the last line, then cleared
}

TEST_F(ToolOnTerminal, NoProgressWhenQuietOrWhenStandardErrorIsNoTerminal) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    bool errorToPipe;
  };
  const Case cases[] = {
      {"--quiet", {"cat", "--quiet", archive_, "big.bin"}, false},
      {"standard error on a pipe", {"cat", archive_, "big.bin"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    terminal_.clear();
    output_bytes_ = 0;
    start(c.args, true, c.errorToPipe);
    collect(1500ms);
    EXPECT_EQ(exitCode_, 0);
    EXPECT_EQ(output_bytes_, kBigSize);  // content only: nothing of a progress line joined it
    EXPECT_EQ(terminal_, "");
    ::close(master_);
    master_ = -1;
    ::close(output_);
    output_ = -1;
  }
}

TEST_F(ToolOnTerminal, AnArchiveIsNotReadFromTheTerminal) {
  start({"list", "-"}, true);
  collect(0ms);
  EXPECT_EQ(exitCode_, 1);
  EXPECT_NE(terminal_.find("sorvel: not reading an archive from a terminal; pipe it in, or name the archive file"),
            std::string::npos)
      << terminal_;
  EXPECT_EQ(outputText_, "");
}

TEST_F(ToolOnTerminal, PasswordIsTypedAtTheTerminalMasked) {
  start({"list", archive_}, false);
  collect(0ms, "tool-pass\r");
  EXPECT_EQ(exitCode_, 0);
  EXPECT_NE(terminal_.find("Password: *********"), std::string::npos) << terminal_;
  EXPECT_EQ(terminal_.find("tool-pass"), std::string::npos);
  EXPECT_NE(outputText_.find(" big.bin\n"), std::string::npos) << outputText_;
}

// While `cat` waits on a full pipe, long after the password check, no copy of the password is
// left in its memory: not of the typed keys, the file's line or the environment's value, nor the
// key block cipher's key. (The data cipher is AES-XTS, whose key is derived; AES-CFB keys AES
// with the password itself, and its key schedule is the password.)
TEST_F(ToolOnTerminal, NoCopyOfThePasswordStaysInMemoryWhileCatWrites) {
  testing::ArchiveBuilder builder;
  builder.settings.password = testing::bytesOf(testing::kToolPassword);
  builder.settings.keyBlockCipher = 1;  // AES-CFB
  builder.settings.dataCipher = 3;      // AES-XTS
  builder.addGeneratedFile(u"big.bin", 1u << 20, testing::seededContent(5));
  ASSERT_TRUE(builder.writeTo(archive_));
  const std::string passwordFile = dir_.writeFile("pw", std::string(testing::kToolPassword) + "\n");
  struct Case {
    const char* name;
    std::vector<std::string> options;
    bool fromEnvironment;
  };
  const Case cases[] = {
      {"typed at the terminal", {}, false},
      {"environment", {}, true},
      {"file", {"--password-file", passwordFile}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.fromEnvironment && testing::kRuntimeKeepsEnvironment) continue;
    terminal_.clear();
    std::vector<std::string> args = {"cat", archive_, "big.bin"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    start(args, c.fromEnvironment);
    if (c.options.empty() && !c.fromEnvironment) {
      ASSERT_TRUE(readTerminalUntil([this] { return promptReady(); }, 10s)) << terminal_;
      const std::string typed = std::string(testing::kToolPassword) + "\r";
      ASSERT_EQ(::write(master_, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    }
    // Content flows: the password was checked. The pipe is left to fill, and cat to wait on it.
    pollfd output = {output_, POLLIN, 0};
    ASSERT_EQ(::poll(&output, 1, 10000), 1);
    readTerminalUntil([] { return false; }, 300ms);
    std::size_t regions = 0;
    const std::vector<std::string> copies = testing::findInProcessMemory(pid_, testing::kToolPassword, &regions);
    ASSERT_GT(regions, 0u) << "the memory of cat could not be read";
    EXPECT_TRUE(copies.empty()) << ::testing::PrintToString(copies);
    TearDown();
    pid_ = master_ = output_ = -1;
  }
}

}  // namespace
}  // namespace sorvel
