#include "app/PasswordSource.h"

#include <cerrno>
#include <ostream>

#include "app/Messages.h"
#include "app/PasswordEntry.h"
#include "platform/Console.h"
#include "platform/PasswordInputs.h"
#include "platform/PipeKeySource.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace sorvel {
namespace {
constexpr const char* kEnvironmentVariable = "SORVEL_PASSWORD";

// The first line of `input`, which is not a terminal, nobody prompted, into `typed`; false when
// reading it fails (`source` names it in `problem`).
bool readFirstLine(NativeHandle input, const std::string& source, std::u16string& typed, std::string& problem) {
  std::ostream discard(nullptr);
  Console silent(discard, discard);
  PipeKeySource keys(input);
  typed = readPassword(keys, silent);
  if (keys.readError() == 0) return true;
  wipePassword(typed);
  problem = source + ": " + systemErrorText(keys.readError());
  return false;
}

// The password typed at the controlling terminal into `typed`; false when the process has none.
bool typeAtTerminal(std::u16string& typed) {
  ControllingTerminal terminal;
  if (!terminal.isOpen()) return false;
  typed = readPassword(terminal.keys(), terminal.console());
  return true;
}

// The environment's password into `typed`; false when it is not set.
bool takeFromEnvironment(std::u16string& typed) {
  std::optional<std::string> value = takeEnvironmentVariable(kEnvironmentVariable);
  if (!value) return false;
  typed = toUtf16(*value);
  secureWipe(value->data(), value->size());
  return true;
}

// The text of the first source chosen into `typed`; false after `problem` when it cannot be read.
bool readChosenSource(const PasswordChoice& choice, std::u16string& typed, std::string& problem) {
  if (choice.file) {
    int openError = 0;
    const NativeHandle input = openInput(*choice.file, openError);
    const std::string source = std::string(Message::CannotReadPasswordFile) + *choice.file;
    if (input == kNoHandle) {
      problem = source + ": " + systemErrorText(openError);
      return false;
    }
    const bool read = readFirstLine(input, source, typed, problem);
    closeInput(input);
    return read;
  }
  if (choice.fd) {
    const std::string source = std::string(Message::CannotReadPasswordDescriptor) + std::to_string(*choice.fd);
    return readFirstLine(inputDescriptor(*choice.fd), source, typed, problem);
  }
  if (takeFromEnvironment(typed)) return true;
  if (typeAtTerminal(typed)) return true;
  if (choice.standardInputTaken) {
    problem = Message::PasswordAndArchiveOnInput;
    return false;
  }
  return readFirstLine(standardInput(), std::string(Message::CannotReadPasswordDescriptor) + "0 (standard input)",
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

}  // namespace sorvel
