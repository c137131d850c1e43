#include "base/PlaintextBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace sorvel {
namespace {

TEST(PlaintextBuffer, GrowsOnlyWhenTooSmallAndToTheLargerOfTheTwoSizes) {
  PlaintextBuffer buffer;
  EXPECT_EQ(buffer.capacity(), 0u);
  std::uint8_t* first = buffer.reserve(100);
  EXPECT_EQ(buffer.capacity(), 100u);
  EXPECT_EQ(buffer.reserve(60, 5000), first);  // room enough: kept
  EXPECT_EQ(buffer.capacity(), 100u);
  buffer.reserve(200, 1000);
  EXPECT_EQ(buffer.capacity(), 1000u);
  buffer.reserve(3000, 1000);
  EXPECT_EQ(buffer.capacity(), 3000u);
}

TEST(PlaintextBuffer, WipesAsFarAsItWasWrittenAndNoFurther) {
  PlaintextBuffer buffer;
  std::uint8_t* data = buffer.reserve(1000);
  std::fill(data, data + 1000, 0xAA);
  buffer.markWritten(300);
  buffer.markWritten(100);  // a shorter write leaves the mark where it was
  EXPECT_EQ(buffer.written(), 300u);
  buffer.wipe();
  EXPECT_EQ(buffer.written(), 0u);
  EXPECT_TRUE(std::all_of(data, data + 300, [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(std::all_of(data + 300, data + 1000, [](std::uint8_t b) { return b == 0xAA; }));
}

}  // namespace
}  // namespace sorvel
