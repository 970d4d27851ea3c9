#include "signal/steppers.h"

namespace {

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

}  // namespace

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
      result = 65535;  // the sum passed the top
    }
  }
  if (result < 7) {
    result = 65535;  // the fine step wrapped from 65535 to 0
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
