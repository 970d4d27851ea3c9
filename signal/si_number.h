#pragma once
// The numbers of the command line: decimals with an optional exponent and SI suffix, and whole
// numbers for the codes and the duty.
#include <cstddef>
#include <cstdint>

enum : int32_t { kSiNumberMaxText = 400 };  // longer texts are refused, not truncated

// An optional sign, decimal digits with at most one point (at least one digit), an optional
// exponent (e or E, an optional sign, digits) and at most one SI suffix: k (1e3), M (1e6),
// m (1e-3), u (1e-6). Nothing else: no blanks, no hexadecimal, no inf or nan. The suffix shifts
// the exponent of the decimal text, so 0.1k is exactly the double nearest 100. Returns false,
// leaving *pValue alone, for any other text and for values beyond the range of a double.
bool ParseSiNumber(const char *szText, double *pValue);

// Decimal digits only, at least one. Values beyond 4294967295 read as 4294967295, which every
// caller's range refuses. Returns false for any other text.
bool ParseWholeNumber(const char *szText, uint32_t *pValue);
