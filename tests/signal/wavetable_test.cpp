#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "signal/wavetable.h"

namespace {

enum : int32_t { kSine, kSquare, kTriangle, kSaw, kReversedSaw, kRandom, kZeroCalibration };

// The correctly rounded sines of the 360 table arguments (i x 3.14159265) / 180.0, and an FNV-1a
// hash of every table of a shape over the amplitudes 0..32767, both from an independent model
// (tests/signal/make_wave_golden.py: Python doubles and mpmath's sine, no C library).
#include "tests/signal/wave_golden.inc"

struct SampleCase {
  int32_t shape;
  uint16_t amplitude;
  uint8_t duty;
  int32_t index;
  uint16_t expected;
};

const SampleCase kWorkedSamples[] = {
    {kSine, 32767, 50, 0, 32767},    {kSine, 32767, 50, 1, 33338},
    {kSine, 32767, 50, 30, 49150},   {kSine, 32767, 50, 45, 55936},
    {kSine, 32767, 50, 90, 65534},   {kSine, 32767, 50, 180, 32767},
    {kSine, 32767, 50, 181, 32195},  {kSine, 32767, 50, 210, 16383},
    {kSine, 32767, 50, 270, 0},      {kSine, 32767, 50, 300, 4389},
    {kSine, 32767, 50, 359, 32195},  {kSine, 16383, 50, 0, 32767},
    {kSine, 16383, 50, 30, 40958},   {kSine, 16383, 50, 90, 49150},
    {kSine, 16383, 50, 210, 24575},  {kSine, 16383, 50, 270, 16384},
    {kTriangle, 32767, 50, 0, 0},    {kTriangle, 32767, 50, 1, 366},
    {kTriangle, 32767, 50, 2, 732},  {kTriangle, 32767, 50, 90, 32950},
    {kTriangle, 32767, 50, 178, 65167}, {kTriangle, 32767, 50, 179, 65534},
    {kTriangle, 32767, 50, 180, 65535}, {kTriangle, 32767, 50, 181, 65168},
    {kTriangle, 32767, 50, 270, 32584}, {kTriangle, 32767, 50, 358, 367},
    {kTriangle, 32767, 50, 359, 1},  {kTriangle, 255, 50, 0, 32512},
    {kTriangle, 255, 50, 1, 32514},  {kTriangle, 255, 50, 179, 33022},
    {kTriangle, 255, 50, 180, 33023}, {kTriangle, 255, 50, 359, 32513},
    {kSaw, 32767, 50, 0, 0},         {kSaw, 32767, 50, 1, 182},
    {kSaw, 32767, 50, 2, 365},       {kSaw, 32767, 50, 180, 32858},
    {kSaw, 32767, 50, 358, 65351},   {kSaw, 32767, 50, 359, 65533},
    {kReversedSaw, 32767, 50, 0, 65534}, {kReversedSaw, 32767, 50, 1, 65351},
    {kReversedSaw, 32767, 50, 179, 32858}, {kReversedSaw, 32767, 50, 180, 32675},
    {kReversedSaw, 32767, 50, 358, 182}, {kReversedSaw, 32767, 50, 359, 0},
};

TEST(WaveTable, WorkedSamples) {
  for (const SampleCase &c : kWorkedSamples) {
    uint16_t aSamples[kWaveTableSamples] = {};
    BuildWaveTable(aSamples, c.shape, c.amplitude, c.duty);
    EXPECT_EQ(aSamples[c.index], c.expected)
        << "shape " << c.shape << " A " << c.amplitude << " sample " << c.index;
  }
}

TEST(WaveTable, TableSineIsCorrectlyRoundedAtEveryTableArgument) {
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    double x = (static_cast<double>(i) * 3.14159265) / 180.0;
    double s = PreciseSine(x);
    uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    EXPECT_EQ(bits, kCorrectSineBits[i]) << "argument " << i;
  }
}

TEST(WaveTable, TableSineNearTheQuadrantEdges) {
  EXPECT_EQ(PreciseSine(0.0), 0.0);
  EXPECT_EQ(PreciseSine(1.5707963267948966), 1.0);
  EXPECT_EQ(PreciseSine(4.71238898038469), -1.0);
  // sin(x) next to pi is pi - x to within x^3/6: for the double nearest pi, 1.2246467991473532e-16
  EXPECT_EQ(PreciseSine(3.141592653589793), 1.2246467991473532e-16);
  EXPECT_EQ(PreciseSine(0.5), 0.479425538604203);
  EXPECT_EQ(PreciseSine(2.0), 0.9092974268256817);
  EXPECT_EQ(PreciseSine(6.0), -0.27941549819892586);
}

