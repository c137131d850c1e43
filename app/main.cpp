#include <memory>

#include "app/FrontEnd.h"
#include "platform/Console.h"
#include "platform/ProcessSafety.h"
#include "platform/StandardKeySource.h"

int main(int argc, char** argv) {
  // The process is about to hold a password and keys: they must never end up in a core file.
  sorvel::disableCoreDumps();
  std::unique_ptr<sorvel::KeySource> keys = sorvel::makeStandardKeySource();
  try {
    return sorvel::runFrontEnd(argc, argv, sorvel::Console::standard(), *keys);
  } catch (...) {
    // Only exhausted memory gets here. Give the terminal its mode back before the process ends.
    keys.reset();
    throw;
  }
}
