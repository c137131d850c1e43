#pragma once
// Keys typed at a terminal. The terminal is switched to raw, silent input while a line is being
// typed and switched back once Enter has been delivered. Cursor, function and editing keys,
// which a terminal sends as escape sequences (ESC [ ... or ESC O ...), are dropped whole; an
// Escape key on its own is an ordinary character. A character outside the Basic Multilingual
// Plane is one key (a surrogate pair event). When the process has been stopped and continued
// while a line was typed, the next event is Resumed.
#include <cstdint>
#include <deque>
#include <optional>

#include "platform/KeyByteDecoder.h"
#include "platform/KeySource.h"
#include "platform/posix/RawTerminalMode.h"

namespace sorvel {

class TerminalKeySource final : public KeySource {
 public:
  // How long the rest of an escape sequence may take to arrive after its first byte.
  static constexpr int kSequenceTimeoutMs = 50;

  explicit TerminalKeySource(int fd) : fd_(fd), mode_(fd), decoder_(true) {}
  KeyEvent next() override;

 private:
  // The next byte; nothing at the end of the input, on an error, when `timeoutMs` (>= 0) passes
  // without one, or, when waiting without a limit, once the process has been resumed.
  std::optional<std::uint8_t> readByte(int timeoutMs);
  void readMore();
  void skipEscapeSequence(std::uint8_t introducer);

  int fd_;
  RawTerminalMode mode_;
  KeyByteDecoder decoder_;
  std::deque<KeyEvent> pending_;
  std::optional<std::uint8_t> pushedBack_;
  bool ended_ = false;
  bool resumed_ = false;
};

}  // namespace sorvel
