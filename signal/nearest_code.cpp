#include "signal/nearest_code.h"

#include <cmath>

#include "signal/settings.h"

namespace {

using CodeValue = double (*)(uint32_t code, int32_t index);

double FrequencyOf(uint32_t code, int32_t spwIndex) {
  return FrequencyFromCode(static_cast<uint16_t>(code), spwIndex);
}
double OffsetOf(uint32_t code, int32_t jumperIndex) {
  return OffsetFromCode(static_cast<uint8_t>(code), jumperIndex);
}
double AmplitudeOf(uint32_t code, int32_t jumperIndex) {
  return AmplitudeFromCode(static_cast<uint16_t>(code), jumperIndex);
}

// The conversions are strictly monotonic in the code, so a binary search finds the first code
// whose value has reached the target; the nearest is that code or the one before it.
uint32_t NearestCode(CodeValue value, int32_t index, uint32_t lowest, uint32_t highest,
                     double target) {
  const bool increasing = value(highest, index) > value(lowest, index);
  uint32_t first = lowest;
  uint32_t last = highest + 1;
  while (first < last) {
    uint32_t middle = first + (last - first) / 2;
    double middleValue = value(middle, index);
    bool reached = increasing ? middleValue >= target : middleValue <= target;
    if (reached) {
      last = middle;
    } else {
      first = middle + 1;
    }
  }
  if (first > highest) return highest;
  if (first == lowest) return lowest;
  double belowDistance = std::fabs(value(first - 1, index) - target);
  double atDistance = std::fabs(value(first, index) - target);
  return belowDistance <= atDistance ? first - 1 : first;
}

}  // namespace

uint16_t NearestFrequencyCode(double hertz, int32_t spwIndex) {
  return static_cast<uint16_t>(
      NearestCode(FrequencyOf, spwIndex, kFrequencyCodeLowest, kFrequencyCodeHighest, hertz));
}

uint8_t NearestOffsetCode(double volts, int32_t jumperIndex) {
  return static_cast<uint8_t>(
      NearestCode(OffsetOf, jumperIndex, kOffsetCodeLowest, kOffsetCodeHighest, volts));
}

uint16_t NearestAmplitudeCode(double vpp, int32_t jumperIndex) {
  return static_cast<uint16_t>(
      NearestCode(AmplitudeOf, jumperIndex, kAmplitudeCodeLowest, kAmplitudeCodeHighest, vpp));
}

int32_t ChooseSpwIndex(double hertz) {
  int32_t best = 0;
  double bestError = 0.0;
  for (int32_t spwIndex = 0; spwIndex < kSpwModes; spwIndex++) {
    double error =
        std::fabs(FrequencyFromCode(NearestFrequencyCode(hertz, spwIndex), spwIndex) - hertz) /
        hertz;
    if (spwIndex == 0 || error < bestError) {
      best = spwIndex;
      bestError = error;
    }
  }
  return best;
}

RangeCheck CheckRange(double value, double lowest, double highest) {
  if (std::isnan(value)) return kAboveRange;
  if (value < lowest - std::fabs(lowest) * 1e-9) return kBelowRange;
  if (value > highest + std::fabs(highest) * 1e-9) return kAboveRange;
  return kInRange;
}
