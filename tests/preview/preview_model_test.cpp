#include "preview/preview_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>

namespace {

struct SampleTable {
  uint16_t samples[360];
};

// A flat table, or with a slope distinct samples, so that a point from the wrong entry shows.
SampleTable Table(uint16_t first, uint16_t slope) {
  SampleTable table;
  for (int32_t i = 0; i < 360; i++) table.samples[i] = static_cast<uint16_t>(first + i * slope);
  return table;
}

PreviewModel DefaultModel(const SampleTable &table, int32_t spwIndex = 0, int32_t running = 0) {
  return BuildPreviewModel(table.samples, spwIndex, running, 32767, 31, 0, 100);
}

void ExpectPoint(const PreviewPoint &point, int32_t x, int32_t y) {
  EXPECT_TRUE(point.x == x && point.y == y)
      << point.x << "," << point.y << " not " << x << "," << y;
}

TEST(PreviewModel, GuidesAtTheLargestAndSmallestSample) {
  // One sample of a flat table changed; a smallest sample of 0 counts as 255.
  // clang-format off
  const struct {
    SampleTable table; int32_t entry; uint16_t value; uint16_t smallest; int32_t upperY, lowerY;
  } kCases[] = {
      {Table(0, 0), 0, 0, 255, 379, 378}, {Table(0x7FFF, 0), 10, 0, 255, 250, 378},
      {Table(1000, 0), 0, 1, 1, SampleToY(1000), 378},
      {Table(30000, 0), 359, 65535, 30000, 122, SampleToY(30000)}
  };
  // clang-format on
  for (const auto &c : kCases) {
    SampleTable table = c.table;
    table.samples[c.entry] = c.value;
    PreviewModel model = DefaultModel(table);
    EXPECT_EQ(model.smallestSample, c.smallest) << (&c - kCases);
    ExpectPoint(model.upperGuide[0], 18, c.upperY);
    ExpectPoint(model.upperGuide[1], 558, c.upperY);
    ExpectPoint(model.upperGuide[2], 668, 122);
    ExpectPoint(model.lowerGuide[0], 18, c.lowerY);
    ExpectPoint(model.lowerGuide[1], 558, c.lowerY);
    ExpectPoint(model.lowerGuide[2], 668, 378);
  }
}

// Each copy passes through 360 / samples-per-wave entries; the second copy follows without a move.
// The trace is red while stopped and green for any non-zero deviceRunning.
TEST(PreviewModel, TraceByStep) {
  EXPECT_EQ(DefaultModel(Table(0, 180), 0, -1).traceColour.green, 255);
  const int32_t kCases[][3] = {{0, 1, 359},  {1, 2, 358}, {2, 4, 356}, {3, 8, 352},
                               {4, 15, 345}, {5, 1, 359}, {-1, 1, 359}};
  SampleTable table = Table(0, 180);
  for (const auto &c : kCases) {
    SCOPED_TRACE(c[0]);
    PreviewModel model = DefaultModel(table, c[0]);
    const int32_t points = c[2] / c[1] + 1;
    EXPECT_EQ(model.step, c[1]);
    ASSERT_EQ(model.traceCount, 2 * points);
    ExpectPoint(model.traceStart, 18, SampleToY(table.samples[0]));
    ExpectPoint(model.tracePoints[1], 18 + c[1], SampleToY(table.samples[c[1]]));
    ExpectPoint(model.tracePoints[points - 1], 18 + c[2], SampleToY(table.samples[c[2]]));
    ExpectPoint(model.tracePoints[points], 378, SampleToY(table.samples[0]));
    ExpectPoint(model.tracePoints[2 * points - 1], 378 + c[2], SampleToY(table.samples[c[2]]));
  }
}

// The readouts come from the codes alone: offset + Vpp/2, offset, offset - Vpp/2, and the period.
TEST(PreviewModel, Readouts) {
  // clang-format off
  const struct {
    uint16_t amplitudeCode; uint8_t offsetCode; int32_t jumperIndex;
    uint16_t frequencyCode; int32_t spwIndex;
    const char *szTexts;  // maximum, DC level, minimum, period, whether the period applies
  } kCases[] = {
      {32767, 31, 0, 100, 0, "3.3 0. -3.3 T=1.ms 1"},  // T is exactly 1 ms
      {255, 30, 2, 7, 4, "-3.95e-002 -5.24e-002 -6.52e-002 T=4.667\xB5s 1"},
      {32767, 31, 0, 7, 5, "3.3 0. -3.3 T= 0"}};  // 0.194 us: no unit applies
  // clang-format on
  for (const auto &c : kCases) {
    SampleTable table = Table(0x7FFF, 0);
    PreviewModel model = BuildPreviewModel(table.samples, c.spwIndex, 0, c.amplitudeCode,
                                           c.offsetCode, c.jumperIndex, c.frequencyCode);
    EXPECT_EQ(std::string(model.szMaximum) + " " + model.szDcLevel + " " + model.szMinimum + " " +
                  model.szPeriod + " " + std::to_string(model.periodApplies),
              c.szTexts);
  }
}

// The unit's ranges at their edges, periods of no unit, and buffers smaller than the text.
TEST(PreviewModel, PeriodText) {
  // clang-format off
  const struct { double period; size_t size; const char *szPeriod; } kCases[] = {
      {std::nextafter(0.001, 0.0), 16, "T=1000.\xB5s"}, {std::nextafter(1.0, 0.0), 16, "T=1000.ms"},
      {0.000001, 16, "T=1.\xB5s"}, {1.0, 16, "T="}, {std::nextafter(0.000001, 0.0), 16, "T="},
      {std::numeric_limits<double>::quiet_NaN(), 16, "T="}, {0.65535, 1, ""},
      {0.65535, 4, "T=6"}, {0.65535, 10, "T=655.4ms"}};
  // clang-format on
  for (const auto &c : kCases) {
    char aGuarded[17];
    std::memset(aGuarded, 'Z', std::size(aGuarded));
    int32_t applies = FormatPeriodText(c.period, aGuarded, c.size);
    EXPECT_STREQ(aGuarded, c.szPeriod) << c.period;
    EXPECT_EQ(aGuarded[c.size], 'Z') << c.period << " in " << c.size;
    if (c.size == 16) {
      EXPECT_EQ(applies, std::strlen(c.szPeriod) > 2 ? 1 : 0) << c.period;
    }
  }
  char aUntouched[1] = {'Z'};
  EXPECT_EQ(FormatPeriodText(0.001, aUntouched, 0), 0);
  EXPECT_EQ(aUntouched[0], 'Z');
}

}  // namespace
