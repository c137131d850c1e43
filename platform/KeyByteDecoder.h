#pragma once
// Turns the bytes a user types (UTF-8 text with a few control bytes) into key events: CR and LF
// are Enter, BS (8) and DEL (127) are Backspace, everything else is text in UTF-16 code units:
// one event per unit, or, for keys typed at a terminal, one event per character.
#include <cstdint>
#include <deque>

#include "platform/KeySource.h"
#include "platform/Utf8Decoder.h"

namespace sorvel {

// Takes the first of `pending` (not empty) and wipes its place before it goes, so that the keys of
// a password leave nothing behind in the queue's freed memory.
KeyEvent takeFirst(std::deque<KeyEvent>& pending);

class KeyByteDecoder {
 public:
  // `wholeCharacters`: a character outside the Basic Multilingual Plane is one event holding both
  // of its units, else one event each.
  explicit KeyByteDecoder(bool wholeCharacters = false) : wholeCharacters_(wholeCharacters) {}
  ~KeyByteDecoder();  // wipes the units of the last character
  KeyByteDecoder(const KeyByteDecoder&) = delete;
  KeyByteDecoder& operator=(const KeyByteDecoder&) = delete;

  // Appends the events that `byte` completes.
  void feed(std::uint8_t byte, std::deque<KeyEvent>& out);
  // Closes an open UTF-8 sequence as U+FFFD; called before anything that is not text.
  void flush(std::deque<KeyEvent>& out);

 private:
  void appendUnits(std::deque<KeyEvent>& out);

  bool wholeCharacters_;
  Utf8Decoder utf8_;
  std::u16string units_;
};

}  // namespace sorvel
