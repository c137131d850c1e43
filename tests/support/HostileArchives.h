#pragma once
// Small archives whose chains claim far more than they store, shaped to make an extractor do
// unbounded work: one long chain past the end of the file, many files on one chain (stored or
// not), chains in descending block order, names no file system takes on a long chain, and
// detail tables that share one long tail. Each holds a chain table of `entries` entries
// (4 bytes each) and little else; the long chains run past the end of the file.
#include <cstdint>
#include <string>
#include <vector>

#include "support/ArchiveBuilder.h"

namespace sorvel::testing {

struct HostileShape {
  std::string name;
  ArchiveBuilder builder;
};

// `entries`: the chain table's length, so the longest chain claims about 16 KiB per entry.
std::vector<HostileShape> hostileShapes(std::uint32_t entries);

}  // namespace sorvel::testing
