#pragma once
// The panel's +/- buttons and field display: each applies a code rule of signal/steppers.h and
// writes the field text of the resulting code (Frq at 8 significant digits, Offs and Vpp at 3).
// The steppers return the new code; the caller stores it.
#include <windows.h>

#include <cstdint>

uint16_t StepFrequencyUp(HWND panel, uint16_t frequencyCode, int32_t spwIndex, int32_t coarse);
uint16_t StepFrequencyDown(HWND panel, uint16_t frequencyCode, int32_t spwIndex, int32_t coarse);
uint8_t StepOffsetUp(HWND panel, uint8_t offsetCode, int32_t jumperIndex);
uint8_t StepOffsetDown(HWND panel, uint8_t offsetCode, int32_t jumperIndex);
uint16_t StepAmplitudeUp(HWND panel, uint16_t amplitudeCode, int32_t jumperIndex, int32_t coarse);
uint16_t StepAmplitudeDown(HWND panel, uint16_t amplitudeCode, int32_t jumperIndex, int32_t coarse);

// Rewrite a field for an unchanged code when the other input of its conversion changes.
void ShowFrequency(HWND panel, uint16_t frequencyCode, int32_t spwIndex);
void ShowOffset(HWND panel, uint8_t offsetCode, int32_t jumperIndex);
void ShowAmplitude(HWND panel, uint16_t amplitudeCode, int32_t jumperIndex);
