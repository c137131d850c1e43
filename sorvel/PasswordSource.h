#pragma once
// Where the tool takes the archive's password from, in this order: a file named with
// --password-file (its first line), a descriptor named with --password-fd (its first line), the
// SORVEL_PASSWORD environment variable, a masked prompt on the controlling terminal (/dev/tty),
// and last the first line of standard input. The result is in Normalization Form KC as UTF-8,
// as the extractor makes it.
#include <optional>
#include <string>

#include "base/Bytes.h"

namespace sorvel::tool {

struct PasswordChoice {
  std::optional<std::string> file;
  std::optional<int> fd;
};

// The password bytes, or nothing when the file or descriptor named cannot be read; then
// `problem` says why ("FILE: reason").
std::optional<Bytes> obtainPassword(const PasswordChoice& choice, std::string& problem);

}  // namespace sorvel::tool
