#include <memory>

#include "app/FrontEnd.h"
#include "platform/Console.h"
#include "platform/StandardPasswordInput.h"

int main(int argc, char** argv) {
  auto password = std::make_unique<sorvel::StandardPasswordInput>();
  try {
    return sorvel::runFrontEnd(argc, argv, sorvel::Console::standard(), password->keys(), password->echo());
  } catch (...) {
    // Only exhausted memory gets here. Give the terminal its mode back before the process ends.
    password.reset();
    throw;
  }
}
