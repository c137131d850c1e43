#include "platform/posix/TerminalKeySource.h"

#include <poll.h>
#include <unistd.h>

#include <array>
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
    // A negative descriptor (no notices) is left out by poll.
    std::array<pollfd, 2> watch{{{fd_, POLLIN, 0}, {mode_.resumeNotices(), POLLIN, 0}}};
    const int ready = ::poll(watch.data(), watch.size(), timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return std::nullopt;
    if (ready > 0 && watch[1].revents != 0 && mode_.takeResumed()) {
      resumed_ = true;
      // Waiting for a key: hand the resumption over now. Waiting for the rest of an escape
      // sequence: that may still come.
      if (timeoutMs < 0) return std::nullopt;
      if (watch[0].revents == 0) continue;
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
    if (ended_) decoder_.flush(pending_);
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
  for (;;) {
    if (std::exchange(resumed_, false)) return KeyEvent::resumed();
    if (!pending_.empty()) break;
    if (ended_) {
      mode_.leave();
      return KeyEvent::enter();
    }
    if (!mode_.active()) mode_.enter();
    readMore();
  }
  const KeyEvent event = takeFirst(pending_);
  // The line is complete: give the terminal back its usual mode until the next one.
  if (event.kind == KeyEvent::Kind::Enter) mode_.leave();
  return event;
}

}  // namespace sorvel
