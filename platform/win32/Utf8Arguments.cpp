#include "platform/Utf8Arguments.h"

#include "platform/win32/Win32Host.h"

namespace sorvel {

Utf8Arguments::Utf8Arguments(int argc, const wchar_t* const* argv) {
  for (int i = 0; i < argc; ++i) arguments_.push_back(win32::narrow(argv[i]));
  for (std::string& argument : arguments_) pointers_.push_back(argument.data());
  pointers_.push_back(nullptr);
}

int runWithUtf8Arguments(int argc, const wchar_t* const* argv, int (*run)(int argc, char** argv)) {
  Utf8Arguments arguments(argc, argv);
  return run(arguments.count(), arguments.values());
}

}  // namespace sorvel
