#pragma once
// Where the sorvel tool and its mount take the archive's password from, in this order: a file named with
// --password-file or a descriptor named with --password-fd (its first line; one of the two), the
// SORVEL_PASSWORD environment variable, a masked prompt on the controlling terminal (/dev/tty),
// and last the first line of standard input. The result is in Normalization Form KC as UTF-8,
// as the extractor makes it.
#include <optional>
#include <string>

#include "base/Bytes.h"

namespace sorvel {

struct PasswordChoice {
  std::optional<std::string> file;
  std::optional<int> fd;
  bool standardInputTaken = false;  // it held the archive: never read for the password
};

// The password bytes (never empty), or nothing after `problem` says why: the file or descriptor
// cannot be read ("can not read password file FILE: reason"), the source gave no password (an
// empty line or no input at all: "no password given"), or it cannot be normalised. The
// environment variable is wiped and removed once read; the caller wipes the bytes once the keys
// are made.
std::optional<Bytes> obtainPassword(const PasswordChoice& choice, std::string& problem);

}  // namespace sorvel
