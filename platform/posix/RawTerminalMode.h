#pragma once
// Puts a terminal into the mode a password prompt needs: bytes delivered as typed (no line
// editing) and nothing echoed. The previous mode comes back on leave(), on destruction (so also
// while an exception unwinds) and when SIGINT, SIGTERM, SIGHUP or SIGQUIT arrives; the signal
// then goes on to do what it would have done. Under job control the terminal is handed back as it
// was before the process stops (SIGTSTP, Ctrl-Z) and made raw again when it goes on (SIGCONT);
// each time it goes on, a notice is left for the reader of the keys (resumeNotices). One terminal
// at a time per process.
#include <termios.h>

namespace sorvel {

class RawTerminalMode {
 public:
  explicit RawTerminalMode(int fd) : fd_(fd) {}
  ~RawTerminalMode();
  RawTerminalMode(const RawTerminalMode&) = delete;
  RawTerminalMode& operator=(const RawTerminalMode&) = delete;

  // False when the descriptor is not a terminal or its mode cannot be changed.
  bool enter();
  void leave();
  bool active() const { return active_; }

  // A descriptor that becomes readable when the process has gone on after a stop while the mode
  // was active; -1 when there is none (the mode was never entered, or no pipe could be made).
  int resumeNotices() const { return notices_[0]; }
  // True when such notices had come; takes them all.
  bool takeResumed();

 private:
  int fd_;
  bool active_ = false;
  int notices_[2] = {-1, -1};  // read end, write end
};

}  // namespace sorvel
