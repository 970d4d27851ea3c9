#pragma once
#include <cstdint>

// The user's settings as the generator's own codes; hertz and volts are computed only for display.
struct GeneratorSettings {
  uint16_t frequencyCode = 100;    // divider: larger code, lower frequency; panel keeps 7..65535
  uint8_t offsetCode = 31;         // 31 is 0 V; panel keeps 0..62
  uint8_t dutyPercent = 50;        // square wave's share at the high level, 0..100
  uint16_t amplitudeCode = 32767;  // half swing in sample units; panel keeps 255..32767
  int32_t waveformIndex = 0;       // waveform list position, 0..6
  int32_t spwIndex = 0;            // samples-per-wave list position, 0..4
  int32_t jumperIndex = 0;         // gain jumper J1..J4, 0..3
};

// Samples per wave of the samples-per-wave list positions 0..4; any other position counts as 1.
// The one table of these values: the frequency and the preview's step are both derived from it.
inline constexpr int32_t kSamplesPerWave[] = {360, 180, 90, 45, 24};

double FrequencyFromCode(uint16_t frequencyCode, int32_t spwIndex);
double OffsetFromCode(uint8_t offsetCode, int32_t jumperIndex);
double AmplitudeFromCode(uint16_t amplitudeCode, int32_t jumperIndex);
