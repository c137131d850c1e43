#pragma once
#include "platform/Console.h"

namespace sorvel {

inline constexpr char kProgramVersion[] = "1.0.0";

// The usage text, on the standard output.
void printHelp(Console& console);
// The program's name and version as one line, the help's second.
void printVersion(Console& console);

}  // namespace sorvel
