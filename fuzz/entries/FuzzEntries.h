#pragma once
// The entry points the fuzzers drive, as plain functions so that the regression test replays
// saved inputs through exactly the same code. Each accepts any bytes and must come back with a
// result: a crash, a sanitizer report, an endless loop or an unbounded allocation is a defect.
// The answer is false only when an invariant of the code under test was broken.
#include <cstddef>
#include <cstdint>

namespace sorvel::fuzz {

// The password of the encrypted seed archives.
inline constexpr char kFuzzPassword[] = "fuzz-pass";

// The input is an archive file: the password check with kFuzzPassword, else with the empty
// password (archives without one), open, the listing of the whole tree with detail records, and
// bounded reads of every file's content (extraction to disk is not run).
bool readArchive(const std::uint8_t* data, std::size_t size);

// The input is the content of one directory.
bool parseDirectoryBytes(const std::uint8_t* data, std::size_t size);

// The input is the content of one item detail file.
bool parseDetailTableBytes(const std::uint8_t* data, std::size_t size);

// The input is what arrives on standard input while passwords are typed: the first byte picks a
// pipe or a terminal key source, the rest are the keys. Every password read is normalised.
bool enterPasswords(const std::uint8_t* data, std::size_t size);

}  // namespace sorvel::fuzz
