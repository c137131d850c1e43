#include "platform/win32/ConsoleKeySource.h"

namespace sorvel::win32 {

std::optional<KeyEvent> ConsoleKeySource::translate(const KEY_EVENT_RECORD& key) {
  if (!key.bKeyDown) return std::nullopt;
  if (key.wVirtualKeyCode == VK_RETURN) return KeyEvent::enter();
  if (key.wVirtualKeyCode == VK_BACK) return KeyEvent::backspace();
  const auto unit = static_cast<char16_t>(key.uChar.UnicodeChar);
  if (unit == 0) return std::nullopt;
  return KeyEvent::character(unit);
}

KeyEvent ConsoleKeySource::next() {
  while (!ended_) {
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!ReadConsoleInputW(console_, &record, 1, &read) || read == 0) {
      ended_ = true;
      break;
    }
    if (record.EventType != KEY_EVENT) continue;
    if (const std::optional<KeyEvent> event = translate(record.Event.KeyEvent)) return *event;
  }
  return KeyEvent::enter();
}

}  // namespace sorvel::win32
