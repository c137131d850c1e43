#pragma once
// Runs a program as a child process the way a user's shell would, but with everything under
// the test's control: arguments, the bytes on standard input (always a pipe), the working
// folder, a plain "C" locale, and a time limit. Standard output and standard error are
// captured separately.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace sorvel::testing {

struct ProcessRequest {
  std::string program = SORVEL_EXE;
  std::vector<std::string> args;  // without the program name
  std::string stdinBytes;         // written to the pipe, which is then closed
  std::string workingDirectory;   // empty: the test's own
  // "NAME=value" entries added to the environment (after LC_ALL=C and LANG=C, so they may
  // override them).
  std::vector<std::string> environment;
  std::chrono::milliseconds timeout{30000};
  // Limits of the child in bytes, 0 for none: its address space (RLIMIT_AS) and the largest file
  // it may write (RLIMIT_FSIZE).
  std::uint64_t addressSpaceLimit = 0;
  std::uint64_t fileSizeLimit = 0;
};

struct ProcessResult {
  bool started = false;   // false when the child could not be created or the program not run
  bool timedOut = false;  // killed with SIGKILL when the time limit passed
  bool exited = false;    // ended through exit; then exitCode holds its status
  int exitCode = -1;
  int signal = 0;  // the signal that ended the process, 0 when it exited
  std::string stdoutText;
  std::string stderrText;

  // The text split into lines at '\n'; a final newline ends the last line rather than starting
  // an empty one.
  std::vector<std::string> stdoutLines() const;
  std::vector<std::string> stderrLines() const;
};

ProcessResult runProcess(const ProcessRequest& request);

// The built program with these arguments, standard input and working folder.
ProcessResult runSorvel(const std::vector<std::string>& args, const std::string& stdinBytes = {},
                        const std::string& workingDirectory = {});

std::vector<std::string> splitLines(const std::string& text);

// Environment entries that run a program as on a host where ICU cannot be loaded
// (tests/preload/RefuseIcu.cpp).
std::vector<std::string> environmentWithoutIcu();

}  // namespace sorvel::testing
