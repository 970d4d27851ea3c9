#pragma once
#include <cstdint>

enum : int32_t { kWaveTableSamples = 360 };

// One period of the output, 360 samples around mid-scale 32767, for waveform list positions
// 0..6; any other position leaves the table as it was. The random wave continues one process-wide
// sequence that starts from the same state in every run.
void BuildWaveTable(uint16_t samples[360], int32_t waveformIndex, uint16_t amplitudeCode,
                    uint8_t dutyPercent);

// One sample of the random wave for a generator value of 0..32767; 32767 gives the top,
// 32767 + amplitudeCode.
uint16_t RandomWaveSample(uint32_t randomValue, uint16_t amplitudeCode);

// The sine of the table: for 0 <= x < 2 pi within a small fraction of a unit in the last place,
// so that it rounds as the exact sine does, alike in every build and C runtime.
double PreciseSine(double x);
