#pragma once
// The sorvel tool's run: the command line, the archive's checks and password, then the command.
// Returns the process exit code.
#include <string>

namespace sorvel::tool {

// A problem, "sorvel: <text>" on standard error (made safe for a terminal), and a usage error,
// the same followed by where to find help.
void reportProblem(const std::string& text);
void reportUsageError(const std::string& text);

int runTool(int argc, char** argv);

}  // namespace sorvel::tool
