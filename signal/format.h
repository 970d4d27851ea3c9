#pragma once
#include <cstddef>
#include <cstdint>

enum : int32_t { kSignificantBuffer = 18 };  // 17 digits at most, and the one that rounds them

// Every number on the panel: `digits` significant digits (1..17), exact rounding of the binary
// value with ties away from zero, the point always kept, trailing zeros dropped, exponential form
// ("-5.24e-002") below 0.1 or when the integer part has more than `digits` digits.
// Writes at most `size` bytes and always terminates (when size > 0).
void FormatSignificant(double value, int digits, char *szText, size_t size);

// The rounding of FormatSignificant for other forms of text: the first `digits` (held to 1..17)
// significant digits of |value| as characters (not terminated), and the power of ten of the
// first. Zero, and values that are not finite, give zeros and exponent 0.
void RoundSignificant(double value, int digits, char aDigits[kSignificantBuffer],
                      int32_t *pExponent10);
