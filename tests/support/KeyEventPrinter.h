#pragma once
// Readable key events in test failure messages.
#include <ostream>

#include "platform/KeySource.h"

namespace sorvel {

inline void PrintTo(const KeyEvent& event, std::ostream* os) {
  switch (event.kind) {
    case KeyEvent::Kind::Character:
      *os << "Character(U+" << std::hex << static_cast<unsigned>(event.code);
      if (event.low != 0) *os << " U+" << static_cast<unsigned>(event.low);
      *os << std::dec << ")";
      return;
    case KeyEvent::Kind::Enter:
      *os << "Enter";
      return;
    case KeyEvent::Kind::Backspace:
      *os << "Backspace";
      return;
    case KeyEvent::Kind::Prefix:
      *os << "Prefix(" << static_cast<unsigned>(event.code) << ")";
      return;
    case KeyEvent::Kind::Resumed:
      *os << "Resumed";
      return;
  }
}

}  // namespace sorvel
