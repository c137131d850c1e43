#pragma once
#include <string>

namespace sorvel {

// The system's description of an errno value (the host layer gives errno values on every host).
std::string systemErrorText(int error);

}  // namespace sorvel
