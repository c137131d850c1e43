#include "platform/ArchiveTime.h"

#include <algorithm>
#include <limits>

namespace sorvel {

timespec archiveTimeToTimespec(std::int64_t unixSeconds) {
  timespec result{};
  if constexpr (sizeof(time_t) < sizeof(std::int64_t)) {
    // A 32-bit time_t cannot hold times past 2038 or before 1901.
    unixSeconds =
        std::clamp<std::int64_t>(unixSeconds, std::numeric_limits<time_t>::min(), std::numeric_limits<time_t>::max());
  }
  result.tv_sec = static_cast<time_t>(unixSeconds);
  result.tv_nsec = 0;
  return result;
}

}  // namespace sorvel
