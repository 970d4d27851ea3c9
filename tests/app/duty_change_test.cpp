#include "app/duty_change.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace {

struct DutyCase {
  int32_t position;
  int32_t delta;
  int32_t expected;
};

// The control keeps its default range, 100 down to 0: the up arrow announces -1, the down arrow
// +1, and the accelerated steps of a held button announce more.
const DutyCase kCases[] = {
    {50, -1, 49},   // up arrow from the default
    {50, 1, 51},    // down arrow from the default
    {1, -1, 0},     {0, -1, 0},      // the lower end holds, no wrap to 100
    {99, 1, 100},   {100, 1, 100},   // the upper end holds, no wrap to 0
    {3, -5, 0},     {97, 5, 100},    // an accelerated step stops at the end
    {40, 20, 60},   {60, -20, 40},
    {50, 0, 50},
    {INT32_MAX, INT32_MAX, 100},     // a bogus notification cannot overflow into the range
    {INT32_MIN, INT32_MIN, 0},
    {-7, 0, 0},     {250, 0, 100},
};

TEST(DutyAfterChange, GivesThePositionTheControlShowsAfterTheChange) {
  for (const DutyCase &c : kCases) {
    EXPECT_EQ(DutyAfterChange(c.position, c.delta), c.expected)
        << "position " << c.position << ", delta " << c.delta;
  }
}

TEST(DutyAfterChange, StaysWithinZeroToHundredOverTheWholeRange) {
  for (int32_t position = 0; position <= 100; ++position) {
    for (int32_t delta = -30; delta <= 30; ++delta) {
      int32_t duty = DutyAfterChange(position, delta);
      ASSERT_GE(duty, 0);
      ASSERT_LE(duty, 100);
      int32_t sum = position + delta;
      if (sum >= 0 && sum <= 100) {
        ASSERT_EQ(duty, sum);
      }
    }
  }
}

}  // namespace
