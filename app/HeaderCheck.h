#pragma once
// The checks a front end makes on the archive's header before it asks for a password.
#include <string_view>

#include "archive/ArchiveHeader.h"
#include "platform/Console.h"
#include "platform/ReadOnlyFile.h"

namespace sorvel {

// The first bytes of the file, zero where the file is shorter.
ArchiveHeader preReadHeader(const ReadOnlyFile& file);

// Whether the header lets the run go on to the password: code 0, or the exit code and the line
// that says why.
struct HeaderVerdict {
  int code = 0;
  std::string_view message;
};
HeaderVerdict judgeHeader(const ArchiveHeader& header);

// 0 when the header lets the run go on to the password, else the exit code after the message.
int judgeHeader(const ArchiveHeader& header, Console& console);

}  // namespace sorvel
