#include "signal/format.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

enum : int32_t {
  kTextSize = 40,
  kMinDigits = 1,
  kMaxDigits = 17,
  // m * 5^1074 for the smallest subnormals: 53 + 2494 bits in 32-bit limbs.
  kLimbs = 84,
  // 2547 bits are at most 767 decimal digits, in chunks of nine.
  kChunks = 90,
};

// An unsigned integer of up to kLimbs 32-bit limbs, least significant first. Its own code rather
// than std::to_chars: the exact expansion costs a few limbs of arithmetic, and to_chars would
// bring its tables of some hundred kilobytes into the program.
struct BigNumber {
  uint32_t aLimb[kLimbs];
  int32_t count;
};

void MultiplySmall(BigNumber *number, uint32_t factor) {
  uint64_t carry = 0;
  for (int32_t i = 0; i < number->count; i++) {
    uint64_t product = static_cast<uint64_t>(number->aLimb[i]) * factor + carry;
    number->aLimb[i] = static_cast<uint32_t>(product);
    carry = product >> 32;
  }
  if (carry != 0 && number->count < kLimbs) {
    number->aLimb[number->count] = static_cast<uint32_t>(carry);
    number->count += 1;
  }
}

// Divides in place and returns the remainder.
uint32_t DivideSmall(BigNumber *number, uint32_t divisor) {
  uint64_t remainder = 0;
  for (int32_t i = number->count - 1; i >= 0; i--) {
    uint64_t current = (remainder << 32) | number->aLimb[i];
    number->aLimb[i] = static_cast<uint32_t>(current / divisor);
    remainder = current % divisor;
  }
  while (number->count > 0 && number->aLimb[number->count - 1] == 0) {
    number->count -= 1;
  }
  return static_cast<uint32_t>(remainder);
}

// The first `wanted` significant digits of a finite magnitude above zero, truncated (not rounded),
// and the power of ten of the first one. A double is m * 2^q exactly; for q < 0 that is
// m * 5^-q / 10^-q, so the digits are those of the integer m * 5^-q.
void ExactLeadingDigits(double magnitude, char *aDigits, int32_t wanted, int32_t *exponent10) {
  int exponent2 = 0;
  double fraction = std::frexp(magnitude, &exponent2);
  uint64_t mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  int32_t q = exponent2 - 53;

  BigNumber number;
  number.aLimb[0] = static_cast<uint32_t>(mantissa);
  number.aLimb[1] = static_cast<uint32_t>(mantissa >> 32);
  number.count = number.aLimb[1] != 0 ? 2 : 1;
  int32_t fractionDigits = 0;
  if (q >= 0) {
    for (; q >= 31; q -= 31) {
      MultiplySmall(&number, 1u << 31);
    }
    MultiplySmall(&number, 1u << q);
  } else {
    fractionDigits = -q;
    int32_t k = -q;
    for (; k >= 13; k -= 13) {
      MultiplySmall(&number, 1220703125u);  // 5^13
    }
    uint32_t rest = 1;
    for (int32_t i = 0; i < k; i++) {
      rest *= 5;
    }
    MultiplySmall(&number, rest);
  }

  uint32_t aChunk[kChunks];
  int32_t chunks = 0;
  while (number.count > 0 && chunks < kChunks) {
    aChunk[chunks] = DivideSmall(&number, 1000000000u);
    chunks += 1;
  }

  // The most significant chunk without its leading zeros, then nine digits per chunk.
  char szTop[10];
  int32_t topDigits = 0;
  for (uint32_t top = aChunk[chunks - 1]; top != 0; top /= 10) {
    szTop[topDigits] = static_cast<char>('0' + top % 10);
    topDigits += 1;
  }
  int32_t count = 0;
  for (int32_t i = topDigits - 1; i >= 0 && count < wanted; i--) {
    aDigits[count++] = szTop[i];
  }
  for (int32_t chunk = chunks - 2; chunk >= 0 && count < wanted; chunk--) {
    uint32_t divisor = 100000000u;
    for (int32_t i = 0; i < 9 && count < wanted; i++) {
      aDigits[count++] = static_cast<char>('0' + aChunk[chunk] / divisor % 10);
      divisor /= 10;
    }
  }
  while (count < wanted) {
    aDigits[count++] = '0';
  }
  *exponent10 = topDigits + 9 * (chunks - 1) - 1 - fractionDigits;
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

}  // namespace

void RoundSignificant(double value, int digits, char aDigits[kSignificantBuffer],
                      int32_t *pExponent10) {
  int32_t n = digits;
  if (n < kMinDigits) {
    n = kMinDigits;
  }
  if (n > kMaxDigits) {
    n = kMaxDigits;
  }
  double magnitude = std::fabs(value);

  // Significant digits, one past the n kept, and the decimal exponent.
  int32_t exponent10 = 0;
  if (magnitude == 0.0 || !std::isfinite(magnitude)) {
    for (int32_t i = 0; i < n + 1; i++) {
      aDigits[i] = '0';
    }
  } else {
    ExactLeadingDigits(magnitude, aDigits, n + 1, &exponent10);
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
      aDigits[0] = '1';  // 9.99 became 10.0
      exponent10 += 1;
    }
  }
  *pExponent10 = exponent10;
}

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
  char aDigits[kSignificantBuffer];
  int32_t exponent10 = 0;
  RoundSignificant(value, n, aDigits, &exponent10);

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
