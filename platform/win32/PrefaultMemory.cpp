#include "platform/PrefaultMemory.h"

namespace sorvel {

// The first writes fault the pages in.
void prefaultForWriting(void*, std::size_t) {}

}  // namespace sorvel
