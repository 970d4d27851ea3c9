#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>

#include "signal/format.h"

namespace {

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

std::string Format(double value, int digits) {
  char szText[349];
  FormatSignificant(value, digits, szText, std::size(szText));
  return szText;
}

// The C runtime's rules: the exact binary value rounded with ties away from zero, the point always
// kept, exponents of three digits.
TEST(FormatSignificant, Texts) {
  // clang-format off
  const struct { double value; int digits; const char *szExpected; } kCases[] = {
      // exact ties go away from zero; one bit below a tie rounds down
      {24.4140625, 8, "24.414063"}, {std::nextafter(24.4140625, 0.0), 8, "24.414062"},
      // a carry that adds a digit moves the point or the exponent
      {9999.5, 4, "1.e+004"}, {0.0999999, 3, "0.1"},
      // exponential form below 10^-1 and from 10^n on
      {0.0999, 3, "9.99e-002"}, {123.0, 3, "123."}, {1234.0, 3, "1.23e+003"},
      // the ends of the double range, and digit counts held to 1..17
      {-0.0, 3, "-0."}, {4.9406564584124654e-324, 17, "4.9406564584124654e-324"},
      {1.7976931348623157e308, 1, "2.e+308"}, {1e300, 17, "1.0000000000000001e+300"},
      {0.1, 17, "0.10000000000000001"}, {1234.5678, 0, "1.e+003"},
      {1.0 / 3.0, 40, "0.33333333333333331"}, {kNan, 8, "nan"}, {kInf, 8, "inf"}, {-kInf, 3, "-inf"}};
  // clang-format on
  for (const auto &c : kCases) {
    EXPECT_EQ(Format(c.value, c.digits), c.szExpected) << c.value << " at " << c.digits;
  }
}

TEST(FormatSignificant, WritesNoFurtherThanTheBufferAndTerminates) {
  // clang-format off
  const struct { double value; size_t size; const char *szExpected; } kCases[] = {
      {1000.0, 1, ""}, {-0.052380952380952375, 10, "-5.24e-00"}, {-0.052380952380952375, 11, "-5.24e-002"},
      {-kInf, 3, "-i"}};
  // clang-format on
  for (const auto &c : kCases) {
    char aBuffer[16];
    std::memset(aBuffer, 'x', std::size(aBuffer));
    FormatSignificant(c.value, 3, aBuffer, c.size);
    EXPECT_STREQ(aBuffer, c.szExpected);
    EXPECT_EQ(aBuffer[c.size], 'x') << "size " << c.size;
  }
  char aUntouched[2] = {'x', 'x'};
  FormatSignificant(1.0, 3, aUntouched, 0);
  EXPECT_EQ(aUntouched[0], 'x');
  FormatSignificant(1.0, 3, nullptr, 10);  // no buffer: nothing to write
}

}  // namespace
