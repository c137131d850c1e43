#pragma once
// The checks a front end makes on the archive's header before it asks for a password.
#include <string_view>

#include "archive/ArchiveHeader.h"
#include "platform/Console.h"
#include "platform/ReadOnlyFile.h"

namespace sorvel {

// The first bytes of the file, zero where the file is shorter.
ArchiveHeader preReadHeader(const ReadOnlyFile& file);

// 0 when the header lets the run go on to the password, else the exit code of what is wrong
// with it: ExitCode::FormatError, UnknownVersion or UnsupportedAuth.
int headerVerdict(const ArchiveHeader& header);
// The extractor's line for a verdict (Messages.h); empty for 0.
std::string_view headerVerdictLine(int verdict);

// headerVerdict, with the extractor's line for it (Messages.h) written to `console`.
int judgeHeader(const ArchiveHeader& header, Console& console);

}  // namespace sorvel
