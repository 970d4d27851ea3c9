#include "tests/signal/format_reference.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

const uint64_t kLimbBase = 1000000000ull;

void MultiplyLimbs(std::vector<uint64_t> &limbs, uint64_t factor) {
  uint64_t carry = 0;
  for (uint64_t &limb : limbs) {
    uint64_t product = limb * factor + carry;
    limb = product % kLimbBase;
    carry = product / kLimbBase;
  }
  while (carry != 0) {
    limbs.push_back(carry % kLimbBase);
    carry /= kLimbBase;
  }
}

// All decimal digits of the magnitude, and how many of them lie after the point.
void ExactDigits(double magnitude, std::string &digits, int &fractionDigits) {
  int exponent2 = 0;
  double fraction = std::frexp(magnitude, &exponent2);
  uint64_t mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  int q = exponent2 - 53;
  std::vector<uint64_t> limbs{mantissa % kLimbBase, mantissa / kLimbBase};
  fractionDigits = 0;
  if (q >= 0) {
    for (; q >= 29; q -= 29) {
      MultiplyLimbs(limbs, 1ull << 29);
    }
    MultiplyLimbs(limbs, 1ull << q);
  } else {
    int k = -q;
    fractionDigits = k;
    for (; k >= 13; k -= 13) {
      MultiplyLimbs(limbs, 1220703125ull); // 5^13
    }
    uint64_t rest = 1;
    for (int i = 0; i < k; i++) {
      rest *= 5;
    }
    MultiplyLimbs(limbs, rest);
  }
  while (limbs.size() > 1 && limbs.back() == 0) {
    limbs.pop_back();
  }
  digits = std::to_string(limbs.back());
  for (size_t i = limbs.size() - 1; i-- > 0;) {
    std::string limb = std::to_string(limbs[i]);
    digits += std::string(9 - limb.size(), '0') + limb;
  }
}

} // namespace

std::string ReferenceSignificant(double value, int digits) {
  if (std::isnan(value)) {
    return "nan";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-inf" : "inf";
  }
  int n = digits < 1 ? 1 : (digits > 17 ? 17 : digits);
  std::string sign = std::signbit(value) ? "-" : "";
  double magnitude = std::fabs(value);
  if (magnitude == 0.0) {
    return sign + "0.";
  }
  std::string all;
  int fractionDigits = 0;
  ExactDigits(magnitude, all, fractionDigits);
  // all has no leading zero; the first digit's power of ten:
  int exponent = static_cast<int>(all.size()) - fractionDigits - 1;

  std::string kept = all.substr(0, static_cast<size_t>(n));
  kept.resize(static_cast<size_t>(n), '0');
  // Half a unit or more of the exact rest rounds up (the rest is compared with 5000...).
  std::string rest = all.size() > kept.size() ? all.substr(kept.size()) : "";
  std::string half = "5" + std::string(rest.empty() ? 0 : rest.size() - 1, '0');
  if (!rest.empty() && rest >= half) {
    int i = n - 1;
    while (i >= 0 && kept[static_cast<size_t>(i)] == '9') {
      kept[static_cast<size_t>(i)] = '0';
      i--;
    }
    if (i < 0) {
      kept = "1" + kept.substr(0, static_cast<size_t>(n - 1));
      exponent++;
    } else {
      kept[static_cast<size_t>(i)]++;
    }
  }

  auto dropZeros = [](std::string text) {
    while (!text.empty() && text.back() == '0') {
      text.pop_back();
    }
    return text;
  };
  if (exponent < -1 || exponent > n - 1) {
    std::string power = std::to_string(exponent < 0 ? -exponent : exponent);
    power = std::string(3 - power.size(), '0') + power;
    return sign + kept.substr(0, 1) + "." + dropZeros(kept.substr(1)) + "e" +
           (exponent < 0 ? "-" : "+") + power;
  }
  if (exponent == -1) {
    return sign + "0." + dropZeros(kept);
  }
  size_t whole = static_cast<size_t>(exponent) + 1;
  return sign + kept.substr(0, whole) + "." + dropZeros(kept.substr(whole));
}
