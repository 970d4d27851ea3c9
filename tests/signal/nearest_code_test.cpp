// Values in units to the nearest code, and numbers with SI suffixes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "signal/nearest_code.h"
#include "signal/settings.h"
#include "signal/si_number.h"

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
  EXPECT_EQ(CheckRange(std::nan(""), -1.0, 1.0), kAboveRange);
}

TEST(SiNumber, DecimalsExponentsAndSuffixes) {
  struct Case {
    const char *szText;
    double value;
  } good[] = {{"500m", 0.5}, {"1e-3", 0.001}, {"0.1k", 100.0}, {"-1.5", -1.5},
              {"1u", 1e-6},  {".5", 0.5},     {"3e2k", 3e5},   {"1e-99999999999", 0.0}};
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
  double value = 1.0;  // texts longer than 400 characters are refused, not cut
  EXPECT_TRUE(ParseSiNumber(std::string(kSiNumberMaxText, '0').c_str(), &value) && value == 0.0);
  EXPECT_FALSE(ParseSiNumber(std::string(kSiNumberMaxText + 1, '0').c_str(), &value));
}

TEST(SiNumber, WholeNumbers) {
  uint32_t value = 0;
  EXPECT_TRUE(ParseWholeNumber("99999999999999999999", &value) && value == 4294967295u);
  for (const char *szText : {"", "-1", "+1", "1.0", "1e3", " 7", "7 ", "x"}) {
    EXPECT_FALSE(ParseWholeNumber(szText, &value)) << szText;
  }
}

}  // namespace
