#include <gtest/gtest.h>

#include <cstdint>

#include "signal/steppers.h"

namespace {

using Rule = uint32_t (*)(uint32_t code, int32_t coarse);
const Rule FrequencyUp = [](uint32_t c, int32_t k) -> uint32_t {
  return CodeAfterFrequencyUp(c, k);
};
const Rule FrequencyDown = [](uint32_t c, int32_t k) -> uint32_t {
  return CodeAfterFrequencyDown(c, k);
};
const Rule OffsetUp = [](uint32_t c, int32_t) -> uint32_t { return CodeAfterOffsetUp(c); };
const Rule OffsetDown = [](uint32_t c, int32_t) -> uint32_t { return CodeAfterOffsetDown(c); };
const Rule AmplitudeUp = [](uint32_t c, int32_t k) -> uint32_t {
  return CodeAfterAmplitudeUp(c, k);
};
const Rule AmplitudeDown = [](uint32_t c, int32_t k) -> uint32_t {
  return CodeAfterAmplitudeDown(c, k);
};

// The worked steps, the band edges (each band starts at 7 plus its step), the limits, the 16-bit
// wraps, and a `coarse` other than 1 taking the fine step.
TEST(Steppers, CodeRules) {
  // clang-format off
  const struct { Rule rule; int32_t coarse; uint32_t before, after; } kCases[] = {
      {FrequencyUp, 1, 100, 85}, {FrequencyUp, 0, 100, 99}, {FrequencyUp, 2, 100, 99},
      {FrequencyUp, 1, 21, 20}, {FrequencyUp, 1, 22, 7}, {FrequencyUp, 1, 23, 8},
      {FrequencyUp, 1, 261, 246}, {FrequencyUp, 1, 262, 7}, {FrequencyUp, 1, 4101, 3846},
      {FrequencyUp, 1, 4102, 7}, {FrequencyUp, 1, 4356, 261}, {FrequencyUp, 1, 8, 7},
      {FrequencyUp, 1, 7, 7}, {FrequencyUp, 0, 7, 7}, {FrequencyUp, 0, 0, 65535},
      {FrequencyDown, 1, 100, 115}, {FrequencyDown, 0, 100, 101}, {FrequencyDown, -1, 100, 101},
      {FrequencyDown, 1, 21, 22}, {FrequencyDown, 1, 22, 37}, {FrequencyDown, 1, 261, 276},
      {FrequencyDown, 1, 262, 517}, {FrequencyDown, 1, 4101, 4356}, {FrequencyDown, 1, 4102, 8197},
      {FrequencyDown, 1, 61439, 65534}, {FrequencyDown, 1, 61440, 65535},
      {FrequencyDown, 1, 61441, 65535}, {FrequencyDown, 1, 65535, 65535},
      {FrequencyDown, 0, 65535, 65535}, {FrequencyDown, 0, 5, 65535}, {FrequencyDown, 0, 6, 7},
      {OffsetUp, 0, 31, 32}, {OffsetUp, 0, 61, 62}, {OffsetUp, 0, 62, 62}, {OffsetUp, 0, 63, 62},
      {OffsetDown, 0, 1, 0}, {OffsetDown, 0, 0, 0}, {OffsetDown, 0, 62, 61},
      {AmplitudeUp, 1, 255, 1278}, {AmplitudeUp, 0, 255, 382}, {AmplitudeUp, 1, 32000, 32767},
      {AmplitudeUp, 0, 32640, 32767}, {AmplitudeUp, 0, 32639, 32766}, {AmplitudeUp, 2, 1000, 1127},
      {AmplitudeUp, 1, 65535, 1022}, {AmplitudeDown, 0, 32767, 32640},
      {AmplitudeDown, 1, 32767, 31744}, {AmplitudeDown, 0, 300, 255}, {AmplitudeDown, 0, 382, 255},
      {AmplitudeDown, 0, 383, 256}, {AmplitudeDown, 1, 1054, 255}, {AmplitudeDown, 1, 1278, 255},
      {AmplitudeDown, 1, 1279, 256}, {AmplitudeDown, 2, 1000, 873}, {AmplitudeDown, 1, 0, 255}
  };
  // clang-format on
  for (const auto &c : kCases) {
    EXPECT_EQ(c.rule(c.before, c.coarse), c.after)
        << "case " << (&c - kCases) << ": from " << c.before << ", coarse " << c.coarse;
  }
}

}  // namespace
