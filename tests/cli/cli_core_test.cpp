// The portable rules of varnoltctl: the nearest-code solver, the number and table-file parsers
// and the report wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "cli/nearest_code.h"
#include "cli/report_wait.h"
#include "cli/si_number.h"
#include "cli/table_file.h"
#include "signal/settings.h"

namespace {

// Checks `code` against every code of the range: none lies closer to target, and one as close
// is not lower.
template <typename Convert>
void ExpectNearest(Convert convert, uint32_t code, uint32_t lowest, uint32_t highest,
                   double target) {
  double distance = std::fabs(convert(code) - target);
  for (uint32_t other = lowest; other <= highest; other++) {
    double otherDistance = std::fabs(convert(other) - target);
    ASSERT_FALSE(otherDistance < distance || (otherDistance == distance && other < code))
        << "target " << target << ": code " << other << " beats " << code;
  }
}

// Targets across and beyond a range: code values, midpoints of neighbours (ties) and a spread.
std::vector<double> Targets(double (*value)(uint32_t, int32_t), int32_t index, uint32_t lowest,
                            uint32_t highest) {
  std::vector<double> targets;
  for (uint32_t code : {lowest, lowest + 1, (lowest + highest) / 2, highest - 1, highest}) {
    double here = value(code, index);
    double next = value(code < highest ? code + 1 : code - 1, index);
    targets.insert(targets.end(), {here, (here + next) / 2.0, here + (next - here) * 0.4999});
  }
  double low = value(lowest, index), high = value(highest, index);
  for (int32_t step = -2; step <= 22; step++) targets.push_back(low + (high - low) * step / 20.0);
  return targets;
}

double Frequency(uint32_t code, int32_t spw) {
  return FrequencyFromCode(code, spw);
}
double Offset(uint32_t code, int32_t jumper) {
  return OffsetFromCode(code, jumper);
}
double Amplitude(uint32_t code, int32_t jumper) {
  return AmplitudeFromCode(code, jumper);
}

TEST(NearestCode, NoOtherCodeOfTheRangeIsCloser) {
  for (int32_t spw = 0; spw < kSpwModes; spw++) {
    std::vector<double> targets = Targets(Frequency, spw, kFrequencyCodeLowest, 400);
    for (double hz : {1000.0, 2500.0, 12345.678, 1.6, 33.3}) targets.push_back(hz);
    for (double target : targets) {
      ExpectNearest([spw](uint32_t c) { return Frequency(c, spw); },
                    NearestFrequencyCode(target, spw), kFrequencyCodeLowest, kFrequencyCodeHighest,
                    target);
    }
  }
  for (int32_t jumper = 0; jumper < kJumpers; jumper++) {
    for (double target : Targets(Offset, jumper, kOffsetCodeLowest, kOffsetCodeHighest)) {
      ExpectNearest([jumper](uint32_t c) { return Offset(c, jumper); },
                    NearestOffsetCode(target, jumper), kOffsetCodeLowest, kOffsetCodeHighest,
                    target);
    }
    for (double target : Targets(Amplitude, jumper, kAmplitudeCodeLowest, kAmplitudeCodeHighest)) {
      ExpectNearest([jumper](uint32_t c) { return Amplitude(c, jumper); },
                    NearestAmplitudeCode(target, jumper), kAmplitudeCodeLowest,
                    kAmplitudeCodeHighest, target);
    }
  }
}

TEST(NearestCode, ModeWithTheClosestCodeRelativeTieToMoreSamples) {
  // 1000 Hz is exact in every mode: the tie goes to 360 SPW.
  EXPECT_EQ(ChooseSpwIndex(1000.0), 0);
  for (double hz : {1.6, 20.0, 1234.5, 14285.7, 15000.0, 99999.0, 214285.0}) {
    int32_t chosen = ChooseSpwIndex(hz);
    double chosenError = 2.0;
    std::vector<double> best(kSpwModes, 2.0);
    for (int32_t spw = 0; spw < kSpwModes; spw++) {
      for (uint32_t code = kFrequencyCodeLowest; code <= kFrequencyCodeHighest; code++) {
        best[spw] = std::fmin(best[spw], std::fabs(Frequency(code, spw) - hz) / hz);
      }
    }
    chosenError = best[chosen];
    for (int32_t spw = 0; spw < kSpwModes; spw++) {
      EXPECT_FALSE(best[spw] < chosenError || (best[spw] == chosenError && spw < chosen))
          << hz << " Hz: mode " << spw << " beats " << chosen;
    }
  }
}

TEST(NearestCode, RangeHasARelativeSlackOf1e9) {
  struct Case {
    double value, lowest, highest;
    RangeCheck expected;
  } cases[] = {
      {214285.7142857143 * (1 + 0.9e-9), 1.5, 214285.7142857143, kInRange},
      {214285.7142857143 * (1 + 1.1e-9), 1.5, 214285.7142857143, kAboveRange},
      {1.5 * (1 - 0.9e-9), 1.5, 2.0, kInRange},
      {1.5 * (1 - 1.1e-9), 1.5, 2.0, kBelowRange},
      {-3.25 * (1 + 0.9e-9), -3.25, 3.25, kInRange},
      {-3.25 * (1 + 1.1e-9), -3.25, 3.25, kBelowRange},
      {std::nan(""), -1.0, 1.0, kAboveRange},
  };
  for (const Case &c : cases)
    EXPECT_EQ(CheckRange(c.value, c.lowest, c.highest), c.expected) << c.value;
}

TEST(SiNumber, DecimalsExponentsAndSuffixes) {
  struct Case {
    const char *szText;
    double value;
  } good[] = {{"2.5k", 2500.0}, {"500m", 0.5},
              {"1e-3", 0.001},  {"0.1k", 100.0},
              {"-1.5", -1.5},   {"+3", 3.0},
              {"1E3", 1000.0},  {"1u", 1e-6},
              {"2M", 2e6},      {".5", 0.5},
              {"5.", 5.0},      {"3e2k", 3e5},
              {"0", 0.0},       {"1e-99999999999", 0.0}};
  for (const Case &c : good) {
    double value = -7.0;
    EXPECT_TRUE(ParseSiNumber(c.szText, &value)) << c.szText;
    EXPECT_EQ(value, c.value) << c.szText;
  }
  const char *bad[] = {"",    "k",   ".",   "-",     "1e", "1e+", "1.2.3", "1 k", "1K", "0x10",
                       "inf", "nan", "1kk", "1e999", " 1", "1 ",  "1,5",   "e5",  "1m3"};
  for (const char *szText : bad) {
    double value = -7.0;
    EXPECT_FALSE(ParseSiNumber(szText, &value)) << szText;
    EXPECT_EQ(value, -7.0) << szText;
  }
  std::string longText(kSiNumberMaxText + 1, '1');
  double value = 0.0;
  EXPECT_FALSE(ParseSiNumber(longText.c_str(), &value));
}

TEST(SiNumber, WholeNumbers) {
  uint32_t value = 0;
  EXPECT_TRUE(ParseWholeNumber("65535", &value));
  EXPECT_EQ(value, 65535u);
  EXPECT_TRUE(ParseWholeNumber("99999999999999999999", &value));
  EXPECT_EQ(value, 4294967295u);
  for (const char *szText : {"", "-1", "+1", "1.0", "1e3", " 7", "7 ", "x"}) {
    EXPECT_FALSE(ParseWholeNumber(szText, &value)) << szText;
  }
}

TEST(TableFile, SeparatorsCommentsAndBlankLines) {
  std::string text = "# a table\n\n  # indented comment\r\n";
  for (int32_t i = 0; i < 360; i++) {
    text += std::to_string(i * 182) + (i % 3 == 0 ? ",\t" : i % 3 == 1 ? " ; " : "\r\n");
  }
  uint16_t samples[360] = {};
  int32_t line = 0;
  char szReason[kTableReasonSize] = "";
  ASSERT_TRUE(ParseTableText(text.data(), text.size(), samples, &line, szReason, sizeof szReason))
      << szReason;
  for (int32_t i = 0; i < 360; i++) ASSERT_EQ(samples[i], i * 182);
}

TEST(TableFile, FaultsNameTheLineAndWhy) {
  std::string good;
  for (int32_t i = 0; i < 360; i++) good += "1\n";
  struct Case {
    std::string text;
    int32_t line;
    const char *szReason;
  } cases[] = {
      {"1\n2\n3 abc\n", 3, "\"abc\" is not a whole number"},
      {"1\n-1\n", 2, "\"-1\" is not a whole number"},
      {"\n65536\n", 2, "65536 is above 65535"},
      {"99999999999999999999\n", 1, "99999999999999999999 is above 65535"},
      {good + "1\n", 361, "more than 360 samples"},
      {good.substr(2), 359, "only 359 samples; a table has 360"},
      {"", 1, "only 0 samples; a table has 360"},
      {std::string("1\n2\x00", 4), 2, "\"2?\" is not a whole number"},
  };
  for (const Case &c : cases) {
    uint16_t samples[360];
    int32_t line = 0;
    char szReason[kTableReasonSize] = "";
    EXPECT_FALSE(
        ParseTableText(c.text.data(), c.text.size(), samples, &line, szReason, sizeof szReason));
    EXPECT_EQ(line, c.line) << c.szReason;
    EXPECT_STREQ(szReason, c.szReason);
  }
}

// A scripted line: each read returns the next chunk (after the time it was due) or waits.
struct FakeLine {
  std::vector<std::vector<uint8_t>> chunks;  // {0xFF, 0xFF} below means "gone"
  size_t next = 0;
  int64_t now = 0;
  std::vector<int32_t> waits;   // the wait each read was given
  std::vector<int64_t> leftAt;  // the time left when it was called
};

ReadResult FakeRead(void *context, uint8_t *aRxBuffer, uint32_t, int32_t waitMs) {
  FakeLine *line = static_cast<FakeLine *>(context);
  line->waits.push_back(waitMs);
  line->leftAt.push_back(std::max<int64_t>(0, 2000 - line->now));
  if (line->next == line->chunks.size()) {
    line->now += waitMs;
    return {kReadNothing, 0};
  }
  const std::vector<uint8_t> &chunk = line->chunks[line->next++];
  line->now += 10;
  if (chunk.size() == 2 && chunk[0] == 0xFF && chunk[1] == 0xFF) return {kReadGone, 0};
  memcpy(aRxBuffer, chunk.data(), chunk.size());
  return {kReadBytes, static_cast<uint32_t>(chunk.size())};
}

int64_t FakeNow(void *context) {
  return static_cast<FakeLine *>(context)->now;
}

TEST(ReportWait, OnlyTheLoneWantedByteCounts) {
  struct Case {
    std::vector<std::vector<uint8_t>> chunks;
    uint8_t report;
    WaitOutcome expected;
  } cases[] = {
      {{{0x55}}, 0x55, kWaitReport},
      {{{0x55, 0x00}, {0x00, 0x55}, {0xAA}, {0x55}}, 0x55, kWaitReport},
      {{{0x55, 0x00}, {0xAA}}, 0x55, kWaitTimedOut},
      {{{0x55}}, 0xAA, kWaitTimedOut},
      {{{0x00}, {0xFF, 0xFF}, {0x55}}, 0x55, kWaitGone},
      {{}, 0xAA, kWaitTimedOut},
  };
  for (const Case &c : cases) {
    FakeLine line;
    line.chunks = c.chunks;
    EXPECT_EQ(WaitForReport(FakeRead, FakeNow, &line, c.report, 2000), c.expected);
    // Each read is given the time that is left, and the wait ends at the time-out.
    for (size_t i = 0; i < line.waits.size(); i++) EXPECT_EQ(line.waits[i], line.leftAt[i]);
    if (c.expected == kWaitTimedOut) {
      EXPECT_EQ(line.now, 2000) << "read past the time-out";
    }
    EXPECT_LE(line.waits.size(), c.chunks.size() + 2) << "reads that waited for nothing";
  }
}

}  // namespace
