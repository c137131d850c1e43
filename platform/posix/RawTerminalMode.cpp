#include "platform/posix/RawTerminalMode.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>

namespace sorvel {

namespace {

extern "C" void onTerminatingSignal(int signal);
extern "C" void onStopSignal(int signal);
extern "C" void onContinueSignal(int signal);

struct HandledSignal {
  int number;
  void (*handler)(int);
  // A signal that was ignored stays ignored, unless it is one that matters even then: the
  // process goes on at SIGCONT whatever its disposition.
  bool evenIfIgnored;
};

constexpr std::array<HandledSignal, 6> kHandledSignals = {{
    {SIGINT, onTerminatingSignal, false},
    {SIGTERM, onTerminatingSignal, false},
    {SIGHUP, onTerminatingSignal, false},
    {SIGQUIT, onTerminatingSignal, false},
    {SIGTSTP, onStopSignal, false},
    {SIGCONT, onContinueSignal, true},
}};

// What the signal handlers need; written only while no handler is set.
struct SavedTerminal {
  int fd = -1;
  termios mode{};     // as it was: given back on leave, before the process ends or stops
  termios raw{};      // ours: set again when the process goes on
  int noticeFd = -1;  // where a resumption is announced
  std::array<struct sigaction, kHandledSignals.size()> previousActions{};
  std::array<bool, kHandledSignals.size()> handled{};
};
SavedTerminal saved;
volatile sig_atomic_t modeChanged = 0;  // the terminal is in our mode
volatile sig_atomic_t rawWanted = 0;    // between enter() and leave()

void setMode(const termios& mode) {
  int result = 0;
  do {
    result = ::tcsetattr(saved.fd, TCSANOW, &mode);
  } while (result != 0 && errno == EINTR);
}

void restoreMode() {
  if (modeChanged == 0) return;
  setMode(saved.mode);
  modeChanged = 0;
}

// After a stop: raw again, unless the mode was left in the meantime, and a notice for the reader.
void resumeRawMode() {
  if (rawWanted == 0) return;
  modeChanged = 1;
  setMode(saved.raw);
  if (saved.noticeFd >= 0) {
    const char notice = 1;
    const ssize_t ignored = ::write(saved.noticeFd, &notice, 1);  // a full pipe holds notices enough
    static_cast<void>(ignored);
  }
}

void restoreActions() {
  for (std::size_t i = 0; i < kHandledSignals.size(); ++i) {
    if (saved.handled[i]) ::sigaction(kHandledSignals[i].number, &saved.previousActions[i], nullptr);
    saved.handled[i] = false;
  }
}

std::size_t slotOf(int signal) {
  std::size_t slot = 0;
  while (kHandledSignals[slot].number != signal) ++slot;
  return slot;
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

extern "C" void onStopSignal(int signal) {
  const int savedErrno = errno;
  restoreMode();
  // Stop the way the signal would have stopped us: its previous disposition back for a moment,
  // the signal raised again and let through. The process stands still inside the unblocking
  // call until SIGCONT (or goes straight on where a stop is not allowed, in an orphaned group).
  struct sigaction ours {};
  ::sigaction(signal, &saved.previousActions[slotOf(signal)], &ours);
  ::raise(signal);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::sigprocmask(SIG_BLOCK, &only, nullptr);
  ::sigaction(signal, &ours, nullptr);
  resumeRawMode();
  errno = savedErrno;
}

extern "C" void onContinueSignal(int) {
  const int savedErrno = errno;
  resumeRawMode();
  errno = savedErrno;
}

}  // namespace

RawTerminalMode::~RawTerminalMode() {
  leave();
  for (int& fd : notices_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

bool RawTerminalMode::takeResumed() {
  if (notices_[0] < 0) return false;
  bool any = false;
  char notices[64];
  while (::read(notices_[0], notices, sizeof notices) > 0) any = true;
  return any;
}

bool RawTerminalMode::enter() {
  if (active_) return true;
  termios mode{};
  if (::tcgetattr(fd_, &mode) != 0) return false;
  // Without the pipe the mode still comes back after a stop; only the notice is missing.
  if (notices_[0] < 0 && ::pipe2(notices_, O_CLOEXEC | O_NONBLOCK) != 0) notices_[0] = notices_[1] = -1;
  takeResumed();  // anything older belongs to an earlier line

  termios raw = mode;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHONL | IEXTEN);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  saved.fd = fd_;
  saved.mode = mode;
  saved.raw = raw;
  saved.noticeFd = notices_[1];

  for (std::size_t i = 0; i < kHandledSignals.size(); ++i) {
    const HandledSignal& handled = kHandledSignals[i];
    struct sigaction current {};
    ::sigaction(handled.number, nullptr, &current);
    if (current.sa_handler == SIG_IGN && !handled.evenIfIgnored) continue;
    struct sigaction handler {};
    handler.sa_handler = handled.handler;
    handler.sa_flags = SA_RESTART;
    sigemptyset(&handler.sa_mask);
    for (const HandledSignal& other : kHandledSignals) sigaddset(&handler.sa_mask, other.number);
    if (::sigaction(handled.number, &handler, &saved.previousActions[i]) == 0) saved.handled[i] = true;
  }

  rawWanted = 1;
  modeChanged = 1;
  if (::tcsetattr(fd_, TCSANOW, &raw) != 0) {
    rawWanted = 0;
    modeChanged = 0;
    restoreActions();
    return false;
  }
  active_ = true;
  return true;
}

void RawTerminalMode::leave() {
  if (!active_) return;
  // Nothing may make the terminal raw again from here on. Mode first: a signal that comes in
  // between still finds its handler and restores again.
  rawWanted = 0;
  restoreMode();
  restoreActions();
  saved.noticeFd = -1;
  active_ = false;
}

}  // namespace sorvel
