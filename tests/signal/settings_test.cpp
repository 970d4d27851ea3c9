#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "signal/settings.h"

namespace {

uint64_t Bits(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Bit for bit: the order of the operations matters in the last place. Indexes outside the lists
// count as 1 sample per wave and as gain 2; the offset step is 3.3/63, not 1.1/21; the centre
// offset is +0.0, not -0.0.
TEST(Conversions, WorkedValues) {
  // clang-format off
  const double kCases[][2] = {
      {FrequencyFromCode(100, 0), 1000.0}, {FrequencyFromCode(7, 4), 214285.7142857143},
      {FrequencyFromCode(65535, 0), 1.525902189669642},
      {FrequencyFromCode(7, 5), 5142857.142857143}, {FrequencyFromCode(7, -1), 5142857.142857143},
      {OffsetFromCode(0, 0), -3.247619047619047}, {OffsetFromCode(62, 3), 0.8119047619047618},
      {OffsetFromCode(30, 2), -0.052380952380952375}, {OffsetFromCode(32, 1), 0.07857142857142857},
      {OffsetFromCode(0, -1), -3.247619047619047}, {AmplitudeFromCode(32767, 0), 6.6},
      {AmplitudeFromCode(255, 3), 0.012840662862025818}, {AmplitudeFromCode(32767, 4), 6.6},
      {AmplitudeFromCode(32767, -1), 6.6}, {OffsetFromCode(31, 0), 0.0},
      {OffsetFromCode(31, -1), 0.0}};
  // clang-format on
  for (const auto &c : kCases) EXPECT_EQ(Bits(c[0]), Bits(c[1])) << "case " << (&c - kCases);
}

}  // namespace
