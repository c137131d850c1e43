// What the process does for its own safety: no core dumps of a process that holds the password,
// and no named temporary file left behind by an interrupt or a termination.
#include "platform/ProcessSafety.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileWriter.h"
#include "support/TempDir.h"

namespace sorvel {
namespace {

namespace fs = std::filesystem;

// Runs `body` in a child process and answers how it ended, as waitpid reports it.
int inChild(const std::function<void()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  int status = 0;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  return status;
}

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ProcessSafety, CoreDumpsAreOff) {
  const int status = inChild([] {
    if (!disableCoreDumps()) ::_exit(1);
    rlimit core{};
    if (::getrlimit(RLIMIT_CORE, &core) != 0 || core.rlim_cur != 0 || core.rlim_max != 0) ::_exit(2);
    if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) ::_exit(3);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A named temporary file (file systems without unnamed ones) is removed when SIGINT or SIGTERM
// ends the run halfway through a file, and the signal still ends the process.
TEST(ProcessSafety, AnInterruptOrTerminationRemovesTheNamedTemporaryFile) {
  testing::TempDir dir;
  for (const int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    const std::string folder = dir.makeDir("case" + std::to_string(signal));
    std::ofstream(folder + "/target") << "old";
    const int status = inChild([&] {
      ::signal(signal, SIG_DFL);
      auto writer = FileWriter::create(folder + "/target");  // by path: always a named file
      if (!writer || writer->temporaryPath().empty()) ::_exit(1);
      const std::vector<std::uint8_t> content(100000, 7);
      if (!writer->write(content.data(), content.size())) ::_exit(2);
      ::raise(signal);
      ::_exit(3);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"target"});
  }
}

// Two threads writing files at once: a signal removes the temporary file of each.
TEST(ProcessSafety, ATerminationRemovesTheTemporaryFilesOfEveryWritingThread) {
  testing::TempDir dir;
  const std::string folder = dir.makeDir("two");
  for (const char* target : {"/a", "/b"}) std::ofstream(folder + target) << "old";
  const int status = inChild([&] {
    ::signal(SIGTERM, SIG_DFL);
    std::atomic<int> ready{0};
    std::atomic<bool> stop{false};
    auto write = [&](const char* target) {
      auto writer = FileWriter::create(folder + target);
      if (!writer || writer->temporaryPath().empty()) ::_exit(1);
      ++ready;
      while (!stop) std::this_thread::yield();  // the thread and its file stay until the end
    };
    std::thread first(write, "/a");
    std::thread second(write, "/b");
    while (ready < 2) std::this_thread::yield();
    ::raise(SIGTERM);
    ::_exit(3);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(entriesOf(folder), (std::vector<std::string>{"a", "b"}));
}

}  // namespace
}  // namespace sorvel
