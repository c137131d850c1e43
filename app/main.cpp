#include <memory>

#include "app/FrontEnd.h"
#include "app/Messages.h"
#include "platform/Console.h"
#include "platform/OwnConsole.h"
#include "platform/ProcessSafety.h"
#include "platform/StandardPasswordInput.h"
#ifdef _WIN32
#include "platform/Utf8Arguments.h"
#endif

namespace {

int run(int argc, char** argv) {
  // The process is about to hold a password and keys: they must never end up in a core file.
  sorvel::disableCoreDumps();
  auto password = std::make_unique<sorvel::StandardPasswordInput>();
  try {
    const int code = sorvel::runFrontEnd(argc, argv, sorvel::Console::standard(), password->keys(), password->echo());
    // Started from Explorer without an archive: the help stays on the screen until it is read.
    if (argc < 2 && sorvel::consoleMadeForThisProcess()) sorvel::waitForKey(sorvel::Message::PressAKeyToClose);
    return code;
  } catch (...) {
    // Only exhausted memory gets here. Give the terminal its mode back before the process ends.
    password.reset();
    throw;
  }
}

}  // namespace

#ifdef _WIN32
// Windows hands the arguments over as UTF-16; the program works in UTF-8.
int wmain(int argc, wchar_t** argv) { return sorvel::runWithUtf8Arguments(argc, argv, run); }
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
