#pragma once
// What `show` prints: the settings as the panel shows them, its field and readout texts made by
// the panel's own code.
#include <cstddef>
#include <cstdint>

#include "preview/preview_model.h"
#include "signal/settings.h"

struct SettingsTexts {
  double frequencyHz;
  double offsetVolts;
  double vppVolts;
  char szFrequency[kPreviewTextSize];  // the Frq field, 8 digits
  char szOffset[kPreviewTextSize];     // the Offs field, 3 digits
  char szVpp[kPreviewTextSize];        // the Vpp field, 3 digits
  char szMaximum[kPreviewTextSize];    // the readouts, 3 digits
  char szDcLevel[kPreviewTextSize];
  char szMinimum[kPreviewTextSize];
  char szPeriod[kPreviewTextSize * 2];  // the period readout in UTF-8
};

SettingsTexts BuildSettingsTexts(const GeneratorSettings &settings);

// The panel's 8-bit texts (the micro sign is the byte 0xB5) as UTF-8; always terminated, and a
// character that does not fit whole is left out.
void Latin1ToUtf8(const char *szLatin1, char *szUtf8, size_t size);
