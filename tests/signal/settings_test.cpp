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
  const int32_t aFields[] = {settings.frequencyCode, settings.offsetCode,    settings.dutyPercent,
                             settings.amplitudeCode, settings.waveformIndex, settings.spwIndex,
                             settings.jumperIndex};
  const int32_t aDefaults[] = {100, 31, 50, 32767, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(aFields, aDefaults, sizeof aFields));
}

// Bit for bit: the order of the operations matters in the last place.
TEST(Conversions, WorkedValues) {
  const struct {
    const char *szWhat;
    double value;
    double expected;
  } kCases[] = {
      {"frequency 100 spw 0", FrequencyFromCode(100, 0), 1000.0},
      {"frequency 7 spw 0", FrequencyFromCode(7, 0), 14285.714285714286},
      {"frequency 7 spw 1", FrequencyFromCode(7, 1), 28571.428571428572},
      {"frequency 7 spw 2", FrequencyFromCode(7, 2), 57142.857142857145},
      {"frequency 7 spw 3", FrequencyFromCode(7, 3), 114285.71428571429},
      {"frequency 7 spw 4", FrequencyFromCode(7, 4), 214285.7142857143},
      {"frequency 65535 spw 0", FrequencyFromCode(65535, 0), 1.525902189669642},
      {"frequency 4096 spw 0", FrequencyFromCode(4096, 0), 24.4140625},
      {"frequency 7 spw 5", FrequencyFromCode(7, 5), 5142857.142857143},
      {"frequency 7 spw -1", FrequencyFromCode(7, -1), 5142857.142857143},
      {"offset 0 J1", OffsetFromCode(0, 0), -3.247619047619047},
      {"offset 62 J4", OffsetFromCode(62, 3), 0.8119047619047618},
      {"offset 32 J1", OffsetFromCode(32, 0), 0.10476190476190475},
      {"offset 30 J3, the step 3.3/63", OffsetFromCode(30, 2), -0.052380952380952375},
      {"offset 32 J2", OffsetFromCode(32, 1), 0.07857142857142857},
      {"offset 0 J5", OffsetFromCode(0, 4), -3.247619047619047},
      {"offset 0 J0", OffsetFromCode(0, -1), -3.247619047619047},
      {"amplitude 32767 J1", AmplitudeFromCode(32767, 0), 6.6},
      {"amplitude 32640 J1", AmplitudeFromCode(32640, 0), 6.574419385357219},
      {"amplitude 255 J4", AmplitudeFromCode(255, 3), 0.012840662862025818},
      {"amplitude 32767 J2", AmplitudeFromCode(32767, 1), 4.95},
      {"amplitude 32767 J3", AmplitudeFromCode(32767, 2), 3.3},
      {"amplitude 32767 J5", AmplitudeFromCode(32767, 4), 6.6},
      {"amplitude 32767 J0", AmplitudeFromCode(32767, -1), 6.6},
  };
  for (const auto &c : kCases) EXPECT_EQ(Bits(c.value), Bits(c.expected)) << c.szWhat;
}

TEST(Conversions, CentreOffsetIsPositiveZeroAtEveryJumper) {
  for (int32_t jumperIndex = -1; jumperIndex <= 4; jumperIndex++) {
    EXPECT_EQ(Bits(OffsetFromCode(31, jumperIndex)), 0u) << jumperIndex;
  }
}

}  // namespace
