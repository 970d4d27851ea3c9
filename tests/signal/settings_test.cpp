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

TEST(GeneratorSettings, Defaults) {
  GeneratorSettings settings;
  EXPECT_EQ(settings.frequencyCode, 100);
  EXPECT_EQ(settings.offsetCode, 31);
  EXPECT_EQ(settings.dutyPercent, 50);
  EXPECT_EQ(settings.amplitudeCode, 32767);
  EXPECT_EQ(settings.waveformIndex, 0);
  EXPECT_EQ(settings.spwIndex, 0);
  EXPECT_EQ(settings.jumperIndex, 0);
}

struct ConversionCase {
  const char *szWhat;
  double value;
  double expected; // compared bit for bit
};

TEST(Conversions, WorkedValuesBitForBit) {
  const ConversionCase kCases[] = {
      {"frequency 100 spw 0", FrequencyFromCode(100, 0), 1000.0},
      {"frequency 7 spw 0", FrequencyFromCode(7, 0), 14285.714285714286},
      {"frequency 7 spw 4", FrequencyFromCode(7, 4), 214285.7142857143},
      {"frequency 65535 spw 0", FrequencyFromCode(65535, 0), 1.525902189669642},
      {"frequency 4096 spw 0", FrequencyFromCode(4096, 0), 24.4140625},
      {"frequency 7 spw 5", FrequencyFromCode(7, 5), 72000000.0 / 14.0},
      {"frequency 7 spw -1", FrequencyFromCode(7, -1), 72000000.0 / 14.0},
      {"frequency 7 spw 1", FrequencyFromCode(7, 1), 72000000.0 / 2520.0},
      {"frequency 7 spw 2", FrequencyFromCode(7, 2), 72000000.0 / 1260.0},
      {"frequency 7 spw 3", FrequencyFromCode(7, 3), 72000000.0 / 630.0},
      {"offset 0 J1", OffsetFromCode(0, 0), -3.247619047619047},
      {"offset 62 J4", OffsetFromCode(62, 3), 0.8119047619047618},
      {"offset 32 J1", OffsetFromCode(32, 0), 0.10476190476190475},
      {"offset 30 J3", OffsetFromCode(30, 2), -0.052380952380952375},
      {"offset 30 J1", OffsetFromCode(30, 0), -0.10476190476190475},
      {"amplitude 32767 J1", AmplitudeFromCode(32767, 0), 6.6},
      {"amplitude 32640 J1", AmplitudeFromCode(32640, 0), 6.574419385357219},
      {"amplitude 255 J4", AmplitudeFromCode(255, 3), 0.012840662862025818},
      {"amplitude 32767 J2", AmplitudeFromCode(32767, 1), 4.95},
      {"amplitude 32767 J3", AmplitudeFromCode(32767, 2), 3.3},
      {"amplitude 32767 J4", AmplitudeFromCode(32767, 3), 1.65},
  };
  for (const ConversionCase &c : kCases) {
    EXPECT_EQ(Bits(c.value), Bits(c.expected)) << c.szWhat << ": " << c.value;
  }
}

TEST(Conversions, OffsetStepIsThreePointThreeOverSixtyThree) {
  // 1.1/21 lies one unit in the last place above; the step must be 3.3/63.
  EXPECT_EQ(Bits(OffsetFromCode(30, 2)), 0xBFAAD1AD1AD1AD1Aull);
  EXPECT_EQ(OffsetFromCode(30, 2), -(3.3 / 63));
  EXPECT_NE(OffsetFromCode(30, 2), -(1.1 / 21));
  EXPECT_EQ(OffsetFromCode(32, 2), 3.3 / 63);
}

TEST(Conversions, CenterCodeIsPositiveZeroAtEveryJumper) {
  for (int32_t jumperIndex = -1; jumperIndex <= 4; jumperIndex++) {
    double volts = OffsetFromCode(31, jumperIndex);
    EXPECT_EQ(Bits(volts), 0ull) << "jumper " << jumperIndex; // +0.0, never -0.0
  }
}

TEST(Conversions, IndexesOutsideTheTablesTakeTheDefaultRow) {
  for (int32_t bad : {-1, 4, 5, 100, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(Bits(OffsetFromCode(0, bad)), Bits(OffsetFromCode(0, 0))) << bad;
    EXPECT_EQ(Bits(AmplitudeFromCode(1000, bad)), Bits(AmplitudeFromCode(1000, 0))) << bad;
  }
  for (int32_t bad : {-1, 5, 6, 1000, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(Bits(FrequencyFromCode(7, bad)), Bits(72000000.0 / 14.0)) << bad;
  }
}

TEST(Conversions, OffsetIsSymmetricAroundTheCenter) {
  // (31 - c) * -s and (c - 31) * s meet in magnitude: the two halves mirror exactly.
  for (int32_t jumperIndex = 0; jumperIndex <= 3; jumperIndex++) {
    for (int32_t d = 1; d <= 31; d++) {
      double above = OffsetFromCode(static_cast<uint8_t>(31 + d), jumperIndex);
      double below = OffsetFromCode(static_cast<uint8_t>(31 - d), jumperIndex);
      EXPECT_EQ(Bits(above), Bits(-below)) << d;
      EXPECT_GT(above, 0.0);
    }
  }
}

TEST(Conversions, FrequencyFallsAsTheCodeRises) {
  for (int32_t spwIndex = 0; spwIndex <= 4; spwIndex++) {
    double previous = FrequencyFromCode(7, spwIndex);
    for (uint32_t code = 8; code <= 65535; code++) {
      double hertz = FrequencyFromCode(static_cast<uint16_t>(code), spwIndex);
      ASSERT_LT(hertz, previous) << code;
      previous = hertz;
    }
  }
}

} // namespace
