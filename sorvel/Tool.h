#pragma once
// The sorvel tool's run: the command line, the archive's checks and password, then the command.
// Returns the process exit code.
namespace sorvel::tool {

// Exit codes of the tool's own; the archive's failures keep the extractor's codes (6 to 11).
inline constexpr int kUsageError = 1;
inline constexpr int kNotFound = 2;

int runTool(int argc, char** argv);

}  // namespace sorvel::tool
