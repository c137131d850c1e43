#include "support/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <array>
#include <cerrno>
#include <thread>
#include <tuple>

extern char** environ;

namespace sorvel::testing {

namespace {

constexpr int kExecFailed = 127;
constexpr std::chrono::milliseconds kPollSlice{100};

bool isLocaleVariable(std::string_view entry) {
  return entry.starts_with("LC_") || entry.starts_with("LANG=") || entry.starts_with("LANGUAGE=");
}

std::vector<std::string> childEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!isLocaleVariable(*e)) entries.emplace_back(*e);
  }
  entries.emplace_back("LC_ALL=C");
  entries.emplace_back("LANG=C");
  for (const std::string& entry : extra) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    std::erase_if(entries, [&name](const std::string& e) { return e.starts_with(name); });
    entries.push_back(entry);
  }
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

struct Pipe {
  int read = -1;
  int write = -1;
  bool open() {
    std::array<int, 2> fds{};
    if (::pipe2(fds.data(), O_CLOEXEC) != 0) return false;
    read = fds[0];
    write = fds[1];
    return true;
  }
};

void closeFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Only async-signal-safe calls between fork and exec.
// A failure is reported as its errno on `status`, which exec closes when it succeeds.
[[noreturn]] void becomeChild(const ProcessRequest& request, const Pipe& in, const Pipe& out, const Pipe& err,
                              const Pipe& status, char** argv, char** envp) {
  ::dup2(in.read, STDIN_FILENO);
  ::dup2(out.write, STDOUT_FILENO);
  ::dup2(err.write, STDERR_FILENO);
  // The test process ignores SIGPIPE; the program must start with the usual dispositions.
  ::signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (request.addressSpaceLimit != 0) {
    const rlimit limit{request.addressSpaceLimit, request.addressSpaceLimit};
    ::setrlimit(RLIMIT_AS, &limit);
  }
  if (request.fileSizeLimit != 0) {
    const rlimit limit{request.fileSizeLimit, request.fileSizeLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  if (request.workingDirectory.empty() || ::chdir(request.workingDirectory.c_str()) == 0) ::execve(argv[0], argv, envp);
  const int error = errno;
  [[maybe_unused]] const ssize_t n = ::write(status.write, &error, sizeof error);
  ::_exit(kExecFailed);
}

}  // namespace

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> ProcessResult::stdoutLines() const { return splitLines(stdoutText); }
std::vector<std::string> ProcessResult::stderrLines() const { return splitLines(stderrText); }

ProcessResult runProcess(const ProcessRequest& request) {
  // A child that stops reading must not take the test process down with it.
  ::signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> argStrings{request.program};
  argStrings.insert(argStrings.end(), request.args.begin(), request.args.end());
  std::vector<std::string> envStrings = childEnvironment(request.environment);
  std::vector<char*> argv = pointers(argStrings);
  std::vector<char*> envp = pointers(envStrings);

  ProcessResult result;
  Pipe in, out, err, status;
  const bool piped = in.open() && out.open() && err.open() && status.open();
  const pid_t pid = piped ? ::fork() : -1;
  if (pid == 0) becomeChild(request, in, out, err, status, argv.data(), envp.data());
  for (int* fd : {&in.read, &out.write, &err.write, &status.write}) closeFd(*fd);
  int execError = 0;
  const bool execFailed = pid > 0 && ::read(status.read, &execError, sizeof execError) > 0;
  closeFd(status.read);
  if (pid < 0 || execFailed) {
    for (int* fd : {&in.write, &out.read, &err.read}) closeFd(*fd);
    if (pid > 0) ::waitpid(pid, nullptr, 0);
    return result;
  }
  result.started = true;

  if (request.stdinBytes.empty()) closeFd(in.write);
  if (in.write >= 0) ::fcntl(in.write, F_SETFL, O_NONBLOCK);
  std::size_t written = 0;
  const auto deadline = std::chrono::steady_clock::now() + request.timeout;
  std::array<char, 4096> buffer{};

  while (out.read >= 0 || err.read >= 0) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    std::array<pollfd, 3> watch{{{out.read, POLLIN, 0}, {err.read, POLLIN, 0}, {in.write, POLLOUT, 0}}};
    const int ready = ::poll(watch.data(), watch.size(), static_cast<int>(std::min(left, kPollSlice).count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;

    if (in.write >= 0 && (watch[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n = ::write(in.write, request.stdinBytes.data() + written, request.stdinBytes.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == request.stdinBytes.size()) closeFd(in.write);
    }
    for (auto [index, fd, text] :
         {std::tuple{0, &out.read, &result.stdoutText}, std::tuple{1, &err.read, &result.stderrText}}) {
      if (*fd < 0 || (watch[index].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = ::read(*fd, buffer.data(), buffer.size());
      if (n > 0) {
        text->append(buffer.data(), static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        closeFd(*fd);
      }
    }
  }
  for (int* fd : {&in.write, &out.read, &err.read}) closeFd(*fd);

  // The output may be closed before the process ends: the time limit holds for the wait too.
  int waitStatus = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &waitStatus, result.timedOut ? 0 : WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    if (done == 0 && std::chrono::steady_clock::now() >= deadline) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
    } else if (done == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  if (WIFEXITED(waitStatus)) {
    result.exited = true;
    result.exitCode = WEXITSTATUS(waitStatus);
  } else if (WIFSIGNALED(waitStatus)) {
    result.signal = WTERMSIG(waitStatus);
  }
  return result;
}

ProcessResult runSorvel(const std::vector<std::string>& args, const std::string& stdinBytes,
                        const std::string& workingDirectory) {
  ProcessRequest request;
  request.args = args;
  request.stdinBytes = stdinBytes;
  request.workingDirectory = workingDirectory;
  return runProcess(request);
}

std::vector<std::string> environmentWithoutIcu() {
  // An instrumented program checks that its sanitizer runtime is the first library loaded; the
  // preloaded one comes before it, and is harmless.
  const char* sanitizerOptions = std::getenv("ASAN_OPTIONS");
  std::string options = sanitizerOptions != nullptr ? std::string(sanitizerOptions) + ":" : std::string();
  return {std::string("LD_PRELOAD=") + SORVEL_REFUSE_ICU, "ASAN_OPTIONS=" + options + "verify_asan_link_order=0"};
}

}  // namespace sorvel::testing
