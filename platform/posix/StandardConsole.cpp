#include <iostream>

#include "platform/Console.h"

namespace sorvel {

Console& Console::standard() {
  // Narrow streams pass bytes through untouched, so UTF-8 text stays UTF-8 whatever the locale.
  static Console console(std::cout, std::cerr);
  return console;
}

}  // namespace sorvel
