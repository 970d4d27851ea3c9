#pragma once
// From hertz and volts to the generator's codes: the code whose value, by the program's own
// conversion, lies closest to the value asked for.
#include <cstdint>

enum : int32_t {
  kFrequencyCodeLowest = 7,
  kFrequencyCodeHighest = 65535,
  kOffsetCodeLowest = 0,
  kOffsetCodeHighest = 62,
  kAmplitudeCodeLowest = 255,
  kAmplitudeCodeHighest = 32767,
  kSpwModes = 5,
  kJumpers = 4,
};

enum RangeCheck : int32_t { kInRange = 0, kBelowRange = -1, kAboveRange = 1 };

// The nearest code of the range; a tie goes to the lower code. Values beyond the range give the
// code at its end.
uint16_t NearestFrequencyCode(double hertz, int32_t spwIndex);
uint8_t NearestOffsetCode(double volts, int32_t jumperIndex);
uint16_t NearestAmplitudeCode(double vpp, int32_t jumperIndex);

// The samples-per-wave mode whose nearest code comes closest to hertz, relative to hertz; a tie
// goes to the mode with more samples per wave (the lower index).
int32_t ChooseSpwIndex(double hertz);

// Whether value lies from lowest to highest, with a relative slack of 1e-9 for rounding.
RangeCheck CheckRange(double value, double lowest, double highest);
