#include "sorvel/PasswordSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>

#include "app/Messages.h"
#include "app/PasswordEntry.h"
#include "platform/Console.h"
#include "platform/posix/DescriptorStream.h"
#include "platform/PipeKeySource.h"
#include "platform/SystemError.h"
#include "platform/posix/TerminalKeySource.h"
#include "platform/Utf16.h"

namespace sorvel::tool {
namespace {

constexpr const char* kEnvironmentVariable = "SORVEL_PASSWORD";

// The first line of a descriptor that is not a terminal, nobody prompted, into `typed`; false
// when reading it fails (`source` names it in `problem`).
bool readFirstLine(int fd, const std::string& source, std::u16string& typed, std::string& problem) {
  std::ostream discard(nullptr);
  Console silent(discard, discard);
  PipeKeySource keys(fd);
  typed = readPassword(keys, silent);
  if (keys.readError() == 0) return true;
  wipePassword(typed);
  problem = source + ": " + systemErrorText(keys.readError());
  return false;
}

// The password typed at the controlling terminal into `typed`; false when the process has none.
bool typeAtTerminal(std::u16string& typed) {
  const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  if (::isatty(fd) != 1) {
    ::close(fd);
    return false;
  }
  {
    DescriptorStream echo(::dup(fd));
    Console console(echo, echo);
    TerminalKeySource keys(fd);  // gives the terminal its mode back when it goes
    typed = readPassword(keys, console);
  }
  ::close(fd);
  return true;
}

// The environment's password into `typed`; its value is wiped where it lies and the variable
// removed, so that neither this process's memory nor its children keep it. False when unset.
bool takeFromEnvironment(std::u16string& typed) {
  char* value = std::getenv(kEnvironmentVariable);
  if (value == nullptr) return false;
  std::u16string text = toUtf16(value);
  typed = text;
  wipePassword(text);
  secureWipe(value, std::strlen(value));
  ::unsetenv(kEnvironmentVariable);
  return true;
}

// The text of the first source chosen into `typed`; false after `problem` when it cannot be read.
bool readChosenSource(const PasswordChoice& choice, std::u16string& typed, std::string& problem) {
  if (choice.file) {
    const int fd = ::open(choice.file->c_str(), O_RDONLY | O_CLOEXEC);
    const int openError = errno;  // before any string is built
    const std::string source = std::string(Message::CannotReadPasswordFile) + *choice.file;
    if (fd < 0) {
      problem = source + ": " + systemErrorText(openError);
      return false;
    }
    const bool read = readFirstLine(fd, source, typed, problem);
    ::close(fd);
    return read;
  }
  if (choice.fd) {
    const std::string source = std::string(Message::CannotReadPasswordDescriptor) + std::to_string(*choice.fd);
    return readFirstLine(*choice.fd, source, typed, problem);
  }
  if (takeFromEnvironment(typed)) return true;
  if (typeAtTerminal(typed)) return true;
  return readFirstLine(STDIN_FILENO, std::string(Message::CannotReadPasswordDescriptor) + "0 (standard input)",
                       typed, problem);
}

}  // namespace

std::optional<Bytes> obtainPassword(const PasswordChoice& choice, std::string& problem) {
  std::u16string typed;
  if (!readChosenSource(choice, typed, problem)) return std::nullopt;
  if (typed.empty()) {
    problem = Message::NoPasswordGiven;
    return std::nullopt;
  }
  std::string normalisingProblem;
  Bytes bytes = normalizePassword(typed, normalisingProblem);
  wipePassword(typed);
  if (!normalisingProblem.empty()) {
    problem = std::string(Message::PasswordNotNormalised) + normalisingProblem;
    return std::nullopt;
  }
  return bytes;
}

}  // namespace sorvel::tool
