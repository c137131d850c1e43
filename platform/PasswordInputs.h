#pragma once
// The places besides standard input (see StandardPasswordInput) that a password is read from:
// a file or a descriptor the user names, the environment, and the controlling terminal (on
// Windows, the process's console).
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/Console.h"
#include "platform/KeySource.h"
#include "platform/NativeHandle.h"

namespace sorvel {

// Opens `path` (UTF-8) for reading, whatever it names (a pipe or a device too); kNoHandle, with
// the errno value in `error`, when it cannot be opened.
NativeHandle openInput(const std::string& path, int& error);
void closeInput(NativeHandle input);
// The descriptor number `fd` (on Windows, the C runtime's) as a handle to read from (whether it
// can be read shows at the read).
NativeHandle inputDescriptor(int fd);
NativeHandle standardInput();

// The value of the environment variable `name`, which is then wiped where it lay and removed, so
// that neither this process's memory nor its children keep it; nothing when it is not set.
std::optional<std::string> takeEnvironmentVariable(const char* name);

// The process's controlling terminal, opened for a masked prompt while standard input may be
// something else: its keys, read with echo off (the terminal's mode comes back when it goes),
// and a console for the prompt and the stars. Not open when the process has no terminal.
class ControllingTerminal {
 public:
  ControllingTerminal();
  ~ControllingTerminal();
  ControllingTerminal(const ControllingTerminal&) = delete;
  ControllingTerminal& operator=(const ControllingTerminal&) = delete;

  bool isOpen() const { return keys_ != nullptr; }
  KeySource& keys() { return *keys_; }
  Console& console() { return *console_; }

 private:
  NativeHandle terminal_ = kNoHandle;
  [[maybe_unused]] NativeHandle output_ = kNoHandle;  // where the host keeps the terminal's output apart (Windows)
  std::unique_ptr<KeySource> keys_;
  std::unique_ptr<std::ostream> echo_;
  std::unique_ptr<Console> console_;
};

}  // namespace sorvel