TEST(WaveTable, TableSineAgreesWithTheLibraryElsewhere) {
  // Away from the table arguments only a sanity check: the C runtimes are within a few units.
  uint64_t state = 12345;
  for (int32_t i = 0; i < 100000; i++) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    double x = static_cast<double>(state >> 11) / 9007199254740992.0 * 6.283185307179586;
    ASSERT_NEAR(PreciseSine(x), std::sin(x), 4e-16) << std::hexfloat << x;
  }
}

uint64_t HashShape(int32_t shape) {
  uint64_t hash = 0xCBF29CE484222325ull;
  uint16_t aSamples[kWaveTableSamples];
  for (uint32_t amplitude = 0; amplitude <= 32767; amplitude++) {
    BuildWaveTable(aSamples, shape, static_cast<uint16_t>(amplitude), 50);
    for (uint16_t sample : aSamples) {
      hash = (hash ^ sample) * 0x100000001B3ull;
    }
  }
  return hash;
}

TEST(WaveTable, EveryAmplitudeMatchesTheIndependentModel) {
  EXPECT_EQ(HashShape(kSine), kShapeHash[0]) << "sine";
  EXPECT_EQ(HashShape(kTriangle), kShapeHash[1]) << "triangle";
  EXPECT_EQ(HashShape(kSaw), kShapeHash[2]) << "saw tooth";
  EXPECT_EQ(HashShape(kReversedSaw), kShapeHash[3]) << "reversed saw";
}

TEST(WaveTable, ShapesStayWithinTheirSwing) {
  uint16_t aSamples[kWaveTableSamples];
  for (int32_t a = 0; a <= 32767; a++) {
    for (int32_t shape : {kSine, kSaw, kReversedSaw}) {
      BuildWaveTable(aSamples, shape, static_cast<uint16_t>(a), 50);
      // the reversed saw's last sample may fall one unit short of the bottom
      int32_t floor = (shape == kReversedSaw && a > 0) ? 32767 - a - 1 : 32767 - a;
      for (int32_t i = 0; i < kWaveTableSamples; i++) {
        if (aSamples[i] < floor || aSamples[i] > 32767 + a) {
          FAIL() << "shape " << shape << " A " << a << " sample " << i << ": " << aSamples[i];
        }
      }
    }
    BuildWaveTable(aSamples, kTriangle, static_cast<uint16_t>(a), 50);
    for (int32_t i = 0; i < kWaveTableSamples; i++) {
      bool inSwing = aSamples[i] >= 32767 - a && aSamples[i] <= 32767 + a + 1;
      bool inOrder = (i == 0 || i == 180) || (i < 180 ? aSamples[i] >= aSamples[i - 1]
                                                     : aSamples[i] <= aSamples[i - 1]);
      if (!inSwing || !inOrder) {
        FAIL() << "triangle A " << a << " sample " << i << ": " << aSamples[i];
      }
    }
    ASSERT_EQ(aSamples[180], 32767 + a + 1) << "triangle top, A " << a;
  }
}

TEST(WaveTable, SineReachesItsPeaksExactly) {
  uint16_t aSamples[kWaveTableSamples];
  for (uint32_t amplitude = 0; amplitude <= 32767; amplitude++) {
    BuildWaveTable(aSamples, kSine, static_cast<uint16_t>(amplitude), 50);
    ASSERT_EQ(aSamples[90], 32767 + amplitude);
    ASSERT_EQ(aSamples[270], 32767 - amplitude);
    ASSERT_EQ(aSamples[0], 32767);
  }
}

TEST(WaveTable, SquareAtEveryAmplitudeAndDuty) {
  uint16_t aSamples[kWaveTableSamples];
  for (uint32_t duty = 0; duty <= 255; duty++) {
    // Low samples come first: as many as the whole degrees below (100 - D) percent of 360.
    int32_t lowCount = 0;
    while (lowCount < 360 && (lowCount + 1) * 100 <= (100 - static_cast<int32_t>(duty)) * 360) {
      lowCount++;
    }
    bool everyAmplitude = duty <= 2 || duty == 33 || duty == 50 || (duty >= 98 && duty <= 101) ||
                          duty == 255;
    for (uint32_t amplitude = 0; amplitude <= 32767; amplitude += everyAmplitude ? 1 : 251) {
      BuildWaveTable(aSamples, kSquare, static_cast<uint16_t>(amplitude),
                     static_cast<uint8_t>(duty));
      for (int32_t i = 0; i < kWaveTableSamples; i++) {
        uint32_t expected = i < lowCount ? 32767 - amplitude : 32767 + amplitude;
        if (aSamples[i] != expected) {
          FAIL() << "duty " << duty << " A " << amplitude << " sample " << i << ": "
                 << aSamples[i] << " not " << expected;
        }
      }
    }
  }
}

