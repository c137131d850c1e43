#pragma once
// Keys typed at a Windows console, read as key events (ReadConsoleInputW): nothing is echoed and
// no line editing happens. Enter and Backspace are their own events; a key that types a character
// gives that character (a character outside the Basic Multilingual Plane arrives as its two
// units); keys that type nothing (cursor, function, shift keys) are dropped. Ctrl-C stays with
// the console, which ends the run. When the console cannot be read any more, Enter.
#include <windows.h>

#include <optional>

#include "platform/KeySource.h"

namespace sorvel::win32 {

class ConsoleKeySource final : public KeySource {
 public:
  explicit ConsoleKeySource(HANDLE console) : console_(console) {}
  KeyEvent next() override;

  // The event a key record gives, or nothing for a record that types nothing.
  static std::optional<KeyEvent> translate(const KEY_EVENT_RECORD& key);

 private:
  HANDLE console_;
  bool ended_ = false;
};

}  // namespace sorvel::win32
