#include "preview/preview_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace {

struct SampleTable {
  uint16_t samples[360];
};

SampleTable Filled(uint16_t value) {
  SampleTable table;
  for (uint16_t &sample : table.samples) {
    sample = value;
  }
  return table;
}

// Distinct samples, so that a point taken from the wrong table entry shows.
SampleTable Ramp() {
  SampleTable table;
  for (int32_t i = 0; i < 360; i++) {
    table.samples[i] = static_cast<uint16_t>(i * 180);
  }
  return table;
}

PreviewModel DefaultModel(const SampleTable &table, int32_t spwIndex = 0,
                          int32_t deviceRunning = 0) {
  return BuildPreviewModel(table.samples, spwIndex, deviceRunning, 32767, 31, 0, 100);
}

void ExpectPoint(const PreviewPoint &point, int32_t x, int32_t y) {
  EXPECT_EQ(point.x, x);
  EXPECT_EQ(point.y, y);
}

void ExpectColour(const PreviewColour &colour, int red, int green, int blue) {
  EXPECT_EQ(colour.red, red);
  EXPECT_EQ(colour.green, green);
  EXPECT_EQ(colour.blue, blue);
}

// Everything of the picture but the trace colour, and all four texts.
void ExpectSameExceptTraceColour(const PreviewModel &a, const PreviewModel &b) {
  EXPECT_EQ(a.largestSample, b.largestSample);
  EXPECT_EQ(a.smallestSample, b.smallestSample);
  EXPECT_EQ(a.step, b.step);
  EXPECT_EQ(0, memcmp(&a.backgroundColour, &b.backgroundColour, sizeof(a.backgroundColour)));
  EXPECT_EQ(0, memcmp(&a.background, &b.background, sizeof(a.background)));
  EXPECT_EQ(0, memcmp(&a.guideColour, &b.guideColour, sizeof(a.guideColour)));
  EXPECT_EQ(0, memcmp(a.upperGuide, b.upperGuide, sizeof(a.upperGuide)));
  EXPECT_EQ(0, memcmp(a.midLine, b.midLine, sizeof(a.midLine)));
  EXPECT_EQ(0, memcmp(a.lowerGuide, b.lowerGuide, sizeof(a.lowerGuide)));
  EXPECT_EQ(0, memcmp(&a.traceStart, &b.traceStart, sizeof(a.traceStart)));
  ASSERT_EQ(a.traceCount, b.traceCount);
  EXPECT_EQ(a.firstCopyCount, b.firstCopyCount);
  EXPECT_EQ(0, memcmp(a.tracePoints, b.tracePoints, sizeof(PreviewPoint) * a.traceCount));
  EXPECT_STREQ(a.szMaximum, b.szMaximum);
  EXPECT_STREQ(a.szDcLevel, b.szDcLevel);
  EXPECT_STREQ(a.szMinimum, b.szMinimum);
  EXPECT_STREQ(a.szPeriod, b.szPeriod);
  EXPECT_EQ(a.periodApplies, b.periodApplies);
}

TEST(PreviewModel, SampleToY) {
  struct Case {
    uint16_t sample;
    int32_t y;
  };
  const Case cases[] = {
      {65535, 122}, {65281, 122}, {65280, 123}, {32896, 249}, {32895, 250}, {32767, 250},
      {32766, 250}, {256, 377},   {255, 378},   {254, 378},   {1, 378},     {0, 379},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(SampleToY(c.sample), c.y) << "sample " << c.sample;
  }
}

TEST(PreviewModel, StepBySamplesPerWaveMode) {
  struct Case {
    int32_t spwIndex;
    int32_t step;
  };
  const Case cases[] = {
      {0, 1},
      {1, 2},
      {2, 4},
      {3, 8},
      {4, 15},
      {5, 1},
      {-1, 1},
      {100, 1},
      {std::numeric_limits<int32_t>::min(), 1},
      {std::numeric_limits<int32_t>::max(), 1},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(PreviewStep(c.spwIndex), c.step) << "spwIndex " << c.spwIndex;
  }
}

