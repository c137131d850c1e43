#pragma once
#include <string>

namespace sorvel {

// The system's description of an errno value.
std::string systemErrorText(int error);

}  // namespace sorvel
