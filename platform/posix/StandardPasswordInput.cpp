#include "platform/StandardPasswordInput.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/PipeKeySource.h"
#include "platform/posix/DescriptorStream.h"
#include "platform/posix/TerminalKeySource.h"

namespace sorvel {

StandardPasswordInput::StandardPasswordInput() {
  termios mode{};
  if (::isatty(STDIN_FILENO) != 1 || ::tcgetattr(STDIN_FILENO, &mode) != 0) {
    keys_ = std::make_unique<PipeKeySource>(STDIN_FILENO);
    return;
  }
  keys_ = std::make_unique<TerminalKeySource>(STDIN_FILENO);
  const int terminal = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) return;
  terminal_ = std::make_unique<DescriptorStream>(terminal);
  terminalConsole_ = std::make_unique<Console>(*terminal_, *terminal_);
}

}  // namespace sorvel
