#pragma once
// The process's standard output and standard error as the sorvel tool uses them besides its
// console lines: whether each is an interactive terminal (on Windows, a console), standard output
// made to pass bytes through unchanged, and a status line drawn straight onto standard error.
#include <string_view>

namespace sorvel {

bool standardOutputIsTerminal();
bool standardErrorIsTerminal();

// Standard output and standard error pass every byte as written: on Windows no "\n" becomes
// "\r\n", so file content and tar streams arrive whole and lines end as on every other host;
// nothing to do on POSIX hosts.
void makeStandardStreamsBinary();

// Writes `text` (UTF-8; "\r" returns to the line's start and kEraseLineEnd erases from the cursor
// to the end of the line) to standard error at once, unbuffered; for a terminal only.
inline constexpr std::string_view kEraseLineEnd = "\x1b[K";
void writeStatus(std::string_view text);

}  // namespace sorvel
