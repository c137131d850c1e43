#pragma once
// Every line the front end and extraction print, each beside the exit code it ends the run with
// (ExitCode.h); the help text is in HelpText.cpp. The texts are the system's own and are kept
// exactly as they have always been printed, spellings included: "unnkown" and "authen" are spelt
// so, the blank before "!" in "archive format error !" and "can not be opened !" belongs to the
// text, and "Archive extracted successfully! " ends in a blank.
#include <string_view>

namespace sorvel::Message {

// Whole lines, and the exit code each goes with.
inline constexpr std::string_view InvalidArgumentCount = "Error: invalid argument count!";        // ArgumentCount
inline constexpr std::string_view FormatError = "Error: archive format error !";                  // FormatError
inline constexpr std::string_view UnknownVersion = "Error: unnkown archive version!";             // UnknownVersion
inline constexpr std::string_view UnsupportedAuth = "Error: unsupported authen type!";            // UnsupportedAuth
inline constexpr std::string_view IncorrectPassword = "Error: incorrect password!";               // IncorrectPassword
inline constexpr std::string_view CannotOpen = "Error: archive can not be opened !";              // CannotOpen
inline constexpr std::string_view ExtractedWithErrors = "Error: archive extracted with errors!";  // ExtractedWithErrors
inline constexpr std::string_view ExtractedSuccessfully = "Archive extracted successfully! ";     // Success

// Beginnings of lines, followed by a path or a reason.
inline constexpr std::string_view PathResolveFailed = "Error: Path resolve failed: ";               // PathResolve
inline constexpr std::string_view ArchiveNotExist = "Error: sorvel archive not exist: ";            // ArchiveMissing
inline constexpr std::string_view ArchiveNotAccessible = "Error: sorvel archive not accessible: ";  // ArchiveMissing
inline constexpr std::string_view InputPath = "Input  : ";
inline constexpr std::string_view OutputPath = "Output : ";
inline constexpr std::string_view PasswordPrompt = "Password: ";
// Followed by why (ICU not loaded); the extractor ends with IncorrectPassword, sorvel with 2.
inline constexpr std::string_view PasswordNotNormalised = "can not normalise the password: ";

// The sorvel tool's password sources: "<what><file or descriptor>: <reason>", or the whole text.
// sorvel and sorvel mount end with 2 after each.
inline constexpr std::string_view CannotReadPasswordFile = "can not read password file ";
inline constexpr std::string_view CannotReadPasswordDescriptor = "can not read password descriptor ";
inline constexpr std::string_view NoPasswordGiven = "no password given";
// A usage error (exit 1).
inline constexpr std::string_view PasswordSourcesExclude = "--password-file and --password-fd exclude each other";

// `sorvel mount`: "<what><mount point or option>[: <reason>]".
inline constexpr std::string_view CannotMountOn = "sorvel mount: can not mount on ";  // MountFailed
inline constexpr std::string_view NotAFolder = "not a folder";
inline constexpr std::string_view AlreadyAMountPoint = "already a mount point";
inline constexpr std::string_view UnknownMountOption = "unknown mount option: ";  // usage errors
inline constexpr std::string_view BadMountOptionValue = "bad value for mount option: ";
inline constexpr std::string_view CannotDetach = "sorvel mount: can not start the serving process: ";  // MountFailed

// Extraction's lines on one item, "<what><path>: <reason>"; the run then ends with
// ExtractedWithErrors.
inline constexpr std::string_view CannotExtract = "Error: can not extract: ";
inline constexpr std::string_view DamagedItem = "Error: damaged item: ";
inline constexpr std::string_view DamagedFolder = "Error: damaged folder: ";

// The reasons extraction gives (besides the system's error texts). Those after SameNameAs
// say why a damaged item's content ends early; they are kept with the item but not printed.
inline constexpr std::string_view UnsafeName = "unsafe name";
inline constexpr std::string_view FolderInTheWay = "a folder is in the way";
inline constexpr std::string_view SymbolicLinkInTheWay = "symbolic link in the way";  // where a folder must go
inline constexpr std::string_view ReparsePointInTheWay = "reparse point in the way";  // the same on Windows
inline constexpr std::string_view ContentUnreadable = "content cannot be read";
inline constexpr std::string_view SameNameAs = "same name as ";              // followed by the other item's path
inline constexpr std::string_view ExtractionStopped = "extraction stopped";  // after a writer's failure
inline constexpr std::string_view DirectoryDamaged = "its directory is damaged";
inline constexpr std::string_view BlockUnreadable = "a block could not be read";
inline constexpr std::string_view ChainTooShort = "its chain is shorter than its size";
inline constexpr std::string_view ArchiveCutOff = "the archive file is cut off";
inline constexpr std::string_view ChainRunsIntoAnother = "its chain runs into blocks of another item";
inline constexpr std::string_view ChainBroken = "its chain is broken";

// The sorvel tool's and the mount's own lines: a prefix, then the text and what it names.
inline constexpr std::string_view ToolPrefix = "sorvel: ";
inline constexpr std::string_view MountPrefix = "sorvel mount: ";
// The tool's own words for the extractor's whole-run lines, with the same exit codes.
inline constexpr std::string_view ToolFormatError = "archive format error";                   // FormatError
inline constexpr std::string_view ToolUnknownVersion = "unknown archive version";             // UnknownVersion
inline constexpr std::string_view ToolUnsupportedAuth = "unsupported authentication type";    // UnsupportedAuth
inline constexpr std::string_view ToolIncorrectPassword = "incorrect password";               // IncorrectPassword
inline constexpr std::string_view ToolCannotOpen = "archive can not be opened";               // CannotOpen
inline constexpr std::string_view ToolExtractedWithErrors = "archive extracted with errors";  // ExtractedWithErrors
inline constexpr std::string_view TryToolHelp = "Try 'sorvel --help' for more information.";
inline constexpr std::string_view CannotReadArchive = "can not read archive: ";
inline constexpr std::string_view NotARegularFile = "not a regular file";
inline constexpr std::string_view UnknownCommand = "unknown command: ";
inline constexpr std::string_view NoSuchItem = "no such item in archive: ";
inline constexpr std::string_view NotAFile = "not a file: ";
inline constexpr std::string_view CannotWrite = "can not write ";  // what, then ": " and why
inline constexpr std::string_view StandardOutput = "standard output";
inline constexpr std::string_view StandardInput = "standard input";
inline constexpr std::string_view WriteError = "write error: ";      // then why; WriteError
inline constexpr std::string_view CannotCreate = "can not create ";  // the output folder, ": " and why
// sorvel extract --keep: after a kept file's path in the -v list, and the closing count
// ("<n> files written, <k> existing files kept").
inline constexpr std::string_view KeptNote = " (kept)";
inline constexpr std::string_view FilesWritten = " files written, ";
inline constexpr std::string_view ExistingFilesKept = " existing files kept";
inline constexpr std::string_view NoTarToTerminal =
    "not writing a tar stream to a terminal; name a file with -o FILE, or '-'";
// After "sorvel: <output>: ": the export would write over the archive it reads.
inline constexpr std::string_view OutputIsTheArchive = "output is the archive itself; not written";
// Usage errors.
inline constexpr std::string_view HelpTakesOneCommand = "help takes one command";
inline constexpr std::string_view UnknownOptionFor = "unknown option for ";  // the command, ": ", the option
inline constexpr std::string_view UnknownOption = "unknown option: ";
inline constexpr std::string_view OptionNeedsAValue = "option needs a value: ";
inline constexpr std::string_view OptionNotTakenBy = "option not taken by ";  // the command, ": ", the option
inline constexpr std::string_view NotADescriptor = "not a file descriptor: ";
inline constexpr std::string_view BadDescriptor = "bad descriptor: ";
inline constexpr std::string_view BadCacheSize = "bad cache size: ";
inline constexpr std::string_view NoArchiveNamed = ": no archive named";  // after the command
inline constexpr std::string_view JsonAndJsonLines = "--json and --json-lines exclude each other";
inline constexpr std::string_view OverwriteAndKeep = "--overwrite and --keep exclude each other";
inline constexpr std::string_view CatArguments = "cat takes the archive and at least one path";
inline constexpr std::string_view ArchiveFromTerminal =
    "not reading an archive from a terminal; pipe it in, or name the archive file";
// Also when the password would be read from standard input last (exit 2).
inline constexpr std::string_view PasswordAndArchiveOnInput =
    "standard input holds the archive; give the password with --password-file, --password-fd, "
    "SORVEL_PASSWORD or at the terminal";
inline constexpr std::string_view MountArguments = "an archive and a mount point are needed";
// `sorvel mount` where the tool is built without it (Windows); ends with Usage.
inline constexpr std::string_view MountOnLinuxOnly = "mounting an archive as a file system is available on Linux only";
// A program started from Explorer, in a console window of its own, before that window closes.
inline constexpr std::string_view PressAKeyToClose = "Press any key to close this window.";

}  // namespace sorvel::Message
