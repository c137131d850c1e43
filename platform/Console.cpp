#include "platform/Console.h"

#include <iostream>

#include "platform/TerminalText.h"

namespace sorvel {

namespace {
constexpr std::string_view kErrorPrefix = "Error:";
}

Console& Console::standard() {
  // Narrow streams pass bytes through untouched, so UTF-8 text stays UTF-8 whatever the locale.
  static Console console(std::cout, std::cerr);
  return console;
}

void Console::line(std::string_view text) {
  std::ostream& stream = text.starts_with(kErrorPrefix) ? err_ : out_;
  stream << terminalSafe(text) << '\n';
  stream.flush();
}

void Console::write(std::string_view text) {
  out_ << text;
  out_.flush();
}

}  // namespace sorvel
