// The portable rules of varnoltctl: the nearest-code solver, the number and table-file parsers
// and the report wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "cli/nearest_code.h"
#include "cli/report_wait.h"
#include "cli/si_number.h"
#include "cli/table_file.h"
#include "signal/settings.h"

namespace {

// A quantity the solver finds codes for: its conversion, its solver and its code range.
struct Quantity {
  double (*value)(uint32_t code, int32_t index);
  uint32_t (*nearest)(double target, int32_t index);
  uint32_t lowest, highest;
  int32_t indexes;  // modes or jumpers
};

const Quantity kQuantities[] = {
    {[](uint32_t c, int32_t i) { return FrequencyFromCode(c, i); },
     [](double v, int32_t i) -> uint32_t { return NearestFrequencyCode(v, i); }, 7, 65535, 5},
    {[](uint32_t c, int32_t i) { return OffsetFromCode(c, i); },
     [](double v, int32_t i) -> uint32_t { return NearestOffsetCode(v, i); }, 0, 62, 4},
    {[](uint32_t c, int32_t i) { return AmplitudeFromCode(c, i); },
     [](double v, int32_t i) -> uint32_t { return NearestAmplitudeCode(v, i); }, 255, 32767, 4},
};

TEST(NearestCode, NoOtherCodeOfTheRangeIsCloserAndTiesGoLower) {
  for (const Quantity &q : kQuantities) {
    for (int32_t index = 0; index < q.indexes; index++) {
      // Codes, (nearly) exact midpoints of neighbours (ties), a spread across and beyond the range.
      std::vector<double> targets;
      for (uint32_t code : {q.lowest, q.lowest + 1, (q.lowest + q.highest) / 2, q.highest - 1}) {
        double here = q.value(code, index), next = q.value(code + 1, index);
        targets.insert(targets.end(), {here, (here + next) / 2.0, here + (next - here) * 0.4999});
      }
      double low = q.value(q.lowest, index), high = q.value(q.highest, index);
      for (int32_t step = -2; step <= 22; step++) {
        targets.push_back(low > 0 ? low * std::pow(high / low, step / 20.0)
                                  : low + (high - low) * step / 20.0);
      }
      for (double target : targets) {
        uint32_t code = q.nearest(target, index);
        double distance = std::fabs(q.value(code, index) - target);
        for (uint32_t other = q.lowest; other <= q.highest; other++) {
          double otherDistance = std::fabs(q.value(other, index) - target);
          ASSERT_FALSE(otherDistance < distance || (otherDistance == distance && other < code))
              << "target " << target << " at " << index << ": " << other << " beats " << code;
        }
      }
    }
  }
}

// ChooseSpwIndex (the mode whose nearest code is closest, a tie to more samples): through FREQ
// and FREQ:SPW? in scpi_test.cpp, at frequencies whose mode is known without a search.

TEST(NearestCode, RangeHasARelativeSlackOf1e9) {
  const double kHigh = 214285.7142857143;
  EXPECT_EQ(CheckRange(kHigh * (1 + 0.9e-9), 1.5, kHigh), kInRange);
  EXPECT_EQ(CheckRange(kHigh * (1 + 1.1e-9), 1.5, kHigh), kAboveRange);
  EXPECT_EQ(CheckRange(1.5 * (1 - 0.9e-9), 1.5, kHigh), kInRange);
  EXPECT_EQ(CheckRange(1.5 * (1 - 1.1e-9), 1.5, kHigh), kBelowRange);
  EXPECT_EQ(CheckRange(-3.25 * (1 + 0.9e-9), -3.25, 3.25), kInRange);
  EXPECT_EQ(CheckRange(-3.25 * (1 + 1.1e-9), -3.25, 3.25), kBelowRange);
  EXPECT_EQ(CheckRange(std::nan(""), -1.0, 1.0), kAboveRange);
}

TEST(SiNumber, DecimalsExponentsAndSuffixes) {
  struct Case {
    const char *szText;
    double value;
  } good[] = {{"2.5k", 2500.0}, {"500m", 0.5},          {"1e-3", 0.001}, {"0.1k", 100.0},
              {"-1.5", -1.5},   {"1u", 1e-6},           {"2M", 2e6},     {".5", 0.5},
              {"3e2k", 3e5},    {"1e-99999999999", 0.0}};
  for (const Case &c : good) {
    double value = -7.0;
    EXPECT_TRUE(ParseSiNumber(c.szText, &value)) << c.szText;
    EXPECT_EQ(value, c.value) << c.szText;
  }
  for (const char *szText : {"", "k", ".", "1e", "1.2.3", "1 k", "1K", "0x10", "inf", "nan", "1kk",
                             "1e999", " 1", "1m3"}) {
    double value = -7.0;
    EXPECT_FALSE(ParseSiNumber(szText, &value)) << szText;
    EXPECT_EQ(value, -7.0) << szText;
  }
}

TEST(SiNumber, WholeNumbers) {
  uint32_t value = 0;
  EXPECT_TRUE(ParseWholeNumber("65535", &value) && value == 65535u);
  EXPECT_TRUE(ParseWholeNumber("99999999999999999999", &value) && value == 4294967295u);
  for (const char *szText : {"", "-1", "+1", "1.0", "1e3", " 7", "7 ", "x"}) {
    EXPECT_FALSE(ParseWholeNumber(szText, &value)) << szText;
  }
}

TEST(TableFile, SeparatorsCommentsAndFaultsNamingTheLineAndWhy) {
  std::string good, mixed = "# a table\n\n  # indented comment\r\n";
  for (int32_t i = 0; i < 360; i++) {
    good += "1\n";
    mixed += std::to_string(i * 182) + (i % 3 == 0 ? ",\t" : i % 3 == 1 ? " ; " : "\r\n");
  }
  uint16_t samples[360] = {};
  int32_t line = 0;
  char szReason[kTableReasonSize] = "";
  ASSERT_TRUE(
      ParseTableText(mixed.data(), mixed.size(), samples, &line, szReason, std::size(szReason)));
  for (int32_t i = 0; i < 360; i++) ASSERT_EQ(samples[i], i * 182);
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
      {"1\n2", 2, "only 2 samples; a table has 360"},
      {std::string("1\n2\x00", 4), 2, "\"2?\" is not a whole number"},
  };
  for (const Case &c : cases) {
    EXPECT_FALSE(ParseTableText(c.text.data(), c.text.size(), samples, &line, szReason,
                                std::size(szReason)));
    EXPECT_EQ(line, c.line) << c.szReason;
    EXPECT_STREQ(szReason, c.szReason);
  }
}

