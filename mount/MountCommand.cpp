#include "mount/MountCommand.h"

#include <fcntl.h>
#include <getopt.h>
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
#include "app/PasswordEntry.h"
#include "archive/Archive.h"
#include "archive/ArchiveHeader.h"
#include "crypto/CipherType.h"
#include "mount/MountFileSystem.h"
#include "mount/MountTree.h"
#include "platform/AbsolutePath.h"
#include "platform/PipeKeySource.h"
#include "platform/ProcessSafety.h"
#include "platform/ReadOnlyFile.h"
#include "platform/StandardPasswordInput.h"
#include "platform/SystemError.h"
#include "platform/Utf16.h"

namespace sorvel::mount {
namespace {

constexpr int kMountFailed = 2;
constexpr const char* kUsage =
    "usage: sorvel mount ARCHIVE MOUNTPOINT [-f] [-o allow_other] [--cache-size MiB] [--password-file FILE]\n";

struct Command {
  std::string archive;
  MountSettings settings;
  std::optional<std::string> passwordFile;
};

int usageError(const std::string& message) {
  std::cerr << "sorvel mount: " << message << "\n" << kUsage;
  return ExitCode::ArgumentCount;
}

// Nothing, after the message, when the command line is wrong.
std::optional<Command> parse(int argc, char** argv, int& code) {
  static const option kLong[] = {{"cache-size", required_argument, nullptr, 'c'},
                                 {"password-file", required_argument, nullptr, 'p'},
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
      case 'o':
        if (std::string_view(optarg) != "allow_other") return code = usageError("unknown mount option: " + std::string(optarg)), std::nullopt;
        command.settings.allowOther = true;
        break;
      case 'c': {
        std::size_t mebibytes = 0;
        const std::string_view text(optarg);
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mebibytes);
        if (error != std::errc() || end != text.data() + text.size() || mebibytes == 0 || mebibytes > (1u << 20)) {
          return code = usageError("bad cache size: " + std::string(text)), std::nullopt;
        }
        command.settings.cacheBytes = mebibytes << 20;
        break;
      }
      case 'p':
        command.passwordFile = optarg;
        break;
      case 'h':
        std::cout << kUsage;
        return code = ExitCode::Success, std::nullopt;
      default:
        return code = usageError("unknown option: " + std::string(argv[optind - 1])), std::nullopt;
    }
  }
  if (argc - optind != 2) return code = usageError("an archive and a mount point are needed"), std::nullopt;
  command.archive = argv[optind];
  command.settings.mountPoint = argv[optind + 1];
  return command;
}

// The first line of a file, as the extractor takes a password from a pipe.
std::optional<Bytes> passwordFromFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  PipeKeySource keys(fd);
  std::ostream discard(nullptr);
  Console silent(discard, discard);
  std::u16string typed = readPassword(keys, silent);
  ::close(fd);
  Bytes bytes = normalizePassword(typed);
  wipePassword(typed);
  return bytes;
}

// In this order: the password file, SORVEL_PASSWORD, the prompt.
std::optional<Bytes> obtainPassword(const Command& command) {
  if (command.passwordFile) return passwordFromFile(*command.passwordFile);
  std::u16string typed;
  if (const char* fromEnvironment = std::getenv("SORVEL_PASSWORD")) {
    typed = toUtf16(fromEnvironment);
  } else {
    StandardPasswordInput input;
    typed = readPassword(input.keys(), input.echo());
  }
  Bytes bytes = normalizePassword(typed);
  wipePassword(typed);
  return bytes;
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
    std::cerr << "Error: Path resolve failed: " << systemErrorText(error) << "\n";
    return ExitCode::PathResolve;
  }
  command->settings.mountPoint = *mountPoint;
  ReadOnlyFile file;
  if (!file.open(*archivePath)) {
    std::cerr << "Error: sorvel archive not exist: " << *archivePath << ": " << systemErrorText(errno) << "\n";
    return ExitCode::ArchiveMissing;
  }
  std::array<std::uint8_t, kArchiveHeaderSize> headerBytes{};
  file.readAt(0, headerBytes.data(), headerBytes.size());
  const ArchiveHeader header = ArchiveHeader::parse(headerBytes.data());
  if (!header.magicMatches()) {
    std::cerr << "Error: archive format error !\n";
    return ExitCode::FormatError;
  }
  if (!isKnownCipher(header.cipherType)) {
    std::cerr << "Error: unnkown archive version!\n";
    return ExitCode::UnknownVersion;
  }

  // Asked before the mount detaches, while the terminal is still ours.
  Bytes password;
  if (header.noPassword == 0) {
    std::optional<Bytes> obtained = obtainPassword(*command);
    if (!obtained) {
      std::cerr << "sorvel mount: can not read password file: " << *command->passwordFile << ": "
                << systemErrorText(errno) << "\n";
      return kMountFailed;
    }
    password = std::move(*obtained);
  }
  // The archive's own block cache holds only directories while the tree is built.
  Archive archive(256);
  archive.attach(std::move(file));
  const bool accepted = archive.checkPassword(password);
  secureWipe(password);
  if (!accepted) {
    std::cerr << "Error: incorrect password!\n";
    return ExitCode::IncorrectPassword;
  }
  if (!archive.open()) {
    std::cerr << "Error: archive can not be opened !\n";
    return ExitCode::CannotOpen;
  }
  MountFileSystem fileSystem(archive.container(), MountTree::build(archive), command->settings.cacheBytes);
  return fileSystem.run(command->settings) == 0 ? ExitCode::Success : kMountFailed;
}

}  // namespace sorvel::mount
