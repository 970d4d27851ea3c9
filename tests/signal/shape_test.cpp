#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "signal/shape.h"

namespace {

// Codes worked out by hand (exact fractions) from the rule: position i*N/360 between the points,
// wrapping; the table's own smallest and largest become -1 and +1. Equal values stay equal
// through the means, however they round, and come out all mid-scale; the extremes of a double
// neither overflow nor lose the shape.
TEST(Shape, WorkedCodes) {
  const std::vector<double> kWave = {0, 1, 0, -1};
  const std::vector<double> kRamp = {0, 1, 2};
  const std::vector<double> kPeak = {0, 0, 0, 1, 0, 0, 0};  // the peak at position 154.29
  const std::vector<double> kHuge = {1e308, -1e308, 1e308};
  const struct {
    std::vector<double> shape;
    uint16_t amplitude;
    int32_t index, expected;
  } kCases[] = {
      // clang-format off
      {kWave, 16000, 0, 32767}, {kWave, 16000, 1, 32945}, {kWave, 32767, 90, 65534},
      {kWave, 32767, 270, 0}, {kRamp, 12000, 0, 20767}, {kRamp, 12000, 300, 32767},
      {kRamp, 12000, 359, 20967}, {kPeak, 10000, 153, 42376}, {kPeak, 10000, 154, 42767},
      {kPeak, 10000, 155, 42599}, {{3.5}, 32767, 17, 32767},
      {std::vector<double>(1000, 0.1), 32767, 200, 32767},
      {std::vector<double>(997, -7.3), 32767, 359, 32767},
      {std::vector<double>(5, 1e-310), 32767, 44, 32767}, {kHuge, 32767, 0, 65534},
      {{4e-320, -4e-320}, 32767, 0, 65534},
      // clang-format on
  };
  for (const auto &c : kCases) {
    double aSamples[kWaveTableSamples];
    ResampleShape(c.shape.data(), static_cast<int32_t>(c.shape.size()), aSamples);
    NormaliseShape(aSamples);
    uint16_t aCodes[kWaveTableSamples];
    ScaleShape(aSamples, c.amplitude, aCodes);
    EXPECT_EQ(aCodes[c.index], c.expected) << "case " << (&c - kCases);
    for (double sample : aSamples) ASSERT_TRUE(sample >= -1.0 && sample <= 1.0) << (&c - kCases);
  }
}

// From 360 points on, each sample is the overlap-weighted mean of the points it covers.
TEST(Shape, MeansOfThePointsCovered) {
  std::vector<double> ramp(721, NAN);  // a NaN past the last point, which no sample reads
  for (size_t k = 0; k < 720; k++) ramp[k] = static_cast<double>(k);
  double aSamples[kWaveTableSamples];
  ResampleShape(ramp.data(), 720, aSamples);
  for (int32_t i = 0; i < kWaveTableSamples; i++) ASSERT_EQ(aSamples[i], 2 * i + 0.5) << i;

  // 1000 points: sample 0 covers points 0, 1 and 280/360 of point 2; sample 1 the rest of 2.
  std::vector<double> spike(1000, 0.0);
  spike[2] = 1.0;
  ResampleShape(spike.data(), 1000, aSamples);
  EXPECT_DOUBLE_EQ(aSamples[0], 0.28);
  EXPECT_DOUBLE_EQ(aSamples[1], 0.08);
  for (int32_t i = 2; i < kWaveTableSamples; i++) ASSERT_EQ(aSamples[i], 0.0) << i;

  // Every point's weights sum to one sample's worth: the table keeps the shape's mean.
  for (int32_t count : {360, 361, 997, 1000, 123457}) {
    std::vector<double> values(static_cast<size_t>(count));
    double sum = 0.0;
    for (int32_t k = 0; k < count; k++) sum += values[k] = (k * 7919) % 1009 - 500.0;
    ResampleShape(values.data(), count, aSamples);
    double tableSum = 0.0;
    for (double sample : aSamples) tableSum += sample;
    EXPECT_NEAR(tableSum / kWaveTableSamples, sum / count, 1e-9) << count;
  }
}

}  // namespace
