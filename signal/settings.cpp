#include "signal/settings.h"

#include <iterator>

namespace {

// Output gain of the jumpers J1..J4; any other position counts as J1.
const double kJumperGain[] = {2.0, 1.5, 1.0, 0.5};

double SamplesPerWave(int32_t spwIndex) {
  // Unsigned, so that -1 (a list without selection) falls outside the table too.
  uint32_t position = static_cast<uint32_t>(spwIndex);
  if (position < std::size(kSamplesPerWave)) {
    return static_cast<double>(kSamplesPerWave[position]);
  }
  return 1.0;
}

double JumperGain(int32_t jumperIndex) {
  uint32_t position = static_cast<uint32_t>(jumperIndex);
  if (position < std::size(kJumperGain)) {
    return kJumperGain[position];
  }
  return 2.0;
}

}  // namespace

double FrequencyFromCode(uint16_t frequencyCode, int32_t spwIndex) {
  double spw = SamplesPerWave(spwIndex);
  double doubled = static_cast<double>(frequencyCode) * 2.0;
  double divisor = doubled * spw;
  return 72000000.0 / divisor;
}

double OffsetFromCode(uint8_t offsetCode, int32_t jumperIndex) {
  // 3.3/63, not 1.1/21: the two differ in the last bit.
  const double step = 3.3 / 63;
  double gain = JumperGain(jumperIndex);
  double code = static_cast<double>(offsetCode);
  if (offsetCode >= 31) {
    double steps = code - 31.0;
    double volts = steps * step;
    return volts * gain;
  }
  double steps = 31.0 - code;
  double volts = steps * -step;
  return volts * gain;
}

double AmplitudeFromCode(uint16_t amplitudeCode, int32_t jumperIndex) {
  const double unit = 3.3 / 32767;
  double gain = JumperGain(jumperIndex);
  double scaled = unit * gain;
  return scaled * static_cast<double>(amplitudeCode);
}
