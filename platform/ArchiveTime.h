#pragma once
// Archive times (seconds since 1970-01-01 00:00:00 UTC, any 64-bit value) as the host's
// timespec for setting file times.
#include <cstdint>
#include <ctime>

namespace sorvel {

// Whole seconds, no nanoseconds. A time the host's time_t cannot hold is clamped to its range.
timespec archiveTimeToTimespec(std::int64_t unixSeconds);

}  // namespace sorvel