TEST(WaveTable, SquareWorkedDuties) {
  uint16_t aSamples[kWaveTableSamples];
  BuildWaveTable(aSamples, kSquare, 32767, 50);
  EXPECT_EQ(aSamples[0], 0);
  EXPECT_EQ(aSamples[179], 0);
  EXPECT_EQ(aSamples[180], 65534);
  EXPECT_EQ(aSamples[359], 65534);
  BuildWaveTable(aSamples, kSquare, 16383, 33);
  EXPECT_EQ(aSamples[240], 16384);
  EXPECT_EQ(aSamples[241], 49150);
  BuildWaveTable(aSamples, kSquare, 1000, 0);
  EXPECT_EQ(aSamples[359], 31767); // all low
  BuildWaveTable(aSamples, kSquare, 1000, 100);
  EXPECT_EQ(aSamples[0], 33767); // all high
  BuildWaveTable(aSamples, kSquare, 1000, 255);
  EXPECT_EQ(aSamples[0], 33767); // above 100 counts as 100
}

TEST(WaveTable, FlatShapes) {
  uint16_t aSamples[kWaveTableSamples];
  for (uint32_t amplitude : {0u, 1u, 255u, 16383u, 32767u, 65535u}) {
    BuildWaveTable(aSamples, kZeroCalibration, static_cast<uint16_t>(amplitude), 77);
    for (uint16_t sample : aSamples) {
      ASSERT_EQ(sample, 32767);
    }
  }
  for (int32_t shape : {kSine, kSquare, kSaw, kReversedSaw, kRandom}) {
    BuildWaveTable(aSamples, shape, 0, 50);
    for (uint16_t sample : aSamples) {
      ASSERT_EQ(sample, 32767) << shape;
    }
  }
  BuildWaveTable(aSamples, kTriangle, 0, 50);
  EXPECT_EQ(aSamples[0], 32767);
  EXPECT_EQ(aSamples[179], 32767);
  EXPECT_EQ(aSamples[180], 32768);
  EXPECT_EQ(aSamples[359], 32768);
}

TEST(WaveTable, FullScaleExtremes) {
  uint16_t aSamples[kWaveTableSamples];
  int reaching65535 = 0;
  for (int32_t shape = 0; shape <= 6; shape++) {
    BuildWaveTable(aSamples, shape, 32767, 50);
    for (uint16_t sample : aSamples) {
      reaching65535 += sample == 65535 ? 1 : 0;
    }
  }
  EXPECT_EQ(reaching65535, 1); // only the triangle's sample 180
}

TEST(WaveTable, UnknownShapesLeaveTheTableAlone) {
  uint16_t aSamples[kWaveTableSamples];
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    aSamples[i] = static_cast<uint16_t>(i * 181);
  }
  for (int32_t shape : {-1, 7, 8, 100, INT32_MIN, INT32_MAX}) {
    BuildWaveTable(aSamples, shape, 32767, 50);
    for (int32_t i = 0; i < kWaveTableSamples; i++) {
      ASSERT_EQ(aSamples[i], static_cast<uint16_t>(i * 181)) << shape;
    }
  }
}

TEST(WaveTable, RandomSampleScaling) {
  EXPECT_EQ(RandomWaveSample(0, 16383), 16384);
  EXPECT_EQ(RandomWaveSample(41, 16383), 16424);
  EXPECT_EQ(RandomWaveSample(16384, 16383), 32767);
  EXPECT_EQ(RandomWaveSample(32767, 16383), 49150);
  for (uint32_t r = 0; r <= 32767; r++) {
    ASSERT_EQ(RandomWaveSample(r, 32767), 2 * r); // at full scale every sample is 2r
    ASSERT_EQ(RandomWaveSample(r, 0), 32767);
  }
  for (uint32_t amplitude = 0; amplitude <= 32767; amplitude++) {
    ASSERT_EQ(RandomWaveSample(32767, static_cast<uint16_t>(amplitude)), 32767 + amplitude);
    ASSERT_EQ(RandomWaveSample(0, static_cast<uint16_t>(amplitude)), 32767 - amplitude);
  }
}

} // namespace
