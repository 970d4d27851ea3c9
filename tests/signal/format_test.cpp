#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "signal/format.h"
#include "signal/settings.h"
#include "tests/signal/format_reference.h"

namespace {

std::string Format(double value, int digits) {
  char szText[349];
  FormatSignificant(value, digits, szText, sizeof szText);
  return szText;
}

uint64_t NextMix(uint64_t &state) { // splitmix64
  state += 0x9E3779B97F4A7C15ull;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

double FromBits(uint64_t bits) {
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

struct FormatCase {
  double value;
  int digits;
  const char *szExpected;
};

const FormatCase kFormatCases[] = {
    // the panel's worked values
    {1000.0, 8, "1000."},
    {14285.714285714286, 8, "14285.714"},
    {214285.7142857143, 8, "214285.71"},
    {1.525902189669642, 8, "1.5259022"},
    {12500.0, 8, "12500."},
    {0.0, 3, "0."},
    {-3.247619047619047, 3, "-3.25"},
    {0.8119047619047618, 3, "0.812"},
    {0.10476190476190475, 3, "0.105"},
    {-0.052380952380952375, 3, "-5.24e-002"},
    {6.6, 3, "6.6"},
    {6.574419385357219, 3, "6.57"},
    {0.012840662862025818, 3, "1.28e-002"},
    {3.3, 3, "3.3"},
    {-3.3, 3, "-3.3"},
    {1.0, 4, "1."},
    {4.666666666666667, 4, "4.667"},
    // exact ties go away from zero, on both signs
    {24.4140625, 8, "24.414063"},
    {-24.4140625, 8, "-24.414063"},
    {0.125, 2, "0.13"},
    {-0.125, 2, "-0.13"},
    {2.5, 1, "3."},
    {-2.5, 1, "-3."},
    {12345.0, 4, "1.235e+004"},
    {0.0625, 3, "6.25e-002"},
    {0.0625, 2, "6.3e-002"},
    // a carry that adds a digit moves the exponent
    {9.96, 2, "10."},
    {9999.5, 4, "1.e+004"},
    {0.0999999, 3, "0.1"},
    {0.0999, 3, "9.99e-002"},
    {99.96, 3, "100."},
    {999.6, 3, "1.e+003"},
    // the exponent switch: below -1, above n - 1
    {0.1, 3, "0.1"},
    {0.09, 3, "9.e-002"},
    {0.05, 1, "5.e-002"},
    {0.5, 1, "0.5"},
    {123.0, 3, "123."},
    {1234.0, 3, "1.23e+003"},
    {99999999.0, 8, "99999999."},
    {123456789.0, 8, "1.2345679e+008"},
    {5142857.142857143, 8, "5142857.1"},
    // zero, signed zero, extremes
    {0.0, 17, "0."},
    {-0.0, 3, "-0."},
    {-1000.0, 8, "-1000."},
    {4.9406564584124654e-324, 17, "4.9406564584124654e-324"},
    {4.9406564584124654e-324, 1, "5.e-324"},
    {1.7976931348623157e308, 17, "1.7976931348623157e+308"},
    {1.7976931348623157e308, 1, "2.e+308"},
    {2.2250738585072014e-308, 5, "2.2251e-308"},
    {1e300, 17, "1.0000000000000001e+300"},
    {0.1, 17, "0.10000000000000001"},
    {1.0 / 3.0, 17, "0.33333333333333331"},
    // digit counts outside 1..17 are held to the nearest end
    {1234.5678, 0, "1.e+003"},
    {1234.5678, -5, "1.e+003"},
    {1.0 / 3.0, 40, "0.33333333333333331"},
    // what a user expects to read for the values that are not numbers
    {std::numeric_limits<double>::quiet_NaN(), 8, "nan"},
    {std::numeric_limits<double>::infinity(), 8, "inf"},
    {-std::numeric_limits<double>::infinity(), 3, "-inf"},
};

TEST(FormatSignificant, WorkedAndEdgeValues) {
  for (const FormatCase &c : kFormatCases) {
    EXPECT_EQ(Format(c.value, c.digits), c.szExpected) << c.value << " at " << c.digits;
  }
}

TEST(FormatSignificant, ReferenceAgreesOnTheWorkedValues) {
  // The reference is only worth comparing against if it reads the fixed cases alike.
  for (const FormatCase &c : kFormatCases) {
    EXPECT_EQ(ReferenceSignificant(c.value, c.digits), c.szExpected) << c.value;
  }
}

TEST(FormatSignificant, OneBitBelowATieRoundsDown) {
  EXPECT_EQ(Format(std::nextafter(24.4140625, 0.0), 8), "24.414062");
  EXPECT_EQ(Format(std::nextafter(-24.4140625, 0.0), 8), "-24.414062");
  EXPECT_EQ(Format(std::nextafter(24.4140625, 100.0), 8), "24.414063");
  EXPECT_EQ(Format(std::nextafter(0.125, 0.0), 2), "0.12");
  EXPECT_EQ(Format(std::nextafter(2.5, 0.0), 1), "2.");
  EXPECT_EQ(Format(std::nextafter(12345.0, 0.0), 4), "1.234e+004");
}

TEST(FormatSignificant, TinyBuffersAreBoundedAndTerminated) {
  char aBuffer[16];
  std::memset(aBuffer, 'x', sizeof aBuffer);
  FormatSignificant(1000.0, 8, aBuffer, 0);
  EXPECT_EQ(aBuffer[0], 'x'); // nothing written at all

  FormatSignificant(1000.0, 8, aBuffer, 1);
  EXPECT_EQ(aBuffer[0], '\0');
  EXPECT_EQ(aBuffer[1], 'x');

  std::memset(aBuffer, 'x', sizeof aBuffer);
  FormatSignificant(1000.0, 8, aBuffer, 2);
  EXPECT_STREQ(aBuffer, "1");
  EXPECT_EQ(aBuffer[2], 'x');

  std::memset(aBuffer, 'x', sizeof aBuffer);
  FormatSignificant(-0.052380952380952375, 3, aBuffer, 5);
  EXPECT_STREQ(aBuffer, "-5.2");
  EXPECT_EQ(aBuffer[5], 'x');

  std::memset(aBuffer, 'x', sizeof aBuffer);
  FormatSignificant(-0.052380952380952375, 3, aBuffer, 11); // exactly fits
  EXPECT_STREQ(aBuffer, "-5.24e-002");
  EXPECT_EQ(aBuffer[11], 'x');

  std::memset(aBuffer, 'x', sizeof aBuffer);
  FormatSignificant(-std::numeric_limits<double>::infinity(), 3, aBuffer, 3);
  EXPECT_STREQ(aBuffer, "-i");
  EXPECT_EQ(aBuffer[3], 'x');

  FormatSignificant(1.0, 3, nullptr, 10); // no buffer: nothing to do, no crash
}

TEST(FormatSignificant, LongestTextFitsItsField) {
  // The longest text of any value is 24 characters, far inside the 349-byte fields.
  double longest = -1.2345678901234567e-300;
  std::string text = Format(longest, 17);
  EXPECT_EQ(text.size(), 24u) << text;
  EXPECT_EQ(text, ReferenceSignificant(longest, 17));
}

// Every text the panel can show, against the reference.
TEST(FormatSignificant, WholeFrequencyCodeSpace) {
  int checked = 0;
  for (int32_t spwIndex = -1; spwIndex <= 5; spwIndex++) {
    for (uint32_t code = 7; code <= 65535; code++) {
      double hertz = FrequencyFromCode(static_cast<uint16_t>(code), spwIndex);
      std::string text = Format(hertz, 8);
      if (text != ReferenceSignificant(hertz, 8)) {
        ADD_FAILURE() << "frequency code " << code << " spw " << spwIndex << ": " << text;
        return;
      }
      // The period readout, scaled as the preview scales it.
      double period = 1.0 / hertz;
      double shown = period;
      bool inRange = false;
      if (period < 1 && period >= 0.001) {
        shown = period * 1000;
        inRange = true;
      } else if (period < 0.001 && period >= 0.000001) {
        shown = period * 1000000;
        inRange = true;
      }
      if (inRange) {
        text = Format(shown, 4);
        if (text != ReferenceSignificant(shown, 4)) {
          ADD_FAILURE() << "period of code " << code << " spw " << spwIndex << ": " << text;
          return;
        }
      }
      checked++;
    }
  }
  EXPECT_EQ(checked, 7 * 65529);
}

TEST(FormatSignificant, WholeOffsetAndAmplitudeCodeSpace) {
  for (int32_t jumperIndex = -1; jumperIndex <= 4; jumperIndex++) {
    for (uint32_t code = 0; code <= 255; code++) {
      double volts = OffsetFromCode(static_cast<uint8_t>(code), jumperIndex);
      ASSERT_EQ(Format(volts, 3), ReferenceSignificant(volts, 3))
          << "offset code " << code << " jumper " << jumperIndex;
    }
    for (uint32_t code = 0; code <= 65535; code++) {
      double volts = AmplitudeFromCode(static_cast<uint16_t>(code), jumperIndex);
      ASSERT_EQ(Format(volts, 3), ReferenceSignificant(volts, 3))
          << "amplitude code " << code << " jumper " << jumperIndex;
    }
  }
}

TEST(FormatSignificant, ReadoutVoltagesOfThePanelRange) {
  // offset +/- Vpp/2 for every offset code and a spread of amplitude codes
  for (int32_t jumperIndex = 0; jumperIndex <= 3; jumperIndex++) {
    for (uint32_t offsetCode = 0; offsetCode <= 62; offsetCode++) {
      double offset = OffsetFromCode(static_cast<uint8_t>(offsetCode), jumperIndex);
      for (uint32_t amplitudeCode = 255; amplitudeCode <= 32767; amplitudeCode += 127) {
        double half = AmplitudeFromCode(static_cast<uint16_t>(amplitudeCode), jumperIndex) / 2.0;
        double top = half + offset;
        double bottom = offset - half;
        ASSERT_EQ(Format(top, 3), ReferenceSignificant(top, 3)) << top;
        ASSERT_EQ(Format(bottom, 3), ReferenceSignificant(bottom, 3)) << bottom;
      }
    }
  }
}

TEST(FormatSignificant, RandomDoublesAtEveryDigitCount) {
  uint64_t state = 20261206;
  int mismatches = 0;
  for (int i = 0; i < 300000 && mismatches < 5; i++) {
    uint64_t bits = NextMix(state);
    double value;
    if (i % 3 == 0) {
      value = FromBits(bits); // any pattern: the whole exponent range, subnormals included
      if (!std::isfinite(value)) {
        continue;
      }
    } else {
      // the magnitudes of the panel, from a microvolt to a megahertz
      double unit = static_cast<double>(bits >> 11) / 9007199254740992.0;
      value = std::pow(10.0, -7.0 + 14.0 * unit);
      if (bits & 1) {
        value = -value;
      }
    }
    int digits = 1 + static_cast<int>(NextMix(state) % 17);
    std::string text = Format(value, digits);
    std::string expected = ReferenceSignificant(value, digits);
    if (text != expected) {
      ADD_FAILURE() << std::hexfloat << value << " at " << digits << ": " << text << " not "
                    << expected;
      mismatches++;
    }
  }
}

TEST(FormatSignificant, ExactTiesAndTheirNeighbours) {
  // odd / 2^j ends in a 5 at its last place, so at one digit fewer it is an exact tie.
  uint64_t state = 7;
  int ties = 0;
  for (int i = 0; i < 60000; i++) {
    uint64_t odd = (NextMix(state) % (1u << 20)) | 1u;
    int shift = 1 + static_cast<int>(NextMix(state) % 20);
    double value = std::ldexp(static_cast<double>(odd), -shift);
    std::string all = ReferenceSignificant(value, 17);
    // significant digits of the exact value (at most 17 here means the 17-digit text is exact)
    std::string mantissa = all.substr(0, all.find('e'));
    int significant = 0;
    bool started = false;
    for (char c : mantissa) {
      if (c >= '1' && c <= '9') {
        started = true;
      }
      if (started && c >= '0' && c <= '9') {
        significant++;
      }
    }
    if (significant < 2 || significant > 17) {
      continue;
    }
    int digits = significant - 1;
    if (i % 2 != 0) {
      value = -value;
    }
    ASSERT_EQ(Format(value, digits), ReferenceSignificant(value, digits)) << value;
    double below = std::nextafter(value, 0.0);
    ASSERT_EQ(Format(below, digits), ReferenceSignificant(below, digits)) << below;
    double above = std::nextafter(value, value * 2);
    ASSERT_EQ(Format(above, digits), ReferenceSignificant(above, digits)) << above;
    ties++;
  }
  EXPECT_GT(ties, 10000);
}

// A second, independent expansion: the library's exact scientific form, rounded half away from
// zero by hand. The digits and exponent of the program's text must match it.
std::string LibraryRoundedDigits(double magnitude, int n, int *exponent) {
  static char szExact[1200];
  std::to_chars_result result = std::to_chars(szExact, szExact + sizeof szExact - 1, magnitude,
                                              std::chars_format::scientific, 800);
  *result.ptr = '\0';
  std::string digits;
  const char *cursor = szExact;
  for (; *cursor != '\0' && *cursor != 'e'; cursor++) {
    if (*cursor != '.') {
      digits += *cursor;
    }
  }
  *exponent = std::atoi(cursor + 1);
  std::string kept = digits.substr(0, static_cast<size_t>(n));
  if (digits[static_cast<size_t>(n)] >= '5') {
    int i = n - 1;
    while (i >= 0 && kept[static_cast<size_t>(i)] == '9') {
      kept[static_cast<size_t>(i)] = '0';
      i--;
    }
    if (i < 0) {
      kept = "1" + kept.substr(0, static_cast<size_t>(n - 1));
      *exponent += 1;
    } else {
      kept[static_cast<size_t>(i)]++;
    }
  }
  while (kept.size() > 1 && kept.back() == '0') {
    kept.pop_back();
  }
  return kept;
}

// The significant digits (no trailing zeros) and the power of ten of the first, read back from a
// text of the program.
std::string DigitsOfText(const std::string &text, int *exponent) {
  size_t e = text.find('e');
  std::string mantissa = text.substr(text[0] == '-' ? 1 : 0, e == std::string::npos ? e : e - (text[0] == '-' ? 1 : 0));
  size_t point = mantissa.find('.');
  std::string digits = mantissa.substr(0, point) + mantissa.substr(point + 1);
  int firstPower = static_cast<int>(point) - 1;
  size_t lead = 0;
  while (lead + 1 < digits.size() && digits[lead] == '0') {
    lead++;
  }
  digits = digits.substr(lead);
  firstPower -= static_cast<int>(lead);
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }
  *exponent = e == std::string::npos ? firstPower : std::atoi(text.c_str() + e + 1);
  return digits;
}

TEST(FormatSignificant, AgreesWithTheLibrarysExactExpansion) {
  uint64_t state = 424242;
  int mismatches = 0;
  for (int i = 0; i < 100000 && mismatches < 5; i++) {
    double value = FromBits(NextMix(state) & 0x7FFFFFFFFFFFFFFFull);
    if (!std::isfinite(value) || value == 0.0) {
      continue;
    }
    int digits = 1 + static_cast<int>(NextMix(state) % 17);
    int expectedExponent = 0;
    std::string expected = LibraryRoundedDigits(value, digits, &expectedExponent);
    int exponent = 0;
    std::string text = Format(value, digits);
    std::string got = DigitsOfText(text, &exponent);
    if (got != expected || exponent != expectedExponent) {
      ADD_FAILURE() << std::hexfloat << value << " at " << digits << ": " << text << " not "
                    << expected << "e" << expectedExponent;
      mismatches++;
    }
  }
}

} // namespace
