#pragma once
// One preview picture and its four readout texts, worked out from DrawPreview's arguments alone.
// Portable: the GDI half only replays it.
#include <cstddef>
#include <cstdint>

enum : int32_t {
  kPreviewTextSize = 349,    // every 8-bit field text buffer, terminator included
  kPreviewLeft = 18,         // x of table entry 0 of the first copy
  kPreviewSecondCopy = 378,  // x of table entry 0 of the second copy
  kPreviewRight = 738,       // exclusive
  kPreviewTop = 122,         // y of sample 65535
  kPreviewBottom = 380,      // exclusive bottom of the background
  kPreviewMidY = 250,
  kPreviewKneeX = 558,
  kPreviewGuideEndX = 668,
  kPreviewLowerGuideEndY = 378,
  kPreviewMaxTracePoints = 720  // two copies at step 1
};

struct PreviewPoint {
  int32_t x;
  int32_t y;
};

struct PreviewColour {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
};

struct PreviewRect {
  int32_t left;
  int32_t top;
  int32_t right;   // exclusive, as Rectangle takes it
  int32_t bottom;  // exclusive
};

struct PreviewModel {
  uint16_t largestSample;
  uint16_t smallestSample;  // after the 0 -> 255 rule
  int32_t step;

  PreviewColour backgroundColour;
  PreviewRect background;

  PreviewColour guideColour;
  PreviewPoint upperGuide[3];  // move to [0], lines to [1] and [2]
  PreviewPoint midLine[2];     // move to [0], line to [1]
  PreviewPoint lowerGuide[3];

  PreviewColour traceColour;
  PreviewPoint traceStart;                           // move to
  PreviewPoint tracePoints[kPreviewMaxTracePoints];  // lines to, in drawing order
  int32_t traceCount;                                // both copies
  int32_t firstCopyCount;

  char szMaximum[kPreviewTextSize];  // the maximum readout
  char szDcLevel[kPreviewTextSize];  // the DC readout
  char szMinimum[kPreviewTextSize];  // the minimum readout
  char szPeriod[kPreviewTextSize];   // the period readout, only when periodApplies
  int32_t periodApplies;             // 0: the period field keeps the text it has
};

// Table entries drawn per copy step by step: 1, 2, 4, 8, 15 for modes 0..4, 1 for any other.
int32_t PreviewStep(int32_t spwIndex);

// y = 122 + (65535 - s) / 255: 65535 -> 122, 32767 -> 250, 255 -> 378, 0 -> 379.
int32_t SampleToY(uint16_t sample);

uint16_t LargestSample(const uint16_t samples[360]);
// The smallest sample, except that 0 counts as 255 so the lower guide stays on the picture's edge.
uint16_t SmallestSample(const uint16_t samples[360]);

// "T=" and the period in ms (1 ms <= T < 1 s) or in microseconds with the micro sign as byte
// 0xB5 (1 us <= T < 1 ms), 4 significant digits. Returns 0 and leaves "T=" when neither range
// holds (including zero, infinite and not-a-number periods).
int32_t FormatPeriodText(double periodSeconds, char *szPeriod, size_t size);

PreviewModel BuildPreviewModel(const uint16_t samples[360], int32_t spwIndex, int32_t deviceRunning,
                               uint16_t amplitudeCode, uint8_t offsetCode, int32_t jumperIndex,
                               uint16_t frequencyCode);
