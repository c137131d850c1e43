#pragma once
// Puts a terminal into the mode a password prompt needs: bytes delivered as typed (no line
// editing) and nothing echoed. The previous mode comes back on leave(), on destruction (so also
// while an exception unwinds) and when SIGINT, SIGTERM or SIGHUP arrives; the signal then goes
// on to do what it would have done. One terminal at a time per process.
#include <termios.h>

namespace sorvel {

class RawTerminalMode {
 public:
  explicit RawTerminalMode(int fd) : fd_(fd) {}
  ~RawTerminalMode() { leave(); }
  RawTerminalMode(const RawTerminalMode&) = delete;
  RawTerminalMode& operator=(const RawTerminalMode&) = delete;

  // False when the descriptor is not a terminal or its mode cannot be changed.
  bool enter();
  void leave();
  bool active() const { return active_; }

 private:
  int fd_;
  bool active_ = false;
};

}  // namespace sorvel
