// libFuzzer target: see parseDetailTableBytes in entries/FuzzEntries.h.
#include <cstdlib>

#include "entries/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!sorvel::fuzz::parseDetailTableBytes(data, size)) std::abort();
  return 0;
}
