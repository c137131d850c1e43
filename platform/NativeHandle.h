#pragma once
// What the host gives for an open file or folder, kept opaque: a file descriptor on POSIX hosts, a
// HANDLE on Windows. Both fit in a pointer-sized integer, and -1 is invalid for both.
#include <cstdint>

namespace sorvel {

using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

}  // namespace sorvel
