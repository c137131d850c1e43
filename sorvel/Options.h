#pragma once
// The command line of the sorvel tool: a command, then its options and operands in any order.
#include <optional>
#include <string>
#include <vector>

namespace sorvel::tool {

enum class Command { List, Test, Extract, Cat, Export, Help, Version };

struct Options {
  Command command = Command::Help;
  std::string helpTopic;           // `help COMMAND`, or the command whose --help was asked for
  std::string archive;             // "-": standard input
  std::vector<std::string> paths;  // items named in the archive: paths or patterns
  std::vector<std::string> excludes;
  bool wildcardsMatchSlash = false;
  std::string outputFolder = ".";  // extract -C
  std::string outputFile;          // export -o; "-" standard output
  bool json = false;               // list: one JSON document
  bool jsonLines = false;          // list: a JSON object per item and line
  bool overwrite = false;
  bool keep = false;
  bool quiet = false;
  bool verbose = false;
  std::optional<std::string> passwordFile;
  std::optional<int> passwordFd;
};

// The options, or nothing after a message on standard error ("sorvel: ...").
std::optional<Options> parseOptions(int argc, char** argv);

}  // namespace sorvel::tool
