#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "signal/wavetable.h"

namespace {

enum : int32_t { kSine, kSquare, kTriangle, kSaw, kReversedSaw, kRandom, kZeroCalibration };

// The worked samples, and sine samples that lie within 1e-6 of a whole number (worked out with
// 300-bit arithmetic): they show a sine wrong in its last bits, or of the full-precision pi.
TEST(WaveTable, WorkedSamples) {
  // clang-format off
  const struct { int32_t shape, amplitude, duty, index, expected; } kCases[] = {
      {kSine, 2, 50, 30, 32767}, {kSine, 17346, 50, 319, 21386}, {kSine, 26019, 50, 319, 15696},
      {kSine, 18034, 50, 287, 15521}, {kSine, 23914, 50, 265, 8944}, {kSine, 32767, 50, 1, 33338},
      {kSine, 32767, 50, 90, 65534}, {kSine, 32767, 50, 270, 0}, {kSquare, 32767, 50, 179, 0},
      {kSquare, 32767, 50, 180, 65534}, {kSquare, 16383, 33, 240, 16384},
      {kSquare, 16383, 33, 241, 49150}, {kSquare, 1000, 0, 359, 31767},
      {kSquare, 1000, 2, 351, 31767}, {kSquare, 1000, 2, 352, 33767},
      {kSquare, 1000, 255, 0, 33767}, {kTriangle, 32767, 50, 0, 0}, {kTriangle, 32767, 50, 1, 366},
      {kTriangle, 32767, 50, 179, 65534}, {kTriangle, 32767, 50, 180, 65535},
      {kTriangle, 32767, 50, 181, 65168}, {kTriangle, 255, 50, 1, 32514},
      {kTriangle, 0, 50, 180, 32768}, {kSaw, 32767, 50, 1, 182}, {kSaw, 32767, 50, 359, 65533},
      {kReversedSaw, 32767, 50, 0, 65534}, {kReversedSaw, 32767, 50, 359, 0},
      {kZeroCalibration, 65535, 0, 359, 32767}, {kRandom, 0, 50, 17, 32767}};
  // clang-format on
  for (const auto &c : kCases) {
    uint16_t aSamples[kWaveTableSamples] = {};
    BuildWaveTable(aSamples, c.shape, static_cast<uint16_t>(c.amplitude),
                   static_cast<uint8_t>(c.duty));
    EXPECT_EQ(aSamples[c.index], c.expected) << "case " << (&c - kCases);
  }
}

// The table's own sine, against the C library's away from the table arguments.
TEST(WaveTable, SineAgreesWithTheLibrary) {
  for (int32_t i = 0; i < 100000; i++) {
    double x = 6.283185307179586 * i / 100000.0;
    ASSERT_NEAR(PreciseSine(x), std::sin(x), 4e-16) << x;
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
      {41, 16383, 16424}, {16384, 16383, 32767}, {0, 255, 32512}, {32767, 255, 33022}};
  // clang-format on
  for (const auto &c : kCases) {
    EXPECT_EQ(RandomWaveSample(c.random, c.amplitude), c.expected)
        << c.random << " " << c.amplitude;
  }
}

}  // namespace
