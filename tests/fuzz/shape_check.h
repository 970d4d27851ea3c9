#pragma once
// What every read of a shape file must give, text or WAV: 1..kShapeMaxPoints finite values and
// no reason, or no values and a reason of one line; the values' table lies within -1..+1, with
// both ends reached unless all its values are 0.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "signal/shape_file.h"

inline bool CheckShapeRead(const uint8_t *data, size_t size) {
  std::vector<double> values;
  std::string reason;
  if (!ReadShapeBytes(data, size, &values, &reason)) {
    if (!values.empty() || reason.empty() || reason.find('\n') != std::string::npos) std::abort();
    return false;
  }
  if (!reason.empty() || values.empty() || values.size() > kShapeMaxPoints) std::abort();
  for (double value : values) {
    if (!std::isfinite(value)) std::abort();
  }
  double aSamples[kWaveTableSamples];
  ShapeSamples(values, aSamples);
  bool bLow = false, bHigh = false, bAllZero = true;
  for (double sample : aSamples) {
    if (!(sample >= -1.0 && sample <= 1.0)) std::abort();
    bLow |= sample == -1.0;
    bHigh |= sample == 1.0;
    bAllZero &= sample == 0.0;
  }
  if (!bAllZero && !(bLow && bHigh)) std::abort();
  return true;
}
