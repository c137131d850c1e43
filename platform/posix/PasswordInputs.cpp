#include "platform/PasswordInputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/Bytes.h"
#include "platform/posix/DescriptorStream.h"
#include "platform/posix/TerminalKeySource.h"

namespace sorvel {

NativeHandle openInput(const std::string& path, int& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  error = fd < 0 ? errno : 0;
  return fd < 0 ? kNoHandle : static_cast<NativeHandle>(fd);
}

void closeInput(NativeHandle input) {
  if (input != kNoHandle) ::close(static_cast<int>(input));
}

NativeHandle inputDescriptor(int fd) { return static_cast<NativeHandle>(fd); }

NativeHandle standardInput() { return static_cast<NativeHandle>(STDIN_FILENO); }

std::optional<std::string> takeEnvironmentVariable(const char* name) {
  char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  std::string taken(value);
  secureWipe(value, std::strlen(value));
  ::unsetenv(name);
  return taken;
}

ControllingTerminal::ControllingTerminal() {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  if (::isatty(fd) != 1) {
    ::close(fd);
    return;
  }
  terminal_ = static_cast<NativeHandle>(fd);
  echo_ = std::make_unique<DescriptorStream>(::dup(fd));
  console_ = std::make_unique<Console>(*echo_, *echo_);
  keys_ = std::make_unique<TerminalKeySource>(fd);  // gives the terminal its mode back when it goes
}

ControllingTerminal::~ControllingTerminal() {
  keys_.reset();  // the terminal's mode back first
  console_.reset();
  echo_.reset();
  closeInput(terminal_);
}

}  // namespace sorvel
