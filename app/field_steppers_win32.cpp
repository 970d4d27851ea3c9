#include "app/field_steppers.h"

#include <iterator>

#include "res/resource_ids.h"
#include "signal/format.h"
#include "signal/settings.h"
#include "signal/steppers.h"

namespace {

enum : int32_t { kFrequencyDigits = 8, kVoltDigits = 3, kFieldTextSize = 349 };

// Field texts are 8-bit (the micro sign is the byte 0xB5), so the ANSI call writes them; a
// failure to set one is of no consequence to the code the caller stores.
void WriteField(HWND panel, int controlId, double value, int digits) {
  char szText[kFieldTextSize];
  FormatSignificant(value, digits, szText, std::size(szText));
  SetDlgItemTextA(panel, controlId, szText);
}

}  // namespace

void ShowFrequency(HWND panel, uint16_t frequencyCode, int32_t spwIndex) {
  WriteField(panel, IDC_FREQUENCY, FrequencyFromCode(frequencyCode, spwIndex), kFrequencyDigits);
}

void ShowOffset(HWND panel, uint8_t offsetCode, int32_t jumperIndex) {
  WriteField(panel, IDC_OFFSET, OffsetFromCode(offsetCode, jumperIndex), kVoltDigits);
}

void ShowAmplitude(HWND panel, uint16_t amplitudeCode, int32_t jumperIndex) {
  WriteField(panel, IDC_AMPLITUDE, AmplitudeFromCode(amplitudeCode, jumperIndex), kVoltDigits);
}

uint16_t StepFrequencyUp(HWND panel, uint16_t frequencyCode, int32_t spwIndex, int32_t coarse) {
  uint16_t result = CodeAfterFrequencyUp(frequencyCode, coarse);
  ShowFrequency(panel, result, spwIndex);
  return result;
}

uint16_t StepFrequencyDown(HWND panel, uint16_t frequencyCode, int32_t spwIndex, int32_t coarse) {
  uint16_t result = CodeAfterFrequencyDown(frequencyCode, coarse);
  ShowFrequency(panel, result, spwIndex);
  return result;
}

uint8_t StepOffsetUp(HWND panel, uint8_t offsetCode, int32_t jumperIndex) {
  uint8_t result = CodeAfterOffsetUp(offsetCode);
  ShowOffset(panel, result, jumperIndex);
  return result;
}

uint8_t StepOffsetDown(HWND panel, uint8_t offsetCode, int32_t jumperIndex) {
  uint8_t result = CodeAfterOffsetDown(offsetCode);
  ShowOffset(panel, result, jumperIndex);
  return result;
}

uint16_t StepAmplitudeUp(HWND panel, uint16_t amplitudeCode, int32_t jumperIndex, int32_t coarse) {
  uint16_t result = CodeAfterAmplitudeUp(amplitudeCode, coarse);
  ShowAmplitude(panel, result, jumperIndex);
  return result;
}

uint16_t StepAmplitudeDown(HWND panel, uint16_t amplitudeCode, int32_t jumperIndex,
                           int32_t coarse) {
  uint16_t result = CodeAfterAmplitudeDown(amplitudeCode, coarse);
  ShowAmplitude(panel, result, jumperIndex);
  return result;
}
