#include "platform/OwnConsole.h"

namespace sorvel {

// A terminal outlives the programs run in it.
bool consoleMadeForThisProcess() { return false; }
void waitForKey(std::string_view) {}

}  // namespace sorvel
