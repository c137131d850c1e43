#include "app/FrontEnd.h"

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "app/ArchiveSteps.h"
#include "app/ExitCode.h"
#include "app/HeaderCheck.h"
#include "app/HelpText.h"
#include "app/Messages.h"
#include "app/PasswordEntry.h"
#include "platform/AbsolutePath.h"
#include "platform/FileStatus.h"
#include "platform/ReadOnlyFile.h"
#include "platform/SystemError.h"

namespace sorvel {

namespace {

// Both paths made absolute, the archive's first.
struct ResolvedPaths {
  std::string archive;
  std::string output;
};

// Nothing, after the message, when either cannot be made absolute.
std::optional<ResolvedPaths> resolvePaths(const char* archiveArgument, const char* outputArgument, Console& console) {
  ResolvedPaths paths;
  int error = 0;
  for (auto [argument, target] :
       {std::pair{archiveArgument, &paths.archive}, std::pair{outputArgument, &paths.output}}) {
    std::optional<std::string> absolute = makeAbsolute(argument, error);
    if (!absolute) {
      console.line(std::string(Message::PathResolveFailed) + systemErrorText(error));
      return std::nullopt;
    }
    *target = std::move(*absolute);
  }
  return paths;
}

// 0 when the archive is a regular file, else the exit code after the message.
int checkArchiveExists(const std::string& archivePath, Console& console) {
  const FileStatus status = queryFileStatus(archivePath);
  switch (status.kind) {
    case FileKind::Regular:
      return 0;
    case FileKind::Absent:
    case FileKind::Other:
      console.line(std::string(Message::ArchiveNotExist) + archivePath);
      return ExitCode::ArchiveMissing;
    case FileKind::Error:
      break;
  }
  console.line(std::string(Message::ArchiveNotAccessible) + archivePath + ": " + systemErrorText(status.error));
  return ExitCode::ArchiveMissing;
}

}  // namespace

int runFrontEnd(int argc, const char* const* argv, Console& console, KeySource& keys, Console& promptConsole) {
  // A single argument is an option; only these three are known.
  const std::string_view option = argc == 2 ? argv[1] : "";
  if (argc == 1 || option == "--help" || option == "-h") {
    printHelp(console);
    return ExitCode::Success;
  }
  if (option == "--version") {
    printVersion(console);
    return ExitCode::Success;
  }
  if (argc != 3) {
    console.line(Message::InvalidArgumentCount);
    printHelp(console);
    return ExitCode::ArgumentCount;
  }

  const std::optional<ResolvedPaths> paths = resolvePaths(argv[1], argv[2], console);
  if (!paths) return ExitCode::PathResolve;
  if (const int code = checkArchiveExists(paths->archive, console); code != 0) return code;
  console.line(std::string(Message::InputPath) + paths->archive);
  console.line(std::string(Message::OutputPath) + paths->output);

  // Opened once: the header, the password check and the extraction all read this one file,
  // whatever the name comes to stand for meanwhile.
  ReadOnlyFile archive;
  if (!archive.open(paths->archive)) {
    if (errno == EINVAL) {  // no longer a regular file
      console.line(std::string(Message::ArchiveNotExist) + paths->archive);
      return ExitCode::ArchiveMissing;
    }
    console.line(Message::CannotOpen);
    return ExitCode::CannotOpen;
  }
  const ArchiveHeader header = preReadHeader(archive);
  if (const int code = judgeHeader(header, console); code != 0) return code;

  std::u16string typedPassword;
  if (header.noPassword == 0) typedPassword = readPassword(keys, promptConsole);
  std::string normalisingProblem;
  Bytes passwordBytes = normalizePassword(typedPassword, normalisingProblem);
  wipePassword(typedPassword);
  if (!normalisingProblem.empty()) {
    console.line("Error: " + std::string(Message::PasswordNotNormalised) + normalisingProblem);
    return ExitCode::IncorrectPassword;
  }

  const int code = runArchiveSteps(console, std::move(archive), paths->output, passwordBytes);
  secureWipe(passwordBytes);
  return code;
}

}  // namespace sorvel
