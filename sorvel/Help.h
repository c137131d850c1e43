#pragma once
// The tool's --help, help COMMAND and --version texts.
#include <string>

namespace sorvel::tool {

// The overview for an empty topic, a command's own help, or nothing for an unknown command.
bool printToolHelp(const std::string& topic);
void printToolVersion();

}  // namespace sorvel::tool