TEST(PreviewModel, LargestAndSmallestSample) {
  struct Case {
    const char *name;
    SampleTable table;
    uint16_t largest;
    uint16_t smallest;
  };
  Case cases[] = {
      {"zeros", Filled(0), 0, 255},
      {"flat mid-scale", Filled(0x7FFF), 0x7FFF, 0x7FFF},
      {"full scale", Filled(65535), 65535, 65535},
      {"ramp", Ramp(), 359 * 180, 255},
      {"one zero", Filled(1000), 1000, 255},
      {"smallest 1 stays", Filled(1000), 1000, 1},
      {"smallest 254 stays", Filled(1000), 1000, 254},
      {"extremes at the last entry", Filled(30000), 65535, 300},
  };
  cases[4].table.samples[200] = 0;
  cases[5].table.samples[0] = 1;
  cases[6].table.samples[17] = 254;
  cases[7].table.samples[359] = 65535;
  cases[7].table.samples[358] = 300;
  for (const Case &c : cases) {
    EXPECT_EQ(LargestSample(c.table.samples), c.largest) << c.name;
    EXPECT_EQ(SmallestSample(c.table.samples), c.smallest) << c.name;
  }
}

TEST(PreviewModel, BackgroundAndColours) {
  PreviewModel model = DefaultModel(Ramp());
  EXPECT_EQ(model.background.left, 18);
  EXPECT_EQ(model.background.top, 122);
  EXPECT_EQ(model.background.right, 738);
  EXPECT_EQ(model.background.bottom, 380);
  ExpectColour(model.backgroundColour, 224, 224, 224);
  ExpectColour(model.guideColour, 0, 0, 0);
  ExpectColour(model.traceColour, 255, 0, 0);
  ExpectPoint(model.midLine[0], 18, 250);
  ExpectPoint(model.midLine[1], 738, 250);
}

TEST(PreviewModel, Guides) {
  struct Case {
    const char *name;
    SampleTable table;
    int32_t upperY;
    int32_t lowerY;
  };
  Case cases[] = {
      {"zeros", Filled(0), 379, 378},
      {"flat mid-scale", Filled(0x7FFF), 250, 250},
      {"full swing", Filled(0x7FFF), 122, 378},
      {"smallest 0 as 255", Filled(0x7FFF), 250, 378},
      {"ramp", Ramp(), SampleToY(359 * 180), 378},
  };
  cases[2].table.samples[90] = 65535;
  cases[2].table.samples[270] = 255;
  cases[3].table.samples[10] = 0;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PreviewModel model = DefaultModel(c.table);
    ExpectPoint(model.upperGuide[0], 18, c.upperY);
    ExpectPoint(model.upperGuide[1], 558, c.upperY);
    ExpectPoint(model.upperGuide[2], 668, 122);
    ExpectPoint(model.lowerGuide[0], 18, c.lowerY);
    ExpectPoint(model.lowerGuide[1], 558, c.lowerY);
    ExpectPoint(model.lowerGuide[2], 668, 378);
  }
}

TEST(PreviewModel, ZeroSampleTraceSitsBelowLowerGuide) {
  SampleTable table = Filled(0x7FFF);
  table.samples[10] = 0;
  PreviewModel model = DefaultModel(table);
  EXPECT_EQ(model.lowerGuide[0].y, 378);
  ExpectPoint(model.tracePoints[10], 28, 379);
  ExpectPoint(model.tracePoints[360 + 10], 388, 379);
}

TEST(PreviewModel, TracePointsPerStep) {
  struct Case {
    int32_t spwIndex;
    int32_t step;
    int32_t pointsPerCopy;
    int32_t lastEntry;
  };
  const Case cases[] = {
      {0, 1, 360, 359}, {1, 2, 180, 358}, {2, 4, 90, 356},   {3, 8, 45, 352},
      {4, 15, 24, 345}, {5, 1, 360, 359}, {-1, 1, 360, 359},
  };
  SampleTable table = Ramp();
  for (const Case &c : cases) {
    SCOPED_TRACE("spwIndex " + std::to_string(c.spwIndex));
    PreviewModel model = DefaultModel(table, c.spwIndex);
    EXPECT_EQ(model.step, c.step);
    ASSERT_EQ(model.firstCopyCount, c.pointsPerCopy);
    ASSERT_EQ(model.traceCount, 2 * c.pointsPerCopy);
    ExpectPoint(model.traceStart, 18, SampleToY(table.samples[0]));
    for (int32_t k = 0; k < c.pointsPerCopy; k++) {
      int32_t entry = k * c.step;
      ExpectPoint(model.tracePoints[k], 18 + entry, SampleToY(table.samples[entry]));
      ExpectPoint(model.tracePoints[c.pointsPerCopy + k], 378 + entry,
                  SampleToY(table.samples[entry]));
    }
    // The first line has no length; the seam joins the last entry of copy one to entry 0.
    ExpectPoint(model.tracePoints[0], model.traceStart.x, model.traceStart.y);
    ExpectPoint(model.tracePoints[c.pointsPerCopy - 1], 18 + c.lastEntry,
                SampleToY(table.samples[c.lastEntry]));
    ExpectPoint(model.tracePoints[c.pointsPerCopy], 378, SampleToY(table.samples[0]));
    ExpectPoint(model.tracePoints[2 * c.pointsPerCopy - 1], 378 + c.lastEntry,
                SampleToY(table.samples[c.lastEntry]));
  }
}

