#pragma once
// A user's shape: one period given as any number of values, made into the 360-sample table the
// way the built-in waves are: resampled, normalised to -1..+1, scaled by the amplitude code.
#include <cstdint>

#include "signal/wavetable.h"

enum : int32_t { kShapeMaxPoints = 1000000 };

// One period of count values (1..kShapeMaxPoints) resampled to kWaveTableSamples values:
// linear interpolation below 360 points, overlap-weighted means from 360 on.
void ResampleShape(const double *pValues, int32_t count, double aSamples[kWaveTableSamples]);

// In place: the smallest becomes -1, the largest +1; all equal: all 0. (No tolerance is needed:
// ResampleShape gives equal values for equal points exactly, however the means round.)
void NormaliseShape(double aSamples[kWaveTableSamples]);

// code = floor(32767 + v * amplitudeCode + 0.5) for each sample.
void ScaleShape(const double aSamples[kWaveTableSamples], uint16_t amplitudeCode,
                uint16_t aCodes[kWaveTableSamples]);
