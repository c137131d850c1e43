#pragma once
// The process exit codes, one per outcome of a run. 4 and 5 are not used.

namespace sorvel::ExitCode {

inline constexpr int Success = 0;  // also: the help shown on request
inline constexpr int ArgumentCount = 1;
inline constexpr int PathResolve = 2;
inline constexpr int Usage = 1;           // sorvel and sorvel mount: the command line is wrong
inline constexpr int NotFound = 2;        // sorvel: an item, the password source or the output refused
inline constexpr int WriteError = 2;      // sorvel: standard output could not be written
inline constexpr int MountFailed = 2;     // sorvel mount: the mount point refused, or mounting failed
inline constexpr int ArchiveMissing = 3;  // also: the archive's status could not be learned
inline constexpr int FormatError = 6;
inline constexpr int UnknownVersion = 7;
inline constexpr int UnsupportedAuth = 8;
inline constexpr int IncorrectPassword = 9;
inline constexpr int CannotOpen = 10;
inline constexpr int ExtractedWithErrors = 11;

}  // namespace sorvel::ExitCode
