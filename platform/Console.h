#pragma once
// Console output as UTF-8 text. Lines that begin with "Error:" belong on the error stream,
// everything else on the standard output; each line is flushed at once so the two streams
// stay in order when both go to one terminal. A line is always one line of plain text: whatever
// it holds that a terminal would act on (a line end, an escape sequence) is shown escaped.
#include <ostream>
#include <string_view>

namespace sorvel {

class Console {
 public:
  Console(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // The process's own standard output and standard error.
  static Console& standard();

  // Writes `text`, made safe for a terminal (terminalSafe), and a newline, then flushes;
  // "Error:" lines go to the error stream.
  void line(std::string_view text);
  // Writes `text` to the standard output without a newline and flushes (prompt and echo).
  void write(std::string_view text);

 private:
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace sorvel
