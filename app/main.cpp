#include <memory>

#include "app/FrontEnd.h"
#include "platform/Console.h"
#include "platform/ProcessSafety.h"
#include "platform/StandardPasswordInput.h"

int main(int argc, char** argv) {
  // The process is about to hold a password and keys: they must never end up in a core file.
  sorvel::disableCoreDumps();
  auto password = std::make_unique<sorvel::StandardPasswordInput>();
  try {
    return sorvel::runFrontEnd(argc, argv, sorvel::Console::standard(), password->keys(), password->echo());
  } catch (...) {
    // Only exhausted memory gets here. Give the terminal its mode back before the process ends.
    password.reset();
    throw;
  }
}
