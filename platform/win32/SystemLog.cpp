#include "platform/SystemLog.h"

namespace sorvel {

// The tool does not detach from its console on Windows: nothing needs a system log there.
void logSystemError(std::string_view) {}

}  // namespace sorvel
