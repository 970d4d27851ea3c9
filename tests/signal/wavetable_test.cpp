#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "signal/wavetable.h"

namespace {

enum : int32_t { kSine, kSquare, kTriangle, kSaw, kReversedSaw, kRandom, kZeroCalibration };

TEST(WaveTable, WorkedSamples) {
  // clang-format off
  const struct { int32_t shape, amplitude, duty, index, expected; } kCases[] = {
      {kSine, 32767, 50, 0, 32767}, {kSine, 32767, 50, 1, 33338}, {kSine, 32767, 50, 30, 49150},
      {kSine, 32767, 50, 45, 55936}, {kSine, 32767, 50, 90, 65534}, {kSine, 32767, 50, 180, 32767},
      {kSine, 32767, 50, 181, 32195}, {kSine, 32767, 50, 210, 16383}, {kSine, 32767, 50, 270, 0},
      {kSine, 32767, 50, 300, 4389}, {kSine, 32767, 50, 359, 32195}, {kSine, 16383, 50, 30, 40958},
      {kSine, 16383, 50, 210, 24575}, {kSine, 16383, 50, 270, 16384}, {kSquare, 32767, 50, 179, 0},
      {kSquare, 32767, 50, 180, 65534}, {kSquare, 16383, 33, 240, 16384},
      {kSquare, 16383, 33, 241, 49150}, {kSquare, 1000, 0, 359, 31767},
      {kSquare, 1000, 2, 351, 31767}, {kSquare, 1000, 2, 352, 33767},
      {kSquare, 1000, 100, 0, 33767}, {kSquare, 1000, 255, 0, 33767}, {kTriangle, 32767, 50, 0, 0},
      {kTriangle, 32767, 50, 1, 366}, {kTriangle, 32767, 50, 90, 32950},
      {kTriangle, 32767, 50, 178, 65167}, {kTriangle, 32767, 50, 179, 65534},
      {kTriangle, 32767, 50, 180, 65535}, {kTriangle, 32767, 50, 181, 65168},
      {kTriangle, 32767, 50, 270, 32584}, {kTriangle, 32767, 50, 359, 1},
      {kTriangle, 255, 50, 1, 32514}, {kTriangle, 255, 50, 179, 33022},
      {kTriangle, 255, 50, 180, 33023}, {kTriangle, 255, 50, 359, 32513},
      {kTriangle, 0, 50, 179, 32767}, {kTriangle, 0, 50, 180, 32768}, {kSaw, 32767, 50, 1, 182},
      {kSaw, 32767, 50, 180, 32858}, {kSaw, 32767, 50, 358, 65351}, {kSaw, 32767, 50, 359, 65533},
      {kReversedSaw, 32767, 50, 0, 65534}, {kReversedSaw, 32767, 50, 1, 65351},
      {kReversedSaw, 32767, 50, 180, 32675}, {kReversedSaw, 32767, 50, 359, 0},
      {kZeroCalibration, 32767, 50, 90, 32767}, {kZeroCalibration, 65535, 0, 359, 32767},
      {kRandom, 0, 50, 17, 32767}};
  // clang-format on
  for (const auto &c : kCases) {
    uint16_t aSamples[kWaveTableSamples] = {};
    BuildWaveTable(aSamples, c.shape, static_cast<uint16_t>(c.amplitude),
                   static_cast<uint8_t>(c.duty));
    EXPECT_EQ(aSamples[c.index], c.expected) << "case " << (&c - kCases);
  }
}

// The sine of the slightly short argument rounds to exactly 1 and -1 at samples 90 and 270.
TEST(WaveTable, SinePeaksAreExactAtEveryAmplitude) {
  uint16_t aSamples[kWaveTableSamples];
  for (uint32_t amplitude = 0; amplitude <= 32767; amplitude++) {
    BuildWaveTable(aSamples, kSine, static_cast<uint16_t>(amplitude), 50);
    ASSERT_EQ(aSamples[90], 32767 + amplitude);
    ASSERT_EQ(aSamples[270], 32767 - amplitude);
  }
}

TEST(WaveTable, UnknownShapesLeaveTheTableAsItWas) {
  uint16_t aSamples[kWaveTableSamples] = {1, 2, 3};
  for (int32_t shape : {-1, 7, INT32_MIN}) BuildWaveTable(aSamples, shape, 32767, 50);
  EXPECT_EQ(std::vector<uint16_t>(aSamples, aSamples + 4), (std::vector<uint16_t>{1, 2, 3, 0}));
}

TEST(WaveTable, RandomSampleScaling) {
  // clang-format off
  const struct { uint32_t random; uint16_t amplitude, expected; } kCases[] = {
      {0, 16383, 16384}, {41, 16383, 16424}, {16384, 16383, 32767}, {32767, 16383, 49150},
      {32767, 32767, 65534}, {12345, 32767, 24690}, {0, 255, 32512}, {32767, 255, 33022}};
  // clang-format on
  for (const auto &c : kCases) {
    EXPECT_EQ(RandomWaveSample(c.random, c.amplitude), c.expected)
        << c.random << " " << c.amplitude;
  }
}

}  // namespace
