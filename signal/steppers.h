#pragma once
#include <cstdint>

#include "signal/panel_window.h"

// The field controls that the steppers write.
enum : int32_t { kFrequencyField = 1015, kOffsetField = 1020, kAmplitudeField = 1023 };

// Code rules of the +/- buttons. `coarse` selects the coarse step only when it is exactly 1.
uint16_t CodeAfterFrequencyUp(uint16_t frequencyCode, int32_t coarse);
uint16_t CodeAfterFrequencyDown(uint16_t frequencyCode, int32_t coarse);
uint8_t CodeAfterOffsetUp(uint8_t offsetCode);
uint8_t CodeAfterOffsetDown(uint8_t offsetCode);
uint16_t CodeAfterAmplitudeUp(uint16_t amplitudeCode, int32_t coarse);
uint16_t CodeAfterAmplitudeDown(uint16_t amplitudeCode, int32_t coarse);

// The steppers apply the rule, write the field text of the new code and return the new code;
// the caller stores it.
uint16_t StepFrequencyUp(PanelWindow panel, uint16_t frequencyCode, int32_t spwIndex, int32_t coarse);
uint16_t StepFrequencyDown(PanelWindow panel, uint16_t frequencyCode, int32_t spwIndex, int32_t coarse);
uint8_t StepOffsetUp(PanelWindow panel, uint8_t offsetCode, int32_t jumperIndex);
uint8_t StepOffsetDown(PanelWindow panel, uint8_t offsetCode, int32_t jumperIndex);
uint16_t StepAmplitudeUp(PanelWindow panel, uint16_t amplitudeCode, int32_t jumperIndex, int32_t coarse);
uint16_t StepAmplitudeDown(PanelWindow panel, uint16_t amplitudeCode, int32_t jumperIndex, int32_t coarse);

// Rewrite a field for an unchanged code when the other input of its conversion changes.
void ShowFrequency(PanelWindow panel, uint16_t frequencyCode, int32_t spwIndex);
void ShowOffset(PanelWindow panel, uint8_t offsetCode, int32_t jumperIndex);
void ShowAmplitude(PanelWindow panel, uint16_t amplitudeCode, int32_t jumperIndex);
