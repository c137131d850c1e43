#include "platform/ArchiveTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace sorvel {
namespace {

TEST(ArchiveTime, AnyStoredTimeBecomesWholeSecondsWithinTheHostRange) {
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  const std::vector<std::int64_t> times = {
      0, 1, -1, 1234567890, (std::int64_t{1} << 31) - 1, std::int64_t{1} << 31, (std::int64_t{1} << 32) + 7,
      -(std::int64_t{1} << 31) - 1, kMin, kMax,
  };
  for (const std::int64_t t : times) {
    SCOPED_TRACE(t);
    // Exact where time_t holds the value, else the nearest end of its range.
    const std::int64_t expected = std::clamp<std::int64_t>(t, std::numeric_limits<time_t>::min(),
                                                           std::numeric_limits<time_t>::max());
    const timespec converted = archiveTimeToTimespec(t);
    EXPECT_EQ(static_cast<std::int64_t>(converted.tv_sec), expected);
    EXPECT_EQ(converted.tv_nsec, 0);
  }
}

}  // namespace
}  // namespace sorvel
