#include <memory>
#include <string>
#include <vector>

#include "app/FrontEnd.h"
#include "platform/Console.h"
#include "platform/ProcessSafety.h"
#include "platform/StandardPasswordInput.h"
#include "platform/Utf16.h"

namespace {

int run(int argc, const char* const* argv) {
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

}  // namespace

#ifdef _WIN32
// Windows hands the arguments over as UTF-16; the program works in UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::wstring_view argument(argv[i]);
    arguments.push_back(sorvel::toUtf8Lossy(std::u16string(argument.begin(), argument.end())));
  }
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
  pointers.push_back(nullptr);
  return run(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
