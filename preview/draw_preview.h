#pragma once
#include <windows.h>

#include <cstdint>

// Paints two copies of the period onto the panel's client area and writes the four readouts.
void DrawPreview(HWND panel, const uint16_t samples[360], int32_t spwIndex, int32_t deviceRunning,
                 uint16_t amplitudeCode, uint8_t offsetCode, int32_t jumperIndex,
                 uint16_t frequencyCode);
