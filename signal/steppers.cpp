#include "signal/steppers.h"

#include "signal/field_text.h"
#include "signal/format.h"
#include "signal/settings.h"

namespace {

enum : int32_t { kFrequencyDigits = 8, kVoltDigits = 3, kFieldTextSize = 349 };

// Coarse frequency step of the band that holds the code. Each band starts at 7 plus its step, so
// a coarse step down from any code of a band ends at 7 or above.
uint16_t FrequencyBandStep(uint16_t frequencyCode) {
  if (frequencyCode <= 21) {
    return 1;
  }
  if (frequencyCode <= 261) {
    return 15;
  }
  if (frequencyCode <= 4101) {
    return 255;
  }
  return 4095;
}

} // namespace

uint16_t CodeAfterFrequencyUp(uint16_t frequencyCode, int32_t coarse) {
  uint16_t step = (coarse == 1) ? FrequencyBandStep(frequencyCode) : 1;
  uint16_t result = static_cast<uint16_t>(frequencyCode - step);
  if (result < 7) {
    result = 7;
  }
  return result;
}

uint16_t CodeAfterFrequencyDown(uint16_t frequencyCode, int32_t coarse) {
  uint16_t result;
  if (coarse != 1) {
    result = static_cast<uint16_t>(frequencyCode + 1);
  } else if (frequencyCode <= 4101) {
    result = static_cast<uint16_t>(frequencyCode + FrequencyBandStep(frequencyCode));
  } else {
    result = static_cast<uint16_t>(frequencyCode + 4095);
    if (result < 4095) {
      result = 65535; // the sum passed the top
    }
  }
  if (result < 7) {
    result = 65535; // the fine step wrapped from 65535 to 0
  }
  return result;
}

uint8_t CodeAfterOffsetUp(uint8_t offsetCode) {
  if (offsetCode >= 62) {
    return 62;
  }
  return static_cast<uint8_t>(offsetCode + 1);
}

uint8_t CodeAfterOffsetDown(uint8_t offsetCode) {
  if (offsetCode == 0) {
    return 0;
  }
  return static_cast<uint8_t>(offsetCode - 1);
}

uint16_t CodeAfterAmplitudeUp(uint16_t amplitudeCode, int32_t coarse) {
  uint16_t step = (coarse == 1) ? 1023 : 127;
  uint16_t result = static_cast<uint16_t>(amplitudeCode + step);
  if (result > 32767) {
    result = 32767;
  }
  return result;
}

uint16_t CodeAfterAmplitudeDown(uint16_t amplitudeCode, int32_t coarse) {
  uint16_t step = (coarse == 1) ? 1023 : 127;
  uint16_t result = static_cast<uint16_t>(amplitudeCode - step);
  // A step below zero wraps above 32767.
  if (result < 255 || result > 32767) {
    result = 255;
  }
  return result;
}

void ShowFrequency(PanelWindow panel, uint16_t frequencyCode, int32_t spwIndex) {
  char szText[kFieldTextSize];
  FormatSignificant(FrequencyFromCode(frequencyCode, spwIndex), kFrequencyDigits, szText,
                    sizeof szText);
  SetFieldText(panel, kFrequencyField, szText);
}

void ShowOffset(PanelWindow panel, uint8_t offsetCode, int32_t jumperIndex) {
  char szText[kFieldTextSize];
  FormatSignificant(OffsetFromCode(offsetCode, jumperIndex), kVoltDigits, szText, sizeof szText);
  SetFieldText(panel, kOffsetField, szText);
}

void ShowAmplitude(PanelWindow panel, uint16_t amplitudeCode, int32_t jumperIndex) {
  char szText[kFieldTextSize];
  FormatSignificant(AmplitudeFromCode(amplitudeCode, jumperIndex), kVoltDigits, szText,
                    sizeof szText);
  SetFieldText(panel, kAmplitudeField, szText);
}

uint16_t StepFrequencyUp(PanelWindow panel, uint16_t frequencyCode, int32_t spwIndex,
                         int32_t coarse) {
  uint16_t result = CodeAfterFrequencyUp(frequencyCode, coarse);
  ShowFrequency(panel, result, spwIndex);
  return result;
}

uint16_t StepFrequencyDown(PanelWindow panel, uint16_t frequencyCode, int32_t spwIndex,
                           int32_t coarse) {
  uint16_t result = CodeAfterFrequencyDown(frequencyCode, coarse);
  ShowFrequency(panel, result, spwIndex);
  return result;
}

uint8_t StepOffsetUp(PanelWindow panel, uint8_t offsetCode, int32_t jumperIndex) {
  uint8_t result = CodeAfterOffsetUp(offsetCode);
  ShowOffset(panel, result, jumperIndex);
  return result;
}

uint8_t StepOffsetDown(PanelWindow panel, uint8_t offsetCode, int32_t jumperIndex) {
  uint8_t result = CodeAfterOffsetDown(offsetCode);
  ShowOffset(panel, result, jumperIndex);
  return result;
}

uint16_t StepAmplitudeUp(PanelWindow panel, uint16_t amplitudeCode, int32_t jumperIndex,
                         int32_t coarse) {
  uint16_t result = CodeAfterAmplitudeUp(amplitudeCode, coarse);
  ShowAmplitude(panel, result, jumperIndex);
  return result;
}

uint16_t StepAmplitudeDown(PanelWindow panel, uint16_t amplitudeCode, int32_t jumperIndex,
                           int32_t coarse) {
  uint16_t result = CodeAfterAmplitudeDown(amplitudeCode, coarse);
  ShowAmplitude(panel, result, jumperIndex);
  return result;
}