// Each read returns the next chunk ("gone": the device went away) 10 ms later, else waits it out.
struct FakeLine {
  std::vector<std::string> chunks;
  size_t next = 0;
  int64_t now = 0;
  std::vector<std::pair<int32_t, int64_t>> waits;
};

ReadResult FakeRead(void *context, uint8_t *aRxBuffer, uint32_t, int32_t waitMs) {
  FakeLine *line = static_cast<FakeLine *>(context);
  line->waits.push_back({waitMs, std::max<int64_t>(0, 2000 - line->now)});
  if (line->next == line->chunks.size()) {
    line->now += waitMs;
    return {kReadNothing, 0};
  }
  const std::string &chunk = line->chunks[line->next++];
  line->now += 10;
  if (chunk == "gone") return {kReadGone, 0};
  memcpy(aRxBuffer, chunk.data(), chunk.size());
  return {kReadBytes, static_cast<uint32_t>(chunk.size())};
}

int64_t FakeNow(void *context) {
  return static_cast<FakeLine *>(context)->now;
}

TEST(ReportWait, OnlyTheLoneWantedByteCounts) {
  struct Case {
    std::vector<std::string> chunks;
    uint8_t report;
    WaitOutcome expected;
  } cases[] = {
      {{"U"}, 0x55, kWaitReport},
      {{std::string("U\0", 2), "\xAA", "U"}, 0x55, kWaitReport},
      {{"U\xAA", "\xAA"}, 0x55, kWaitTimedOut},
      {{"U"}, 0xAA, kWaitTimedOut},
      {{"x", "gone", "U"}, 0x55, kWaitGone},
      {{}, 0xAA, kWaitTimedOut},
  };
  for (const Case &c : cases) {
    FakeLine line;
    line.chunks = c.chunks;
    EXPECT_EQ(WaitForReport(FakeRead, FakeNow, &line, c.report, 2000), c.expected);
    // Each read is given the time left; no reads but those with bytes, one to wait, a last look.
    for (auto [waitMs, leftMs] : line.waits) EXPECT_EQ(waitMs, leftMs);
    EXPECT_TRUE(c.expected != kWaitTimedOut || line.now == 2000) << line.now;
    EXPECT_LE(line.waits.size(), c.chunks.size() + 2);
  }
}

}  // namespace
