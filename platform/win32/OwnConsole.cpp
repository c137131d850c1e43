#include "platform/OwnConsole.h"

#include "platform/Console.h"
#include "platform/win32/Win32Host.h"

namespace sorvel {

bool consoleMadeForThisProcess() {
  // A shell, a script's interpreter or a parent that shares its console is a second process.
  DWORD processes[2] = {};
  if (GetConsoleProcessList(processes, 2) != 1) return false;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  return input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode) != 0;
}

void waitForKey(std::string_view prompt) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  Console::standard().write(prompt);
  FlushConsoleInputBuffer(input);
  INPUT_RECORD record{};
  DWORD read = 0;
  while (ReadConsoleInputW(input, &record, 1, &read) && read == 1) {
    if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) break;
  }
  Console::standard().line("");
}

}  // namespace sorvel
