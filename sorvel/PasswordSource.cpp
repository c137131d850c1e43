#include "sorvel/PasswordSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ostream>

#include "app/PasswordEntry.h"
#include "platform/Console.h"
#include "platform/posix/DescriptorStream.h"
#include "platform/PipeKeySource.h"
#include "platform/SystemError.h"
#include "platform/posix/TerminalKeySource.h"
#include "platform/Utf16.h"

namespace sorvel::tool {
namespace {

// The first line of a descriptor that is not a terminal, nobody prompted.
Bytes firstLineOf(int fd) {
  std::ostream discard(nullptr);
  Console silent(discard, discard);
  PipeKeySource keys(fd);
  std::u16string typed = readPassword(keys, silent);
  Bytes bytes = normalizePassword(typed);
  wipePassword(typed);
  return bytes;
}

// The password typed at the controlling terminal, or nothing when the process has none.
std::optional<Bytes> typedAtTerminal() {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  if (::isatty(fd) != 1) {
    ::close(fd);
    return std::nullopt;
  }
  std::u16string typed;
  {
    DescriptorStream echo(::dup(fd));
    Console console(echo, echo);
    TerminalKeySource keys(fd);  // gives the terminal its mode back when it goes
    typed = readPassword(keys, console);
  }
  ::close(fd);
  Bytes bytes = normalizePassword(typed);
  wipePassword(typed);
  return bytes;
}

}  // namespace

std::optional<Bytes> obtainPassword(const PasswordChoice& choice, std::string& problem) {
  if (choice.file) {
    const int fd = ::open(choice.file->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      problem = "can not read password file: " + *choice.file + ": " + systemErrorText(errno);
      return std::nullopt;
    }
    Bytes bytes = firstLineOf(fd);
    ::close(fd);
    return bytes;
  }
  if (choice.fd) {
    if (::fcntl(*choice.fd, F_GETFL) < 0) {
      problem = "can not read password descriptor: " + std::to_string(*choice.fd) + ": " + systemErrorText(errno);
      return std::nullopt;
    }
    return firstLineOf(*choice.fd);
  }
  if (const char* fromEnvironment = std::getenv("SORVEL_PASSWORD")) {
    std::u16string text = toUtf16(fromEnvironment);
    Bytes bytes = normalizePassword(text);
    wipePassword(text);
    return bytes;
  }
  if (std::optional<Bytes> typed = typedAtTerminal()) return typed;
  return firstLineOf(STDIN_FILENO);
}

}  // namespace sorvel::tool
