#include "mount/MountCommand.h"

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include "app/ExitCode.h"
#include "app/HeaderCheck.h"
#include "app/Messages.h"
#include "app/PasswordSource.h"
#include "archive/ArchiveHeader.h"
#include "lib/LibraryParts.h"
#include "mount/Detachment.h"
#include "mount/MountFileSystem.h"
#include "mount/MountOptions.h"
#include "mount/MountPoint.h"
#include "mount/MountTree.h"
#include "platform/AbsolutePath.h"
#include "platform/ProcessSafety.h"
#include "platform/ReadOnlyFile.h"
#include "platform/SystemError.h"
#include "platform/TerminalText.h"
#include "platform/Console.h"
#include "app/MountHelp.h"
#include "platform/Utf16.h"

namespace sorvel::mount {
namespace {

constexpr const char* kUsage =
    "usage: sorvel mount ARCHIVE MOUNTPOINT [-f] [-o OPTION[,OPTION...]] [--cache-size MiB]\n"
    "                    [--password-file FILE | --password-fd N]\n"
    "Try 'sorvel help mount' for more information.\n";

struct Command {
  std::string archive;
  MountSettings settings;
  PasswordChoice password;
};

int usageError(const std::string& message) {
  std::cerr << Message::MountPrefix << message << "\n" << kUsage;
  return ExitCode::Usage;
}

// Nothing, after the message, when the command line is wrong.
std::optional<Command> parse(int argc, char** argv, int& code) {
  static const option kLong[] = {{"cache-size", required_argument, nullptr, 'c'},
                                 {"password-file", required_argument, nullptr, 'p'},
                                 {"password-fd", required_argument, nullptr, 'd'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {nullptr, 0, nullptr, 0}};
  Command command;
  optind = 1;
  opterr = 0;
  // GNU getopt moves the operands behind the options: options may stand anywhere.
  for (int c; (c = ::getopt_long(argc, argv, "fo:h", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'f':
        command.settings.foreground = true;
        break;
      case 'o': {
        std::string bad;
        const OptionVerdict verdict = addMountOptions(optarg, command.settings.options, bad);
        if (verdict != OptionVerdict::Taken) {
          const std::string_view what =
              verdict == OptionVerdict::Unknown ? Message::UnknownMountOption : Message::BadMountOptionValue;
          return code = usageError(std::string(what) + bad), std::nullopt;
        }
        break;
      }
      case 'c': {
        std::size_t mebibytes = 0;
        const std::string_view text(optarg);
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mebibytes);
        if (error != std::errc() || end != text.data() + text.size() || mebibytes == 0 || mebibytes > (1u << 20)) {
          return code = usageError(std::string(Message::BadCacheSize) + std::string(text)), std::nullopt;
        }
        command.settings.cacheBytes = mebibytes << 20;
        break;
      }
      case 'p':
        command.password.file = optarg;
        break;
      case 'd': {
        int fd = -1;
        const std::string_view text(optarg);
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), fd);
        if (error != std::errc() || end != text.data() + text.size() || fd < 0) {
          return code = usageError(std::string(Message::BadDescriptor) + std::string(text)), std::nullopt;
        }
        command.password.fd = fd;
        break;
      }
      case 'h':
        std::cout << kMountHelp;
        return code = ExitCode::Success, std::nullopt;
      default:
        return code = usageError(std::string(Message::UnknownOption) + std::string(argv[optind - 1])), std::nullopt;
    }
  }
  if (command.password.file && command.password.fd) {
    return code = usageError(std::string(Message::PasswordSourcesExclude)), std::nullopt;
  }
  if (argc - optind != 2) return code = usageError(std::string(Message::MountArguments)), std::nullopt;
  command.archive = argv[optind];
  command.settings.mountPoint = argv[optind + 1];
  return command;
}

// The archive file's own times, which the mount's root shows.
MountTree::RootTimes archiveFileTimes(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return {};
  return {.created = status.st_ctim.tv_sec, .modified = status.st_mtim.tv_sec, .accessed = status.st_atim.tv_sec};
}

// Opens the archive (wiping `password`), builds the tree and serves it until unmounted; the exit
// code. `detachment` is told once the mount is in place (none in the foreground).
int mountArchive(ReadOnlyFile file, Bytes& password, const MountSettings& settings, Detachment* detachment) {
  // The library opens it (password, tables) and lists its items, from which the tree is made.
  api::Result<std::shared_ptr<api::Archive::Impl>> opened =
      lib::openArchive(std::move(file), api::Password::bytes(password.data(), password.size()));
  secureWipe(password);
  if (!opened) {
    Console::standard().line(opened.status().message);
    return static_cast<int>(opened.status().code);
  }
  MountTree tree = MountTree::build(std::move(opened.value()), archiveFileTimes(settings.archivePath));
  // Told as extraction tells them, before the file system starts; the mount goes on without them.
  for (const std::string& line : tree.leftOut()) Console::standard().line(line);
  const ContainerFile& container = tree.container();
  MountFileSystem fileSystem(container, std::move(tree), settings.cacheBytes);
  return fileSystem.run(settings, detachment) == 0 ? ExitCode::Success : ExitCode::MountFailed;
}

}  // namespace

int runMountCommand(int argc, char** argv) {
  int code = 0;
  std::optional<Command> command = parse(argc, argv, code);
  if (!command) return code;
  disableCoreDumps();

  int error = 0;
  const std::optional<std::string> archivePath = makeAbsolute(command->archive.c_str(), error);
  const std::optional<std::string> mountPoint = makeAbsolute(command->settings.mountPoint.c_str(), error);
  if (!archivePath || !mountPoint) {
    Console::standard().line(std::string(Message::PathResolveFailed) + systemErrorText(error));
    return ExitCode::PathResolve;
  }
  command->settings.mountPoint = *mountPoint;
  command->settings.archivePath = *archivePath;
  if (const std::optional<std::string> problem = mountPointProblem(*mountPoint)) {
    std::cerr << Message::CannotMountOn << terminalSafe(*mountPoint) << ": " << *problem << "\n";
    return ExitCode::MountFailed;
  }
  ReadOnlyFile file;
  if (!file.open(*archivePath)) {
    error = errno;
    Console::standard().line(std::string(Message::ArchiveNotExist) + *archivePath + ": " + systemErrorText(error));
    return ExitCode::ArchiveMissing;
  }
  const ArchiveHeader header = preReadHeader(file);
  if (const int judged = judgeHeader(header, Console::standard()); judged != 0) return judged;

  // Asked before the mount detaches, while the terminal is still ours.
  Bytes password;
  if (header.noPassword == 0) {
    std::string why;
    std::optional<Bytes> obtained = obtainPassword(command->password, why);
    if (!obtained) {
      std::cerr << Message::MountPrefix << terminalSafe(why) << "\n";
      return ExitCode::MountFailed;
    }
    password = std::move(*obtained);
  }
  // Without -f the process that serves is made now, before the archive is read: the command's
  // process waits for its word.
  Detachment detachment;
  if (!command->settings.foreground) {
    if (const std::optional<int> commandCode = detachment.fork()) {
      secureWipe(password);
      return *commandCode;
    }
  }
  const int served =
      mountArchive(std::move(file), password, command->settings, command->settings.foreground ? nullptr : &detachment);
  detachment.finish(served);
  return served;
}

}  // namespace sorvel::mount
