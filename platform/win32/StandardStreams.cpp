#include "platform/StandardStreams.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/win32/Win32Host.h"

namespace sorvel {
namespace {

bool isConsole(DWORD which) {
  DWORD mode = 0;
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void writeUnits(HANDLE console, std::string_view utf8) {
  const std::wstring units = win32::wide(utf8);
  std::size_t done = 0;
  while (done < units.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(units.size() - done, 8192));
    if (!WriteConsoleW(console, units.data() + done, chunk, &written, nullptr) || written == 0) return;
    done += written;
  }
}

// Blanks the console's line from the cursor to its end; the cursor stays.
void eraseLineEnd(HANDLE console) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(console, &info)) return;
  const SHORT width = info.dwSize.X;
  if (info.dwCursorPosition.X >= width) return;
  DWORD filled = 0;
  FillConsoleOutputCharacterW(console, L' ', static_cast<DWORD>(width - info.dwCursorPosition.X), info.dwCursorPosition,
                              &filled);
}

}  // namespace

// A console, not merely a character device: _isatty() is true for NUL too.
bool standardOutputIsTerminal() { return isConsole(STD_OUTPUT_HANDLE); }
bool standardErrorIsTerminal() { return isConsole(STD_ERROR_HANDLE); }

void makeStandardStreamsBinary() {
  std::fflush(stdout);
  std::fflush(stderr);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

void writeStatus(std::string_view text) {
  const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  if (!isConsole(STD_ERROR_HANDLE)) return;
  // As UTF-16, whatever the console's code page; the erase done here, as not every console acts
  // on escape sequences.
  for (std::size_t erase = text.find(kEraseLineEnd); erase != std::string_view::npos;
       erase = text.find(kEraseLineEnd)) {
    writeUnits(console, text.substr(0, erase));
    eraseLineEnd(console);
    text.remove_prefix(erase + kEraseLineEnd.size());
  }
  writeUnits(console, text);
}

}  // namespace sorvel
