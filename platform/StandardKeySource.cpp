#include "platform/StandardKeySource.h"

#include <termios.h>
#include <unistd.h>

#include "platform/PipeKeySource.h"
#include "platform/TerminalKeySource.h"

namespace sorvel {

std::unique_ptr<KeySource> makeStandardKeySource() {
  termios mode{};
  if (::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &mode) == 0) {
    return std::make_unique<TerminalKeySource>(STDIN_FILENO);
  }
  return std::make_unique<PipeKeySource>(STDIN_FILENO);
}

}  // namespace sorvel
