#pragma once
// Sound archives of every cipher combination, and seeded random damage done to them: flipped
// bytes aimed at each part of the file, cuts, extensions, and values a reader must be ready for
// (block numbers that loop, end, free or leave the table; sizes far beyond anything stored).
// Used by the damage property test and the mount's damage walk.
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/Bytes.h"

namespace sorvel::testing {

struct Range {
  std::uint64_t begin;
  std::uint64_t end;  // exclusive
};

// The parts of an archive file that damage is aimed at.
enum Part { kHeader, kKeyBlock, kChainTable, kDirectories, kDetailFiles, kContent, kPartCount };

struct BaseArchive {
  std::string name;      // the cipher combination, "key block cipher/data cipher"
  std::string password;  // "pw", or empty for the combinations without one
  Bytes bytes;
  std::vector<Range> parts[kPartCount];
  std::set<std::string> itemPaths;  // relative output paths of everything the builder added
  std::uint32_t chainEntryCount = 0;
  std::vector<std::uint64_t> itemEntries;  // file offsets of the item entries, when stored plain
};

// One base archive per cipher combination, all the same tree.
inline constexpr std::size_t kDamageBaseCount = 9;
std::vector<BaseArchive> damageBases();

// One case: the damaged bytes and what was done.
struct DamagedArchive {
  Bytes bytes;
  std::string description;
};
DamagedArchive damage(std::mt19937_64& rng, const BaseArchive& base);

// A number below `below` (0 when it is 0).
std::uint64_t pick(std::mt19937_64& rng, std::uint64_t below);

// An in-archive path as a relative output path ("docs/a.txt").
std::string outputRelative(std::u16string_view pathInArchive);

}  // namespace sorvel::testing
