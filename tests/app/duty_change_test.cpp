#include "app/duty_change.h"

#include <gtest/gtest.h>

#include <cstdint>

// The control keeps its default range, 100 down to 0: the up arrow announces -1, the down arrow
// +1, a held button more. The ends hold without wrapping, and a bogus notification cannot overflow.
TEST(DutyAfterChange, StaysWithinZeroToHundred) {
  // clang-format off
  const int32_t kCases[][3] = {{50, -1, 49}, {50, 1, 51}, {0, -1, 0}, {100, 1, 100}, {3, -5, 0},
      {97, 5, 100}, {250, 0, 100}, {-7, 0, 0}, {INT32_MAX, INT32_MAX, 100}, {INT32_MIN, INT32_MIN, 0}};
  // clang-format on
  for (const auto &c : kCases) EXPECT_EQ(DutyAfterChange(c[0], c[1]), c[2]) << c[0] << " " << c[1];
}
