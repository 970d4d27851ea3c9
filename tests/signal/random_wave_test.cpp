// Its own program, so that its first table is the first random table of the process.
#include <gtest/gtest.h>

#include <cstdint>

#include "signal/wavetable.h"

namespace {

enum : int32_t { kRandom = 5 };

// The n-th value (from 1) of the classic C-runtime generator from state 1, from the closed form
// of its state: state_n = 214013^n + 2531011 (1 + 214013 + ... + 214013^(n-1)), mod 2^32.
uint16_t RandomValue(int32_t n) {
  uint64_t power = 1;
  uint64_t sum = 0;
  for (int32_t i = 0; i < n; i++) {
    sum = (sum + power) & 0xFFFFFFFFull;
    power = (power * 214013ull) & 0xFFFFFFFFull;
  }
  uint64_t state = (power + 2531011ull * sum) & 0xFFFFFFFFull;
  return static_cast<uint16_t>((state >> 16) & 0x7FFF);
}

TEST(RandomWave, FirstTableOfTheRunIsTheFixedSequence) {
  uint16_t aSamples[kWaveTableSamples];
  BuildWaveTable(aSamples, kRandom, 32767, 50);
  // The well-known opening of the classic C-runtime generator from state 1.
  const uint16_t kOpening[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
  for (uint32_t i = 0; i < sizeof kOpening / sizeof kOpening[0]; i++) {
    EXPECT_EQ(aSamples[i], 2 * kOpening[i]) << i; // full scale shows 2r
  }

  for (int32_t n = 1; n <= 720; n++) {
    if (n == 361) {
      BuildWaveTable(aSamples, kRandom, 32767, 50); // the second build goes on from there
    }
    ASSERT_EQ(aSamples[(n - 1) % 360], 2 * RandomValue(n)) << "value " << n;
  }
}

TEST(RandomWave, OtherShapesAndUnknownIndexesDoNotAdvanceTheSequence) {
  // The first test took values 1..720.
  uint16_t aFirst[kWaveTableSamples];
  uint16_t aSecond[kWaveTableSamples];
  BuildWaveTable(aFirst, kRandom, 32767, 50);
  for (int32_t shape : {-1, 0, 1, 2, 3, 4, 6, 7}) {
    BuildWaveTable(aSecond, shape, 32767, 50);
  }
  BuildWaveTable(aSecond, kRandom, 32767, 50);
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    ASSERT_EQ(aFirst[i], 2 * RandomValue(721 + i)) << i;
    ASSERT_EQ(aSecond[i], 2 * RandomValue(1081 + i)) << i;
  }
  // A smaller amplitude scales the same kind of values into its swing.
  BuildWaveTable(aSecond, kRandom, 255, 50);
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    ASSERT_EQ(aSecond[i], RandomWaveSample(RandomValue(1441 + i), 255)) << i;
    ASSERT_GE(aSecond[i], 32767 - 255);
    ASSERT_LE(aSecond[i], 32767 + 255);
  }
}

} // namespace
