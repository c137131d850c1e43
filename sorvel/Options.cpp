#include "sorvel/Options.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/Messages.h"
#include "sorvel/Tool.h"

namespace sorvel::tool {
namespace {

enum LongOnly : int { kJson = 256, kOverwrite, kPasswordFile, kPasswordFd, kJsonLines, kExclude, kWildcardsMatchSlash };

const option kLongOptions[] = {
    {"json", no_argument, nullptr, kJson},
    {"json-lines", no_argument, nullptr, kJsonLines},
    {"overwrite", no_argument, nullptr, kOverwrite},
    {"keep", no_argument, nullptr, 'k'},
    {"password-file", required_argument, nullptr, kPasswordFile},
    {"password-fd", required_argument, nullptr, kPasswordFd},
    {"exclude", required_argument, nullptr, kExclude},
    {"wildcards-match-slash", no_argument, nullptr, kWildcardsMatchSlash},
    {"directory", required_argument, nullptr, 'C'},
    {"output", required_argument, nullptr, 'o'},
    {"quiet", no_argument, nullptr, 'q'},
    {"verbose", no_argument, nullptr, 'v'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

struct CommandName {
  std::string_view name;
  Command command;
  // The options the command takes besides the password ones, the choice of items (--exclude,
  // --wildcards-match-slash), --quiet and --help.
  std::string_view options;
};

constexpr CommandName kCommands[] = {
    {"list", Command::List, "jJ"}, {"test", Command::Test, ""},      {"extract", Command::Extract, "COkv"},
    {"cat", Command::Cat, ""},     {"export", Command::Export, "o"},
};

// The letter by which the command table names an option.
char optionLetter(int code) {
  switch (code) {
    case kJson:
      return 'j';
    case kJsonLines:
      return 'J';
    case kOverwrite:
      return 'O';
    default:
      return static_cast<char>(code);
  }
}

// The option as its short form, or the long one for an option that has none.
std::string optionName(int code) {
  if (code < kJson) return std::string("-") + static_cast<char>(code);
  for (const option& candidate : kLongOptions) {
    if (candidate.val == code) return std::string("--") + candidate.name;
  }
  return {};
}

bool usage(const std::string& message) {
  reportUsageError(message);
  return false;
}

std::optional<int> parseDescriptor(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0 || value > INT_MAX) return std::nullopt;
  return static_cast<int>(value);
}

// The options after the command, each checked against what the command takes; the operands
// are moved behind them (from `operandsFrom` on). False after the usage error.
bool readCommandOptions(int argc, char** args, const CommandName& command, Options& options, int& operandsFrom) {
  const std::string_view name = command.name;
  // getopt_long sees the command as the program name.
  optind = 1;
  opterr = 0;
  int code;
  bool help = false;
  while ((code = getopt_long(argc, args, ":C:o:kqvh", kLongOptions, nullptr)) != -1) {
    if (code == '?') {
      return usage(std::string(Message::UnknownOptionFor) + std::string(name) + ": " +
                   (optopt != 0 ? "-" + std::string(1, static_cast<char>(optopt)) : std::string(args[optind - 1])));
    }
    if (code == ':') return usage(std::string(Message::OptionNeedsAValue) + std::string(args[optind - 1]));
    const bool general = code == 'q' || code == 'h' || code == kPasswordFile || code == kPasswordFd ||
                         code == kExclude || code == kWildcardsMatchSlash;
    const bool allowed = general || command.options.find(optionLetter(code)) != std::string_view::npos;
    if (!allowed) return usage(std::string(Message::OptionNotTakenBy) + std::string(name) + ": " + optionName(code));
    switch (code) {
      case kJson:
        options.json = true;
        break;
      case kJsonLines:
        options.jsonLines = true;
        break;
      case kOverwrite:
        options.overwrite = true;
        break;
      case 'k':
        options.keep = true;
        break;
      case kPasswordFile:
        options.passwordFile = optarg;
        break;
      case kExclude:
        options.excludes.emplace_back(optarg);
        break;
      case kWildcardsMatchSlash:
        options.wildcardsMatchSlash = true;
        break;
      case kPasswordFd: {
        options.passwordFd = parseDescriptor(optarg);
        if (!options.passwordFd) return usage(std::string(Message::NotADescriptor) + std::string(optarg));
        break;
      }
      case 'C':
        options.outputFolder = optarg;
        break;
      case 'o':
        options.outputFile = optarg;
        break;
      case 'q':
        options.quiet = true;
        break;
      case 'v':
        options.verbose = true;
        break;
      case 'h':
        help = true;
        break;
      default:
        break;
    }
  }
  if (help) {
    options.helpTopic = std::string(name);
    options.command = Command::Help;
  }
  operandsFrom = optind;
  return true;
}

// The archive and the paths after it, and the options that exclude each other or depend on the
// operands. False after the usage error.
bool takeOperands(std::string_view name, std::vector<std::string> operands, Options& options) {
  if (operands.empty()) return usage(std::string(name) + std::string(Message::NoArchiveNamed));
  options.archive = operands.front();
  operands.erase(operands.begin());
  if (options.overwrite && options.keep) return usage(std::string(Message::OverwriteAndKeep));
  if (options.json && options.jsonLines) return usage(std::string(Message::JsonAndJsonLines));
  if (options.passwordFile && options.passwordFd) return usage(std::string(Message::PasswordSourcesExclude));
  if (options.command == Command::Cat && operands.empty()) return usage(std::string(Message::CatArguments));
  // Standard input holds the archive: it cannot give the password as well.
  if (options.archive == "-" && options.passwordFd == 0) return usage(std::string(Message::PasswordAndArchiveOnInput));
  options.paths = std::move(operands);
  return true;
}

}  // namespace

std::optional<Options> parseOptions(int argc, char** argv) {
  Options options;
  if (argc < 2) return options;  // help
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h") return options;
  if (first == "--version") {
    options.command = Command::Version;
    return options;
  }
  if (first == "help") {
    if (argc > 3) {
      usage(std::string(Message::HelpTakesOneCommand));
      return std::nullopt;
    }
    if (argc == 3) options.helpTopic = argv[2];
    return options;
  }
  const CommandName* command = nullptr;
  for (const CommandName& candidate : kCommands) {
    if (candidate.name == first) command = &candidate;
  }
  if (command == nullptr) {
    usage(std::string(Message::UnknownCommand) + std::string(first));
    return std::nullopt;
  }
  options.command = command->command;
  char** const args = argv + 1;
  int operandsFrom = 0;
  if (!readCommandOptions(argc - 1, args, *command, options, operandsFrom)) return std::nullopt;
  if (options.command == Command::Help) return options;
  if (!takeOperands(first, std::vector<std::string>(args + operandsFrom, argv + argc), options)) return std::nullopt;
  return options;
}

}  // namespace sorvel::tool
