#pragma once
#include <cstdint>

// Code rules of the +/- buttons. `coarse` selects the coarse step only when it is exactly 1.
uint16_t CodeAfterFrequencyUp(uint16_t frequencyCode, int32_t coarse);
uint16_t CodeAfterFrequencyDown(uint16_t frequencyCode, int32_t coarse);
uint8_t CodeAfterOffsetUp(uint8_t offsetCode);
uint8_t CodeAfterOffsetDown(uint8_t offsetCode);
uint16_t CodeAfterAmplitudeUp(uint16_t amplitudeCode, int32_t coarse);
uint16_t CodeAfterAmplitudeDown(uint16_t amplitudeCode, int32_t coarse);
