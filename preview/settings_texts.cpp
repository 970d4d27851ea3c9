#include "preview/settings_texts.h"

#include <cstring>
#include <iterator>

#include "signal/format.h"
#include "signal/wavetable.h"

namespace {

// The digits of the panel's fields.
enum : int32_t { kFrequencyDigits = 8, kVoltDigits = 3 };

void CopyBounded(char *szTo, size_t size, const char *szFrom) {
  if (size == 0) return;
  size_t i = 0;
  for (; i + 1 < size && szFrom[i] != '\0'; i++) szTo[i] = szFrom[i];
  szTo[i] = '\0';
}

}  // namespace

void Latin1ToUtf8(const char *szLatin1, char *szUtf8, size_t size) {
  if (size == 0) return;
  size_t out = 0;
  for (size_t i = 0; szLatin1[i] != '\0'; i++) {
    unsigned char c = static_cast<unsigned char>(szLatin1[i]);
    if (c < 0x80) {
      if (out + 1 >= size) break;
      szUtf8[out++] = static_cast<char>(c);
    } else {
      if (out + 2 >= size) break;
      szUtf8[out++] = static_cast<char>(0xC0 | (c >> 6));
      szUtf8[out++] = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  szUtf8[out] = '\0';
}

SettingsTexts BuildSettingsTexts(const GeneratorSettings &settings) {
  SettingsTexts texts = {};
  texts.frequencyHz = FrequencyFromCode(settings.frequencyCode, settings.spwIndex);
  texts.offsetVolts = OffsetFromCode(settings.offsetCode, settings.jumperIndex);
  texts.vppVolts = AmplitudeFromCode(settings.amplitudeCode, settings.jumperIndex);
  FormatSignificant(texts.frequencyHz, kFrequencyDigits, texts.szFrequency,
                    std::size(texts.szFrequency));
  FormatSignificant(texts.offsetVolts, kVoltDigits, texts.szOffset, std::size(texts.szOffset));
  FormatSignificant(texts.vppVolts, kVoltDigits, texts.szVpp, std::size(texts.szVpp));

  // The readouts come from the codes alone; the samples only shape the picture, which is not
  // shown here, so a flat table serves and the random wave's sequence is left alone.
  uint16_t samples[kWaveTableSamples];
  for (uint16_t &sample : samples) sample = 32767;
  PreviewModel model =
      BuildPreviewModel(samples, settings.spwIndex, 0, settings.amplitudeCode, settings.offsetCode,
                        settings.jumperIndex, settings.frequencyCode);
  CopyBounded(texts.szMaximum, std::size(texts.szMaximum), model.szMaximum);
  CopyBounded(texts.szDcLevel, std::size(texts.szDcLevel), model.szDcLevel);
  CopyBounded(texts.szMinimum, std::size(texts.szMinimum), model.szMinimum);
  Latin1ToUtf8(model.szPeriod, texts.szPeriod, std::size(texts.szPeriod));
  return texts;
}
