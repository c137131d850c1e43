#include "platform/RawTerminalMode.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace sorvel {

namespace {

constexpr std::array<int, 3> kRestoringSignals = {SIGINT, SIGTERM, SIGHUP};

// What a signal handler needs to put the terminal back; written only while no handler is set.
struct SavedTerminal {
  int fd = -1;
  termios mode{};
  std::array<struct sigaction, kRestoringSignals.size()> previousActions{};
  std::array<bool, kRestoringSignals.size()> handled{};
};
SavedTerminal saved;
volatile sig_atomic_t modeChanged = 0;

void restoreMode() {
  if (modeChanged == 0) return;
  int result = 0;
  do {
    result = ::tcsetattr(saved.fd, TCSANOW, &saved.mode);
  } while (result != 0 && errno == EINTR);
  modeChanged = 0;
}

void restoreActions() {
  for (std::size_t i = 0; i < kRestoringSignals.size(); ++i) {
    if (saved.handled[i]) ::sigaction(kRestoringSignals[i], &saved.previousActions[i], nullptr);
    saved.handled[i] = false;
  }
}

extern "C" void onTerminatingSignal(int signal) {
  const int savedErrno = errno;
  restoreMode();
  restoreActions();
  // The previous disposition is back; once this handler returns the signal is unblocked and
  // delivered again, ending the process as it would have without us.
  ::raise(signal);
  errno = savedErrno;
}

}  // namespace

bool RawTerminalMode::enter() {
  if (active_) return true;
  termios mode{};
  if (::tcgetattr(fd_, &mode) != 0) return false;
  saved.fd = fd_;
  saved.mode = mode;

  for (std::size_t i = 0; i < kRestoringSignals.size(); ++i) {
    struct sigaction current {};
    ::sigaction(kRestoringSignals[i], nullptr, &current);
    // A signal that was ignored stays ignored: it cannot end the process.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction handler {};
    handler.sa_handler = onTerminatingSignal;
    sigemptyset(&handler.sa_mask);
    for (const int other : kRestoringSignals) sigaddset(&handler.sa_mask, other);
    if (::sigaction(kRestoringSignals[i], &handler, &saved.previousActions[i]) == 0) saved.handled[i] = true;
  }

  termios raw = mode;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  modeChanged = 1;
  if (::tcsetattr(fd_, TCSANOW, &raw) != 0) {
    modeChanged = 0;
    restoreActions();
    return false;
  }
  active_ = true;
  return true;
}

void RawTerminalMode::leave() {
  if (!active_) return;
  // Mode first: a signal that comes in between still finds its handler and restores again.
  restoreMode();
  restoreActions();
  active_ = false;
}

}  // namespace sorvel
