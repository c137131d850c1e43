#include "platform/PasswordInputs.h"

#include <io.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/Bytes.h"
#include "platform/win32/ConsoleKeySource.h"
#include "platform/win32/ConsoleStream.h"
#include "platform/win32/Win32Host.h"

namespace sorvel {

NativeHandle openInput(const std::string& path, int& error) {
  // The name as UTF-16, so that any name the file system holds can be given.
  const HANDLE file = CreateFileW(win32::wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  error = file == INVALID_HANDLE_VALUE ? win32::errnoFromWin32(GetLastError()) : 0;
  return win32::fromHandle(file);
}

void closeInput(NativeHandle input) {
  if (input != kNoHandle) CloseHandle(win32::toHandle(input));
}

NativeHandle inputDescriptor(int fd) {
  // The C runtime's descriptor (0 is standard input); -1, or -2 for a stream without a handle,
  // when it is none, which the read then reports.
  const intptr_t handle = _get_osfhandle(fd);
  return handle == -2 ? kNoHandle : static_cast<NativeHandle>(handle);
}

NativeHandle standardInput() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  return input == nullptr ? kNoHandle : win32::fromHandle(input);
}

std::optional<std::string> takeEnvironmentVariable(const char* name) {
  const std::wstring wideName = win32::wide(name);
  const DWORD needed = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(), needed);
  value.resize(length < needed ? length : 0);
  std::string taken = win32::narrow(value);
  secureWipe(value.data(), value.size() * sizeof(wchar_t));
  // The C runtime keeps copies of its own, wide and narrow: wiped too, then every copy removed.
  if (wchar_t* copy = _wgetenv(wideName.c_str())) secureWipe(copy, std::wcslen(copy) * sizeof(wchar_t));
  if (char* copy = std::getenv(name)) secureWipe(copy, std::strlen(copy));
  _wputenv_s(wideName.c_str(), L"");
  SetEnvironmentVariableW(wideName.c_str(), nullptr);
  return taken;
}

ControllingTerminal::ControllingTerminal() {
  // The process's console, wherever standard input and output go. Reading key events shows
  // nothing, so the console's mode needs no change.
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  if (input == INVALID_HANDLE_VALUE) return;
  if (!GetConsoleMode(input, &mode)) {
    CloseHandle(input);
    return;
  }
  const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (output == INVALID_HANDLE_VALUE) {
    CloseHandle(input);
    return;
  }
  terminal_ = win32::fromHandle(input);
  output_ = win32::fromHandle(output);
  echo_ = std::make_unique<win32::ConsoleStream>(output);
  console_ = std::make_unique<Console>(*echo_, *echo_);
  keys_ = std::make_unique<win32::ConsoleKeySource>(input);
}

ControllingTerminal::~ControllingTerminal() {
  keys_.reset();
  console_.reset();
  echo_.reset();
  closeInput(terminal_);
  closeInput(output_);
}

}  // namespace sorvel
