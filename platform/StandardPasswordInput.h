#pragma once
// Where the password comes from and where its prompt and echo go. With a terminal (a console)
// on standard input: the keys typed there, and the prompt on that terminal itself (/dev/tty,
// CONOUT$), so that it shows while standard output goes to a file and the stars never land in
// that file. Otherwise: the bytes that arrive on standard input, and the prompt on standard
// output.
#include <memory>

#include <ostream>

#include "platform/Console.h"
#include "platform/KeySource.h"

namespace sorvel {

class StandardPasswordInput {
 public:
  StandardPasswordInput();

  KeySource& keys() { return *keys_; }
  // The prompt's console; standard output when the terminal cannot be opened for writing.
  Console& echo() { return terminalConsole_ ? *terminalConsole_ : Console::standard(); }

 private:
  std::unique_ptr<KeySource> keys_;
  std::unique_ptr<std::ostream> terminal_;
  std::unique_ptr<Console> terminalConsole_;
};

}  // namespace sorvel
