#include "signal/format.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Longest exact expansion of a double, in significant digits (the smallest subnormal has 751),
// with room for sign, point and exponent.
enum : int32_t { kExpansionSize = 800, kTextSize = 40, kMinDigits = 1, kMaxDigits = 17 };

// Digits after the point that to_chars needs in scientific form so that it never has to round:
// the binary value m * 2^q (m below 2^53) has at most 17 + 0.699(-q) significant digits for q < 0
// and 17 + 0.302q for q >= 0.
int32_t ExactPrecision(double magnitude) {
  int exponent2 = 0;
  std::frexp(magnitude, &exponent2);
  int32_t q = exponent2 - 53;
  if (q < -1074) {
    q = -1074; // every double is a whole multiple of the smallest subnormal
  }
  if (q < 0) {
    return 17 + (-q * 7 + 9) / 10;
  }
  return 17 + (q * 31 + 99) / 100;
}

void CopyBounded(const char *szSource, char *szText, size_t size) {
  if (size == 0) {
    return;
  }
  size_t length = std::strlen(szSource);
  if (length > size - 1) {
    length = size - 1;
  }
  std::memcpy(szText, szSource, length);
  szText[length] = '\0';
}

} // namespace

void FormatSignificant(double value, int digits, char *szText, size_t size) {
  if (szText == nullptr || size == 0) {
    return;
  }
  if (std::isnan(value)) {
    CopyBounded("nan", szText, size);
    return;
  }
  if (std::isinf(value)) {
    CopyBounded(value < 0 ? "-inf" : "inf", szText, size);
    return;
  }
  int32_t n = digits;
  if (n < kMinDigits) {
    n = kMinDigits;
  }
  if (n > kMaxDigits) {
    n = kMaxDigits;
  }
  bool negative = std::signbit(value);
  double magnitude = std::fabs(value);

  // The exact decimal expansion of the binary value: "d.ddd...e+XX".
  char szExpansion[kExpansionSize];
  std::to_chars_result expanded =
      std::to_chars(szExpansion, szExpansion + sizeof szExpansion - 1, magnitude,
                    std::chars_format::scientific, ExactPrecision(magnitude));
  if (expanded.ec != std::errc()) {
    CopyBounded("nan", szText, size);
    return;
  }
  *expanded.ptr = '\0';

  // Significant digits, one past the n kept, and the decimal exponent.
  char aDigits[kMaxDigits + 2];
  int32_t exponent10 = 0;
  {
    const char *cursor = szExpansion;
    int32_t count = 0;
    while (*cursor != '\0' && *cursor != 'e') {
      if (*cursor != '.' && count < n + 1) {
        aDigits[count] = *cursor;
        count += 1;
      }
      cursor += 1;
    }
    while (count < n + 1) {
      aDigits[count] = '0';
      count += 1;
    }
    if (*cursor == 'e') {
      cursor += 1;
      bool negativeExponent = (*cursor == '-');
      cursor += 1; // to_chars always writes the exponent's sign
      while (*cursor >= '0' && *cursor <= '9') {
        exponent10 = exponent10 * 10 + (*cursor - '0');
        cursor += 1;
      }
      if (negativeExponent) {
        exponent10 = -exponent10;
      }
    }
  }

  // The expansion is exact, so a next digit of 5 or more is at least half a unit: away from zero.
  if (aDigits[n] >= '5') {
    int32_t position = n - 1;
    while (position >= 0 && aDigits[position] == '9') {
      aDigits[position] = '0';
      position -= 1;
    }
    if (position >= 0) {
      aDigits[position] = static_cast<char>(aDigits[position] + 1);
    } else {
      aDigits[0] = '1'; // 9.99 became 10.0
      exponent10 += 1;
    }
  }
  if (magnitude == 0.0) {
    exponent10 = 0;
  }

  char szOut[kTextSize];
  int32_t length = 0;
  if (negative) {
    szOut[length++] = '-';
  }
  if (exponent10 < -1 || exponent10 > n - 1) {
    int32_t last = n - 1;
    while (last > 0 && aDigits[last] == '0') {
      last -= 1;
    }
    szOut[length++] = aDigits[0];
    szOut[length++] = '.';
    for (int32_t i = 1; i <= last; i++) {
      szOut[length++] = aDigits[i];
    }
    szOut[length++] = 'e';
    szOut[length++] = exponent10 < 0 ? '-' : '+';
    int32_t exponentMagnitude = exponent10 < 0 ? -exponent10 : exponent10;
    szOut[length++] = static_cast<char>('0' + exponentMagnitude / 100);
    szOut[length++] = static_cast<char>('0' + exponentMagnitude / 10 % 10);
    szOut[length++] = static_cast<char>('0' + exponentMagnitude % 10);
  } else {
    int32_t firstFraction = 0;
    if (exponent10 < 0) {
      szOut[length++] = '0';
    } else {
      for (int32_t i = 0; i <= exponent10; i++) {
        szOut[length++] = aDigits[i];
      }
      firstFraction = exponent10 + 1;
    }
    szOut[length++] = '.';
    int32_t last = n - 1;
    while (last >= firstFraction && aDigits[last] == '0') {
      last -= 1;
    }
    for (int32_t i = firstFraction; i <= last; i++) {
      szOut[length++] = aDigits[i];
    }
  }
  szOut[length] = '\0';
  CopyBounded(szOut, szText, size);
}
