#include "platform/KeyByteDecoder.h"

namespace sorvel {

void KeyByteDecoder::appendUnits(std::deque<KeyEvent>& out) {
  for (const char16_t unit : units_) out.push_back(KeyEvent::character(unit));
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
