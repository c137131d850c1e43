#include "platform/FreedMemory.h"

namespace sorvel {

// The Windows heap decommits large free ranges by itself.
void returnFreedMemory() {}

}  // namespace sorvel
