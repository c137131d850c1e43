#pragma once
// Raw key presses for the password prompt, read without echo. A character, Enter, Backspace and
// the prefix that a console sends before the code of a function or cursor key are different
// kinds of event, so a typed U+00E0 or U+0000 can never pass for a prefix.
#include <cstdint>

namespace sorvel {

struct KeyEvent {
  enum class Kind : std::uint8_t { Character, Enter, Backspace, Prefix, Resumed };

  static constexpr KeyEvent character(char16_t unit) { return {Kind::Character, unit}; }
  // A character outside the Basic Multilingual Plane typed as one key: both of its UTF-16 units.
  static constexpr KeyEvent surrogatePair(char16_t high, char16_t low) { return {Kind::Character, high, low}; }
  static constexpr KeyEvent enter() { return {Kind::Enter, 0}; }
  static constexpr KeyEvent backspace() { return {Kind::Backspace, 0}; }
  // A console-style prefix (0 or 224): whatever event follows it belongs to a non-character key.
  static constexpr KeyEvent prefix(char16_t code) { return {Kind::Prefix, code}; }
  // The process was stopped and has been continued while a line was typed: the terminal may show
  // anything by now, and whoever prompts should show the prompt again.
  static constexpr KeyEvent resumed() { return {Kind::Resumed, 0}; }

  bool operator==(const KeyEvent&) const = default;

  Kind kind;
  char16_t code;     // the (first) UTF-16 code unit of a character, the code of a prefix, else 0
  char16_t low = 0;  // the second unit of a character typed as a surrogate pair, else 0
};

class KeySource {
 public:
  virtual ~KeySource() = default;
  // Blocks until the next key. A source whose input has ended answers Enter from then on.
  virtual KeyEvent next() = 0;
};

}  // namespace sorvel
