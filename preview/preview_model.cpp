#include "preview/preview_model.h"

#include <cstring>
#include <iterator>

#include "signal/format.h"
#include "signal/settings.h"
#include "signal/wavetable.h"

namespace {

const PreviewColour kLightGrey = {224, 224, 224};
const PreviewColour kBlack = {0, 0, 0};
const PreviewColour kGreen = {0, 255, 0};
const PreviewColour kRed = {255, 0, 0};

// Appends within `size` bytes and keeps the text terminated, however long the tail.
void AppendText(char *szText, size_t size, const char *szTail) {
  if (size == 0) {
    return;
  }
  size_t length = 0;
  while (length + 1 < size && szText[length] != '\0') {
    length++;
  }
  size_t tailIndex = 0;
  while (length + 1 < size && szTail[tailIndex] != '\0') {
    szText[length] = szTail[tailIndex];
    length++;
    tailIndex++;
  }
  szText[length] = '\0';
}

void CopyText(char *szText, size_t size, const char *szSource) {
  if (size == 0) {
    return;
  }
  szText[0] = '\0';
  AppendText(szText, size, szSource);
}

}  // namespace

int32_t PreviewStep(int32_t spwIndex) {
  // Each copy passes through as many table entries as the mode has samples per wave; a position
  // outside the list (unsigned, so that -1 is outside too) draws every entry.
  uint32_t position = static_cast<uint32_t>(spwIndex);
  if (position >= std::size(kSamplesPerWave)) {
    return 1;
  }
  return kWaveTableSamples / kSamplesPerWave[position];
}

int32_t SampleToY(uint16_t sample) {
  return kPreviewTop + (65535 - static_cast<int32_t>(sample)) / 255;
}

uint16_t LargestSample(const uint16_t samples[360]) {
  uint16_t largest = 0;
  for (int32_t i = 0; i < 360; i++) {
    if (samples[i] > largest) {
      largest = samples[i];
    }
  }
  return largest;
}

uint16_t SmallestSample(const uint16_t samples[360]) {
  uint16_t smallest = LargestSample(samples);
  for (int32_t i = 0; i < 360; i++) {
    if (samples[i] < smallest) {
      smallest = samples[i];
    }
  }
  // Sample 0 would sit at y 379, on the background's last row; the guide stays at 378.
  if (smallest == 0) {
    smallest = 255;
  }
  return smallest;
}

int32_t FormatPeriodText(double periodSeconds, char *szPeriod, size_t size) {
  char szChDlgTmp[kPreviewTextSize] = {};
  int32_t applies = 0;
  if (size == 0) {
    return 0;
  }
  memset(szPeriod, 0, size);
  CopyText(szPeriod, size, "T=");

  double period = periodSeconds;
  if (period < 1.0 && period >= 0.001) {
    period = period * 1000.0;
    FormatSignificant(period, 4, szChDlgTmp, std::size(szChDlgTmp));
    AppendText(szPeriod, size, szChDlgTmp);
    AppendText(szPeriod, size, "ms");
    applies = 1;
  }
  // After the millisecond branch the period is at least 1, so at most one branch applies.
  if (period < 0.001 && period >= 0.000001) {
    period = period * 1000000.0;
    FormatSignificant(period, 4, szChDlgTmp, std::size(szChDlgTmp));
    AppendText(szPeriod, size, szChDlgTmp);
    AppendText(szPeriod, size, "\xB5s");
    applies = 1;
  }
  return applies;
}

PreviewModel BuildPreviewModel(const uint16_t samples[360], int32_t spwIndex, int32_t deviceRunning,
                               uint16_t amplitudeCode, uint8_t offsetCode, int32_t jumperIndex,
                               uint16_t frequencyCode) {
  PreviewModel model = {};

  model.largestSample = LargestSample(samples);
  model.smallestSample = SmallestSample(samples);
  model.step = PreviewStep(spwIndex);

  model.backgroundColour = kLightGrey;
  model.background = {kPreviewLeft, kPreviewTop, kPreviewRight, kPreviewBottom};

  model.guideColour = kBlack;
  int32_t upperY = SampleToY(model.largestSample);
  model.upperGuide[0] = {kPreviewLeft, upperY};
  model.upperGuide[1] = {kPreviewKneeX, upperY};
  model.upperGuide[2] = {kPreviewGuideEndX, kPreviewTop};
  model.midLine[0] = {kPreviewLeft, kPreviewMidY};
  model.midLine[1] = {kPreviewRight, kPreviewMidY};
  int32_t lowerY = SampleToY(model.smallestSample);
  model.lowerGuide[0] = {kPreviewLeft, lowerY};
  model.lowerGuide[1] = {kPreviewKneeX, lowerY};
  model.lowerGuide[2] = {kPreviewGuideEndX, kPreviewLowerGuideEndY};

  model.traceColour = deviceRunning != 0 ? kGreen : kRed;
  model.traceStart = {kPreviewLeft, SampleToY(samples[0])};
  int32_t count = 0;
  for (int32_t i = 0; i < 360 && count < kPreviewMaxTracePoints; i += model.step) {
    model.tracePoints[count] = {kPreviewLeft + i, SampleToY(samples[i])};
    count++;
  }
  model.firstCopyCount = count;
  // No move between the copies: the first line of the second copy joins them.
  for (int32_t i = 0; i < 360 && count < kPreviewMaxTracePoints; i += model.step) {
    model.tracePoints[count] = {kPreviewSecondCopy + i, SampleToY(samples[i])};
    count++;
  }
  model.traceCount = count;

  // The readouts come from the codes, not from the table.
  double offset = OffsetFromCode(offsetCode, jumperIndex);
  double vpp = AmplitudeFromCode(amplitudeCode, jumperIndex);
  double maximum = vpp / 2.0 + offset;
  double minimum = offset - vpp / 2.0;
  FormatSignificant(maximum, 3, model.szMaximum, std::size(model.szMaximum));
  FormatSignificant(offset, 3, model.szDcLevel, std::size(model.szDcLevel));
  FormatSignificant(minimum, 3, model.szMinimum, std::size(model.szMinimum));

  double period = 1.0 / FrequencyFromCode(frequencyCode, spwIndex);
  model.periodApplies = FormatPeriodText(period, model.szPeriod, std::size(model.szPeriod));
  return model;
}
