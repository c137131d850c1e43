#pragma once
// Last-error codes left by the archive's operations; nothing reads them back but tests. Each
// layer names its own codes beside the code that leaves them.
#include <cstdint>

namespace sorvel {

inline constexpr std::uint32_t kErrorSuccess = 0;

}  // namespace sorvel
