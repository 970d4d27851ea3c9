#pragma once
#include <cstddef>

// Every number on the panel: `digits` significant digits (1..17), exact rounding of the binary
// value with ties away from zero, the point always kept, trailing zeros dropped, exponential form
// ("-5.24e-002") below 0.1 or when the integer part has more than `digits` digits.
// Writes at most `size` bytes and always terminates (when size > 0).
void FormatSignificant(double value, int digits, char *szText, size_t size);
