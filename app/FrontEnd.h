#pragma once
// The whole run of the program: arguments, the archive's header checks, the password, then the
// archive steps. Prints at most one message per failure and returns the process exit code. The
// password prompt and its echo go to `promptConsole`, everything else to `console`.
#include "platform/Console.h"
#include "platform/KeySource.h"

namespace sorvel {

int runFrontEnd(int argc, const char* const* argv, Console& console, KeySource& keys, Console& promptConsole);

}  // namespace sorvel
