#include "signal/si_number.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The power of ten of an SI suffix, or false when the character is none.
bool SuffixExponent(char c, int32_t *pExponent) {
  switch (c) {
    case 'k': *pExponent = 3; return true;
    case 'M': *pExponent = 6; return true;
    case 'm': *pExponent = -3; return true;
    case 'u': *pExponent = -6; return true;
    default: return false;
  }
}

}  // namespace

bool ParseSiNumber(const char *szText, double *pValue) {
  if (szText == nullptr) return false;
  size_t index = 0;
  if (szText[index] == '+' || szText[index] == '-') index++;
  size_t digits = 0;
  while (IsDigit(szText[index])) index++, digits++;
  if (szText[index] == '.') {
    index++;
    while (IsDigit(szText[index])) index++, digits++;
  }
  if (digits == 0) return false;
  const size_t mantissaLength = index;

  // The exponent, held within +-100000: beyond that every value is zero or out of range anyway.
  int32_t exponent = 0;
  if (szText[index] == 'e' || szText[index] == 'E') {
    index++;
    int32_t sign = 1;
    if (szText[index] == '+' || szText[index] == '-') {
      if (szText[index] == '-') sign = -1;
      index++;
    }
    if (!IsDigit(szText[index])) return false;
    while (IsDigit(szText[index])) {
      if (exponent < 100000) exponent = exponent * 10 + (szText[index] - '0');
      index++;
    }
    exponent *= sign;
  }
  int32_t suffixExponent = 0;
  if (szText[index] != '\0') {
    if (!SuffixExponent(szText[index], &suffixExponent)) return false;
    index++;
  }
  if (szText[index] != '\0' || mantissaLength > kSiNumberMaxText) return false;

  // One decimal text, read once: the value is the double nearest the exact number.
  char szDecimal[kSiNumberMaxText + 16];
  int length = snprintf(szDecimal, std::size(szDecimal), "%.*se%d",
                        static_cast<int>(mantissaLength), szText, exponent + suffixExponent);
  if (length < 0 || static_cast<size_t>(length) >= std::size(szDecimal)) return false;
  char *pcEnd = nullptr;
  errno = 0;
  double value = strtod(szDecimal, &pcEnd);
  if (pcEnd != szDecimal + length || !std::isfinite(value)) return false;
  *pValue = value;
  return true;
}

bool ParseWholeNumber(const char *szText, uint32_t *pValue) {
  if (szText == nullptr || !IsDigit(szText[0])) return false;
  uint64_t value = 0;
  size_t index = 0;
  for (; IsDigit(szText[index]); index++) {
    value = value * 10 + static_cast<uint64_t>(szText[index] - '0');
    if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;
  }
  if (szText[index] != '\0') return false;
  *pValue = static_cast<uint32_t>(value);
  return true;
}
