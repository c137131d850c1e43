#include "platform/TerminalKeySource.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace sorvel {

namespace {
constexpr std::uint8_t kEscape = 27;

// Bytes of a control sequence: parameters and intermediates, then one final byte.
bool isSequenceBody(std::uint8_t byte) { return byte >= 0x20 && byte <= 0x3F; }
bool isSequenceFinal(std::uint8_t byte) { return byte >= 0x40 && byte <= 0x7E; }
}  // namespace

std::optional<std::uint8_t> TerminalKeySource::readByte(int timeoutMs) {
  if (pushedBack_) return std::exchange(pushedBack_, std::nullopt);
  for (;;) {
    if (timeoutMs >= 0) {
      pollfd watch{fd_, POLLIN, 0};
      const int ready = ::poll(&watch, 1, timeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return std::nullopt;
    }
    std::uint8_t byte = 0;
    const ssize_t n = ::read(fd_, &byte, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n == 1) return byte;
    if (timeoutMs < 0) ended_ = true;  // hang-up or error: no more keys will come
    return std::nullopt;
  }
}

void TerminalKeySource::skipEscapeSequence(std::uint8_t introducer) {
  std::optional<std::uint8_t> byte = readByte(kSequenceTimeoutMs);
  // The Linux console's own function keys: ESC [ [ letter.
  if (introducer == '[' && byte == '[') {
    readByte(kSequenceTimeoutMs);
    return;
  }
  while (byte && isSequenceBody(*byte)) byte = readByte(kSequenceTimeoutMs);
  // A byte that cannot end a sequence was typed on its own; keep it.
  if (byte && !isSequenceFinal(*byte)) pushedBack_ = byte;
}

void TerminalKeySource::readMore() {
  const std::optional<std::uint8_t> byte = readByte(-1);
  if (!byte) {
    decoder_.flush(pending_);
    return;
  }
  if (*byte != kEscape) {
    decoder_.feed(*byte, pending_);
    return;
  }
  decoder_.flush(pending_);
  const std::optional<std::uint8_t> introducer = readByte(kSequenceTimeoutMs);
  if (introducer == '[' || introducer == 'O') {
    skipEscapeSequence(*introducer);
    return;
  }
  // Escape pressed on its own, or followed by a key of its own.
  pending_.push_back(KeyEvent::character(kEscape));
  pushedBack_ = introducer;
}

KeyEvent TerminalKeySource::next() {
  while (pending_.empty()) {
    if (ended_) {
      mode_.leave();
      return KeyEvent::enter();
    }
    if (!mode_.active()) mode_.enter();
    readMore();
  }
  const KeyEvent event = pending_.front();
  pending_.pop_front();
  // The line is complete: give the terminal back its usual mode until the next one.
  if (event.kind == KeyEvent::Kind::Enter) mode_.leave();
  return event;
}

}  // namespace sorvel