TEST(PreviewModel, Spw24JoiningSegment) {
  SampleTable table = Ramp();
  PreviewModel model = DefaultModel(table, 4);
  ASSERT_EQ(model.traceCount, 48);
  ExpectPoint(model.tracePoints[23], 363, SampleToY(table.samples[345]));
  ExpectPoint(model.tracePoints[24], 378, SampleToY(table.samples[0]));
  // Entries between the steps are skipped: 344 and 346 never appear.
  for (int32_t i = 0; i < model.traceCount; i++) {
    EXPECT_EQ((model.tracePoints[i].x - 18) % 15, 0) << "point " << i;
  }
}

TEST(PreviewModel, TraceColourFollowsDeviceRunning) {
  struct Case {
    int32_t deviceRunning;
    int red;
    int green;
  };
  const Case cases[] = {
      {0, 255, 0},
      {1, 0, 255},
      {-1, 0, 255},
      {0x55, 0, 255},
      {std::numeric_limits<int32_t>::min(), 0, 255},
  };
  SampleTable table = Ramp();
  PreviewModel stopped = DefaultModel(table, 2, 0);
  for (const Case &c : cases) {
    SCOPED_TRACE("deviceRunning " + std::to_string(c.deviceRunning));
    PreviewModel model = DefaultModel(table, 2, c.deviceRunning);
    ExpectColour(model.traceColour, c.red, c.green, 0);
    ExpectSameExceptTraceColour(model, stopped);
  }
}

TEST(PreviewModel, EqualArgumentsGiveEqualModels) {
  SampleTable table = Ramp();
  PreviewModel first = BuildPreviewModel(table.samples, 3, 1, 12345, 5, 2, 777);
  PreviewModel second = BuildPreviewModel(table.samples, 3, 1, 12345, 5, 2, 777);
  ExpectSameExceptTraceColour(first, second);
  EXPECT_EQ(0, memcmp(&first.traceColour, &second.traceColour, sizeof(first.traceColour)));
}

TEST(PreviewModel, VoltageReadouts) {
  struct Case {
    uint16_t amplitudeCode;
    uint8_t offsetCode;
    int32_t jumperIndex;
    const char *szMaximum;
    const char *szDcLevel;
    const char *szMinimum;
  };
  const Case cases[] = {
      {32767, 31, 0, "3.3", "0.", "-3.3"}, // the defaults
      {32767, 0, 0, "5.24e-002", "-3.25", "-6.55"},
      {32767, 62, 0, "6.55", "3.25", "-5.24e-002"},
      {255, 31, 3, "6.42e-003", "0.", "-6.42e-003"},
      {255, 30, 2, "-3.95e-002", "-5.24e-002", "-6.52e-002"},
      {32640, 40, 1, "3.17", "0.707", "-1.76"},
      {32767, 31, 2, "1.65", "0.", "-1.65"},
      {1000, 62, 3, "0.837", "0.812", "0.787"},
      {12345, 5, 2, "-0.74", "-1.36", "-1.98"},
      {32767, 31, -1, "3.3", "0.", "-3.3"}, // unknown jumper: gain 2
      {32767, 31, 4, "3.3", "0.", "-3.3"},
      {0, 31, 0, "0.", "0.", "0."},
      {65535, 31, 0, "6.6", "0.", "-6.6"},
  };
  SampleTable table = Filled(0x7FFF);
  for (const Case &c : cases) {
    SCOPED_TRACE("amplitude " + std::to_string(c.amplitudeCode) + " offset " +
                 std::to_string(c.offsetCode) + " jumper " + std::to_string(c.jumperIndex));
    PreviewModel model =
        BuildPreviewModel(table.samples, 0, 0, c.amplitudeCode, c.offsetCode, c.jumperIndex, 100);
    EXPECT_STREQ(model.szMaximum, c.szMaximum);
    EXPECT_STREQ(model.szDcLevel, c.szDcLevel);
    EXPECT_STREQ(model.szMinimum, c.szMinimum);
    // The table plays no part: a flat table still reads the codes' voltages.
    EXPECT_EQ(model.upperGuide[0].y, 250);
  }
}

