#include "platform/ArchiveTime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace sorvel {
namespace {

// Stored times are any 64-bit value; the host takes them whole where its time_t holds them, and
// the nearest end of its range where it does not (a 32-bit time_t ends in 2038 and begins in 1901).
TEST(ArchiveTime, AnyStoredTimeBecomesWholeSecondsWithinTheHostRange) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  struct Case {
    std::int64_t stored;
    std::int64_t with64BitTime;
    std::int64_t with32BitTime;
  };
  const Case cases[] = {
      {0, 0, 0},
      {1, 1, 1},
      {-1, -1, -1},
      {1234567890, 1234567890, 1234567890},
      {2147483647, 2147483647, 2147483647},
      {2147483648, 2147483648, 2147483647},
      {4294967303, 4294967303, 2147483647},
      {-2147483648, -2147483648, -2147483648},
      {-2147483649, -2147483649, -2147483648},
      {kMin, kMin, -2147483648},
      {kMax, kMax, 2147483647},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored);
    const timespec converted = archiveTimeToTimespec(c.stored);
    EXPECT_EQ(static_cast<std::int64_t>(converted.tv_sec), sizeof(time_t) == 8 ? c.with64BitTime : c.with32BitTime);
    EXPECT_EQ(converted.tv_nsec, 0);
  }
}

}  // namespace
}  // namespace sorvel
