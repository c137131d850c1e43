#include "sorvel/Tool.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "app/ExitCode.h"
#include "app/Messages.h"
#include "app/PasswordSource.h"
#include "app/HeaderCheck.h"
#include "app/ItemSelection.h"
#include "archive/Archive.h"
#include "platform/ReadOnlyFile.h"
#include "platform/SystemError.h"
#include "platform/TerminalText.h"
#include "sorvel/Commands.h"
#include "sorvel/Help.h"
#include "sorvel/ItemWalk.h"
#include "sorvel/Options.h"
#include "sorvel/StandardOutput.h"

namespace sorvel::tool {
void reportProblem(const std::string& text) {
  std::fprintf(stderr, "%s%s\n", std::string(Message::ToolPrefix).c_str(), terminalSafe(text).c_str());
}

void reportUsageError(const std::string& text) {
  reportProblem(text);
  std::fprintf(stderr, "%s\n", std::string(Message::TryToolHelp).c_str());
}

namespace {

void problem(const std::string& text) { reportProblem(text); }

// What headerVerdict's exit code says of the archive.
std::string_view headerProblem(int code) {
  switch (code) {
    case ExitCode::UnknownVersion:
      return Message::ToolUnknownVersion;
    case ExitCode::UnsupportedAuth:
      return Message::ToolUnsupportedAuth;
    default:
      return Message::ToolFormatError;
  }
}

int runCommand(CommandContext& context) {
  switch (context.options.command) {
    case Command::List:
      return listItems(context);
    case Command::Test:
      return testItems(context);
    case Command::Extract:
      return extractItems(context);
    case Command::Cat:
      return catItems(context);
    case Command::Export:
      return exportTar(context);
    default:
      return ExitCode::Usage;
  }
}

// Opens the archive, checks its header, asks for the password, checks it and reads the tree.
// 0, or the exit code after the message.
int openArchive(const Options& options, Archive& archive) {
  ReadOnlyFile file;
  const bool fromInput = options.archive == "-";
  if (!(fromInput ? file.openCopyOfStandardInput() : file.open(options.archive))) {
    const int error = errno;
    if (fromInput && error == ENOTTY) {
      reportUsageError(std::string(Message::ArchiveFromTerminal));
      return ExitCode::Usage;
    }
    problem(std::string(Message::CannotReadArchive) +
            (fromInput ? std::string(Message::StandardInput) : options.archive) + ": " +
            (error == EINVAL ? std::string(Message::NotARegularFile) : systemErrorText(error)));
    return ExitCode::ArchiveMissing;
  }
  const ArchiveHeader header = preReadHeader(file);
  if (const int code = headerVerdict(header); code != 0) {
    problem(std::string(headerProblem(code)));
    return code;
  }

  Bytes password;
  if (header.noPassword == 0) {
    std::string why;
    std::optional<Bytes> given =
        obtainPassword(PasswordChoice{options.passwordFile, options.passwordFd, fromInput}, why);
    if (!given) {
      problem(why);
      return ExitCode::NotFound;
    }
    password = std::move(*given);
  }
  archive.attach(std::move(file));
  const bool accepted = archive.checkPassword(password);
  secureWipe(password);
  if (!accepted) {
    problem(std::string(Message::ToolIncorrectPassword));
    return ExitCode::IncorrectPassword;
  }
  if (!archive.open()) {
    problem(std::string(Message::ToolCannotOpen));
    return ExitCode::CannotOpen;
  }
  return 0;
}

}  // namespace

int runTool(int argc, char** argv) {
  const std::optional<Options> options = parseOptions(argc, argv);
  if (!options) return ExitCode::Usage;
  switch (options->command) {
    case Command::Help:
      if (printToolHelp(options->helpTopic)) return 0;
      problem(std::string(Message::UnknownCommand) + options->helpTopic);
      return ExitCode::Usage;
    case Command::Version:
      printToolVersion();
      return 0;
    default:
      break;
  }

  if (options->command == Command::Export) {
    if (const int code = checkExportOutput(*options); code != 0) return code;
  }
  Archive archive;
  if (const int code = openArchive(*options, archive); code != 0) return code;
  SelectionRequest request{options->paths, options->excludes,
                           options->wildcardsMatchSlash ? Separators::CrossedByWildcards : Separators::Kept};
  if (options->command == Command::Cat) request.order = SelectionRequest::Order::AsNamed;
  const ItemSelection selection(archive, request);
  for (const std::string& path : selection.unmatched()) problem(std::string(Message::NoSuchItem) + path);
  if (!selection.unmatched().empty()) return ExitCode::NotFound;
  CommandContext context{archive, *options, selection};

  const int code = runCommand(context);
  // Whatever the command printed must have reached its place: a full device or a closed pipe
  // is a failure of the run.
  if (const int error = finishStandardOutput(); error != 0) {
    problem(std::string(Message::WriteError) + systemErrorText(error));
    return ExitCode::WriteError;
  }
  return code;
}

}  // namespace sorvel::tool