TEST(PreviewModel, PeriodReadoutFromCodes) {
  struct Case {
    uint16_t frequencyCode;
    int32_t spwIndex;
    int32_t applies;
    const char *szPeriod;
  };
  const Case cases[] = {
      {100, 0, 1, "T=1.ms"}, // exactly 1 ms: the millisecond branch
      {7, 4, 1, "T=4.667\xB5s"},
      {65535, 0, 1, "T=655.4ms"},
      {7, 0, 1, "T=70.\xB5s"},
      {7, 3, 1, "T=8.75\xB5s"},
      {100, 4, 1, "T=66.67\xB5s"},
      {4096, 0, 1, "T=40.96ms"},
      {65535, 4, 1, "T=43.69ms"},
      {65535, 5, 1, "T=1.82ms"}, // unknown mode: 1 sample per wave
      {7, 5, 0, "T="},           // 0.194 us: below both ranges
      {7, -1, 0, "T="},
      {0, 0, 0, "T="}, // infinite frequency, zero period
  };
  SampleTable table = Filled(0x7FFF);
  for (const Case &c : cases) {
    SCOPED_TRACE("frequency " + std::to_string(c.frequencyCode) + " spw " +
                 std::to_string(c.spwIndex));
    PreviewModel model =
        BuildPreviewModel(table.samples, c.spwIndex, 0, 32767, 31, 0, c.frequencyCode);
    EXPECT_EQ(model.periodApplies, c.applies);
    EXPECT_STREQ(model.szPeriod, c.szPeriod);
  }
}

TEST(PreviewModel, PeriodTextRanges) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double period;
    int32_t applies;
    const char *szPeriod;
  };
  const Case cases[] = {
      {0.001, 1, "T=1.ms"},
      {std::nextafter(0.001, 0.0), 1, "T=1000.\xB5s"},
      {std::nextafter(1.0, 0.0), 1, "T=1000.ms"},
      {0.5, 1, "T=500.ms"},
      {1.0, 0, "T="},
      {2.5, 0, "T="},
      {0.000001, 1, "T=1.\xB5s"},
      {std::nextafter(0.000001, 0.0), 0, "T="},
      {0.0, 0, "T="},
      {-0.002, 0, "T="},
      {inf, 0, "T="},
      {-inf, 0, "T="},
      {std::numeric_limits<double>::quiet_NaN(), 0, "T="},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.period);
    char szPeriod[kPreviewTextSize];
    memset(szPeriod, 0x5A, sizeof(szPeriod));
    EXPECT_EQ(FormatPeriodText(c.period, szPeriod, sizeof(szPeriod)), c.applies);
    EXPECT_STREQ(szPeriod, c.szPeriod);
    // Zero bytes to the end of the buffer, as the field text is assembled in place.
    size_t length = strlen(szPeriod);
    for (size_t i = length; i < sizeof(szPeriod); i++) {
      ASSERT_EQ(szPeriod[i], '\0') << "byte " << i;
    }
  }
}

TEST(PreviewModel, MicroSignIsOneByte) {
  char szPeriod[kPreviewTextSize];
  ASSERT_EQ(FormatPeriodText(0.000004, szPeriod, sizeof(szPeriod)), 1);
  ASSERT_EQ(strlen(szPeriod), 6u); // "T=4." + 0xB5 + "s"
  EXPECT_EQ(static_cast<unsigned char>(szPeriod[4]), 0xB5);
  EXPECT_EQ(szPeriod[5], 's');
}

TEST(PreviewModel, PeriodTextStaysInsideSmallBuffers) {
  struct Case {
    size_t size;
    const char *szPeriod;
  };
  const Case cases[] = {
      {1, ""}, {2, "T"}, {3, "T="}, {4, "T=6"}, {8, "T=655.4"}, {9, "T=655.4m"}, {10, "T=655.4ms"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.size);
    char aGuarded[32];
    memset(aGuarded, 0x5A, sizeof(aGuarded));
    FormatPeriodText(0.65535, aGuarded, c.size);
    EXPECT_STREQ(aGuarded, c.szPeriod);
    for (size_t i = c.size; i < sizeof(aGuarded); i++) {
      ASSERT_EQ(aGuarded[i], 0x5A) << "byte " << i << " written past the bound";
    }
  }
  char aUntouched[4] = {0x5A, 0x5A, 0x5A, 0x5A};
  EXPECT_EQ(FormatPeriodText(0.001, aUntouched, 0), 0);
  EXPECT_EQ(aUntouched[0], 0x5A);
}

} // namespace
