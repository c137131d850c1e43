#include "platform/StandardPasswordInput.h"

#include "platform/PipeKeySource.h"
#include "platform/win32/ConsoleKeySource.h"
#include "platform/win32/ConsoleStream.h"

namespace sorvel {

StandardPasswordInput::StandardPasswordInput() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE || !GetConsoleMode(input, &mode)) {
    keys_ = std::make_unique<PipeKeySource>(win32::fromHandle(input == nullptr ? INVALID_HANDLE_VALUE : input));
    return;
  }
  keys_ = std::make_unique<win32::ConsoleKeySource>(input);
  // The prompt and the stars on the console itself, wherever standard output goes.
  HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) return;
  auto stream = std::make_unique<win32::ConsoleStream>(console);
  terminalConsole_ = std::make_unique<Console>(*stream, *stream);
  terminal_ = std::move(stream);
}

}  // namespace sorvel
