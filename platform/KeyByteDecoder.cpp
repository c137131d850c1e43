#include "platform/KeyByteDecoder.h"

#include "base/Bytes.h"

namespace sorvel {

KeyEvent takeFirst(std::deque<KeyEvent>& pending) {
  const KeyEvent event = pending.front();
  secureWipe(&pending.front(), sizeof(KeyEvent));
  pending.pop_front();
  return event;
}

KeyByteDecoder::~KeyByteDecoder() {
  units_.resize(units_.capacity());
  secureWipe(units_.data(), units_.size() * sizeof(char16_t));
}

void KeyByteDecoder::appendUnits(std::deque<KeyEvent>& out) {
  // The decoder hands out the two units of a character together, so a pair never straddles calls.
  for (std::size_t i = 0; i < units_.size(); ++i) {
    const char16_t unit = units_[i];
    if (wholeCharacters_ && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units_.size()) {
      out.push_back(KeyEvent::surrogatePair(unit, units_[++i]));
    } else {
      out.push_back(KeyEvent::character(unit));
    }
  }
  units_.clear();
}

void KeyByteDecoder::flush(std::deque<KeyEvent>& out) {
  utf8_.finish(units_);
  appendUnits(out);
}

void KeyByteDecoder::feed(std::uint8_t byte, std::deque<KeyEvent>& out) {
  switch (byte) {
    case '\r':
    case '\n':
      flush(out);
      out.push_back(KeyEvent::enter());
      return;
    case 8:
    case 127:
      flush(out);
      out.push_back(KeyEvent::backspace());
      return;
    default:
      utf8_.feed(byte, units_);
      appendUnits(out);
  }
}

}  // namespace sorvel
