#include "platform/Console.h"
#include "platform/win32/ConsoleStream.h"

namespace sorvel {

Console& Console::standard() {
  // UTF-8 for whatever else writes to the console or reads from it; our own text goes as UTF-16.
  static const bool codePages = SetConsoleOutputCP(CP_UTF8) != 0 && SetConsoleCP(CP_UTF8) != 0;
  (void)codePages;
  static win32::ConsoleStream out(GetStdHandle(STD_OUTPUT_HANDLE));
  static win32::ConsoleStream err(GetStdHandle(STD_ERROR_HANDLE));
  static Console console(out, err);
  return console;
}

}  // namespace sorvel
