#include "platform/Console.h"

#include "platform/TerminalText.h"

namespace sorvel {

namespace {
constexpr std::string_view kErrorPrefix = "Error:";
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
