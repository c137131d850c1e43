#include "platform/StandardStreams.h"

#include <unistd.h>

namespace sorvel {

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }
bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void makeStandardStreamsBinary() {}

void writeStatus(std::string_view text) {
  // The terminal acts on the erase sequence itself.
  while (!text.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
    if (n <= 0) return;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace sorvel
