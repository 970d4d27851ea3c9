#pragma once
#include <string>

// The number-to-text rule worked out independently of FormatSignificant: the binary value is
// expanded exactly in base-10^9 limbs (m * 5^k / 10^k or m * 2^q), rounded as a digit string.
std::string ReferenceSignificant(double value, int digits);
