#include "signal/shape.h"

#include <algorithm>
#include <cmath>

// Both steps work on the values scaled by a power of two, so that their largest magnitude lies in
// [0.5, 1): differences and weighted sums of any finite values then stay finite, and scaling by a
// power of two changes no bit of a normal value.
namespace {

int32_t LargestExponent(const double *pValues, int32_t count) {
  double largest = 0.0;
  for (int32_t k = 0; k < count; k++) largest = std::fmax(largest, std::fabs(pValues[k]));
  int exponent = 0;
  if (largest > 0.0) std::frexp(largest, &exponent);
  return exponent;
}

}  // namespace

void ResampleShape(const double *pValues, int32_t count, double aSamples[kWaveTableSamples]) {
  if (pValues == nullptr || count < 1 || count > kShapeMaxPoints) {
    for (int32_t i = 0; i < kWaveTableSamples; i++) aSamples[i] = 0.0;
    return;
  }
  const int32_t exponent = LargestExponent(pValues, count);
  const int64_t n = count;
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    double sample = 0.0;
    if (count < kWaveTableSamples) {
      // Position i*n/360: point k and the fraction t of the way to the next, wrapping at the end.
      const int64_t k = i * n / kWaveTableSamples;
      const double t = static_cast<double>(i * n % kWaveTableSamples) / kWaveTableSamples;
      const double here = std::ldexp(pValues[k], -exponent);
      const double next = std::ldexp(pValues[(k + 1) % n], -exponent);
      sample = here + t * (next - here);
    } else {
      // In units of 1/360 of a point: the sample covers [i*n, (i+1)*n), point k covers
      // [360k, 360k+360); the weights are the overlaps and sum to n. The sum is of differences
      // from the first covered point, so that equal points give exactly that point's value.
      const int64_t begin = i * n;
      const int64_t end = begin + n;
      const int64_t kFirst = begin / kWaveTableSamples;
      const int64_t kLast = (end - 1) / kWaveTableSamples;
      const double base = std::ldexp(pValues[kFirst], -exponent);
      double sum = 0.0;
      for (int64_t k = kFirst; k <= kLast; k++) {
        const int64_t low = std::max(begin, k * kWaveTableSamples);
        const int64_t high = std::min(end, (k + 1) * kWaveTableSamples);
        sum += (std::ldexp(pValues[k], -exponent) - base) * static_cast<double>(high - low);
      }
      sample = base + sum / static_cast<double>(n);
    }
    aSamples[i] = std::ldexp(sample, exponent);
  }
}

void NormaliseShape(double aSamples[kWaveTableSamples]) {
  double lowest = aSamples[0];
  double highest = aSamples[0];
  for (int32_t i = 1; i < kWaveTableSamples; i++) {
    lowest = std::fmin(lowest, aSamples[i]);
    highest = std::fmax(highest, aSamples[i]);
  }
  // Resampling keeps equal values exactly equal, so "all equal" needs no tolerance here.
  if (!(lowest < highest)) {
    for (int32_t i = 0; i < kWaveTableSamples; i++) aSamples[i] = 0.0;
    return;
  }
  int exponent = 0;
  std::frexp(std::fmax(std::fabs(lowest), std::fabs(highest)), &exponent);
  const double scaledLowest = std::ldexp(lowest, -exponent);
  const double range = std::ldexp(highest, -exponent) - scaledLowest;
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    aSamples[i] = (std::ldexp(aSamples[i], -exponent) - scaledLowest) / range * 2.0 - 1.0;
  }
}

void ScaleShape(const double aSamples[kWaveTableSamples], uint16_t amplitudeCode,
                uint16_t aCodes[kWaveTableSamples]) {
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    // Within 0..65534 for every amplitude the settings allow (0..32767); held in range anyway.
    const double code = std::floor(32767.0 + aSamples[i] * amplitudeCode + 0.5);
    aCodes[i] = static_cast<uint16_t>(std::fmin(std::fmax(code, 0.0), 65535.0));
  }
}
