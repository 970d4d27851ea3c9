// Any text reads as a finite double or is refused without touching the value; a whole number
// below 2^32 (of a length ParseSiNumber takes) reads alike in both parsers.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "signal/si_number.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);  // stops at a zero byte
  double value = -1.25;
  if (ParseSiNumber(text.c_str(), &value)) {
    if (!std::isfinite(value)) std::abort();
  } else if (value != -1.25) {
    std::abort();
  }
  uint32_t whole = 0;
  double again = 0.0;
  if (text.size() <= kSiNumberMaxText && ParseWholeNumber(text.c_str(), &whole) &&
      whole < 4294967295u && (!ParseSiNumber(text.c_str(), &again) || again != whole)) {
    std::abort();
  }
  return 0;
}
