#pragma once
#include <cstdint>

enum : int32_t { kWaveTableSamples = 360 };

// One period of the output, 360 samples around mid-scale 32767, for waveform list positions
// 0..6; any other position leaves the table as it was. The random wave continues one process-wide
// sequence that starts from the same state in every run.
void BuildWaveTable(uint16_t samples[360], int32_t waveformIndex, uint16_t amplitudeCode,
                    uint8_t dutyPercent);
