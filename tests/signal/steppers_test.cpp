#include <gtest/gtest.h>

#include <cstdint>

#include "signal/steppers.h"

namespace {

// A rule: F/f the frequency up/down, O/o the offset, A/a the amplitude.
uint32_t Step(char rule, uint32_t code, int32_t coarse) {
  switch (rule) {
    case 'F': return CodeAfterFrequencyUp(code, coarse);
    case 'f': return CodeAfterFrequencyDown(code, coarse);
    case 'O': return CodeAfterOffsetUp(code);
    case 'o': return CodeAfterOffsetDown(code);
    case 'A': return CodeAfterAmplitudeUp(code, coarse);
    default: return CodeAfterAmplitudeDown(code, coarse);
  }
}

// The worked steps, the band edges (each band starts at 7 plus its step), the limits, the 16-bit
// wraps, and a `coarse` other than 1 taking the fine step.
TEST(Steppers, CodeRules) {
  // clang-format off
  const struct { char rule; int32_t coarse; uint32_t before, after; } kCases[] = {
      {'F', 1, 100, 85}, {'F', 2, 100, 99}, {'F', 1, 23, 8}, {'F', 1, 4102, 7}, {'F', 1, 7, 7},
      {'F', 0, 0, 65535}, {'f', 1, 100, 115}, {'f', -1, 100, 101}, {'f', 1, 21, 22},
      {'f', 1, 22, 37}, {'f', 1, 261, 276}, {'f', 1, 262, 517}, {'f', 1, 4101, 4356},
      {'f', 1, 4102, 8197}, {'f', 1, 61439, 65534}, {'f', 1, 61441, 65535}, {'f', 0, 65535, 65535},
      {'f', 0, 5, 65535}, {'f', 0, 6, 7}, {'O', 0, 61, 62}, {'O', 0, 62, 62}, {'O', 0, 63, 62},
      {'o', 0, 1, 0}, {'o', 0, 0, 0}, {'A', 1, 255, 1278}, {'A', 0, 255, 382},
      {'A', 1, 32000, 32767}, {'A', 0, 32639, 32766}, {'A', 2, 1000, 1127}, {'A', 1, 65535, 1022},
      {'a', 0, 32767, 32640}, {'a', 1, 32767, 31744}, {'a', 0, 300, 255}, {'a', 0, 383, 256},
      {'a', 1, 1279, 256}, {'a', 2, 1000, 873}, {'a', 1, 0, 255}};
  // clang-format on
  for (const auto &c : kCases) {
    EXPECT_EQ(Step(c.rule, c.before, c.coarse), c.after)
        << "case " << (&c - kCases) << ": from " << c.before << ", coarse " << c.coarse;
  }
}

}  // namespace
