#include "signal/wavetable.h"

#include <cmath>

namespace {

// The random wave's own generator: the classic C-runtime linear congruential one, written out so
// that every build and every run plays the same sequence. Never seeded.
uint32_t randomState = 1;

uint32_t NextRandom15() {
  randomState = randomState * 214013u + 2531011u;
  return (randomState >> 16) & 0x7FFFu;
}

// Double-double arithmetic for the sine below: a value is hi + lo with |lo| at most half a unit
// of hi. Needs IEEE doubles rounded once per operation (SSE2 on 32-bit x86, no fused multiply).
struct DoubleDouble {
  double hi;
  double lo;
};

DoubleDouble QuickTwoSum(double a, double b) {
  double sum = a + b;
  double error = b - (sum - a);
  return DoubleDouble{sum, error};
}

DoubleDouble TwoSum(double a, double b) {
  double sum = a + b;
  double bPart = sum - a;
  double error = (a - (sum - bPart)) + (b - bPart);
  return DoubleDouble{sum, error};
}

DoubleDouble TwoProduct(double a, double b) {
  const double splitter = 134217729.0;  // 2^27 + 1
  double product = a * b;
  double aScaled = splitter * a;
  double aHigh = aScaled - (aScaled - a);
  double aLow = a - aHigh;
  double bScaled = splitter * b;
  double bHigh = bScaled - (bScaled - b);
  double bLow = b - bHigh;
  double error = ((aHigh * bHigh - product) + aHigh * bLow + aLow * bHigh) + aLow * bLow;
  return DoubleDouble{product, error};
}

DoubleDouble AddDD(DoubleDouble a, DoubleDouble b) {
  DoubleDouble sum = TwoSum(a.hi, b.hi);
  double error = sum.lo + (a.lo + b.lo);
  return QuickTwoSum(sum.hi, error);
}

DoubleDouble MultiplyDD(DoubleDouble a, DoubleDouble b) {
  DoubleDouble product = TwoProduct(a.hi, b.hi);
  double error = product.lo + (a.hi * b.lo + a.lo * b.hi);
  return QuickTwoSum(product.hi, error);
}

DoubleDouble DivideDD(DoubleDouble a, double b) {
  double first = a.hi / b;
  DoubleDouble back = TwoProduct(first, b);
  DoubleDouble rest = TwoSum(a.hi, -back.hi);
  double error = ((rest.lo - back.lo) + a.lo);
  double second = (rest.hi + error) / b;
  return QuickTwoSum(first, second);
}

// Taylor series of sin (first = 1) or cos (first = 0) for |r| up to pi/4, to about 2^-100.
DoubleDouble SeriesDD(DoubleDouble r, int32_t first) {
  DoubleDouble square = MultiplyDD(r, r);
  DoubleDouble term = first ? r : DoubleDouble{1.0, 0.0};
  DoubleDouble sum = term;
  for (int32_t k = first + 2; k <= 45; k += 2) {
    term = MultiplyDD(term, square);
    term = DivideDD(term, static_cast<double>(k) * static_cast<double>(k - 1));
    term = DoubleDouble{-term.hi, -term.lo};
    sum = AddDD(sum, term);
  }
  return sum;
}

}  // namespace

// The C runtimes' sines disagree in the last bit (32-bit mingw's is off by millions of units
// next to pi), so the tables use a sine of their own: reduced by pi/2 in exact parts,
// summed in double-double and rounded once.
double PreciseSine(double x) {
  // pi/2 as three 33-bit parts, so that q times each part is exact for small q, and the rest.
  const double halfPi1 = 1.57079632673412561417e+00;
  const double halfPi2 = 6.07710050630396597660e-11;
  const double halfPi3 = 2.02226624871116645580e-21;
  const double halfPi3Rest = 8.47842766036889956997e-32;
  const double twoOverPi = 6.36619772367581382433e-01;
  double quadrants = std::floor(x * twoOverPi + 0.5);
  double reduced = x - quadrants * halfPi1;  // exact: the two lie within a factor of 2
  DoubleDouble r = TwoSum(reduced, -(quadrants * halfPi2));
  r = AddDD(r, DoubleDouble{-(quadrants * halfPi3), 0.0});
  r = AddDD(r, DoubleDouble{-(quadrants * halfPi3Rest), 0.0});
  int32_t quadrant = static_cast<int32_t>(std::fmod(quadrants, 4.0));
  if (quadrant < 0) {
    quadrant += 4;
  }
  DoubleDouble value = SeriesDD(r, (quadrant % 2 == 0) ? 1 : 0);
  double rounded = value.hi + value.lo;
  return (quadrant >= 2) ? -rounded : rounded;
}

namespace {

// A sample's value is truncated toward zero to 32 bits and its low 16 bits are kept.
uint16_t StoredSample(double value) {
  int32_t whole = static_cast<int32_t>(value);
  return static_cast<uint16_t>(whole);
}

// The sines of the 360 table arguments, worked out once on the first sine table.
double aTableSines[360];
bool tableSinesReady = false;

void PrepareTableSines() {
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    // 3.14159265 as the generator's tables were made, not the full pi.
    double turned = static_cast<double>(i) * 3.14159265;
    double x = turned / 180.0;
    aTableSines[i] = PreciseSine(x);
  }
  tableSinesReady = true;
}

void BuildSine(uint16_t samples[360], uint16_t amplitudeCode) {
  if (!tableSinesReady) {
    PrepareTableSines();
  }
  double amplitude = static_cast<double>(amplitudeCode);
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    double swing = amplitude * aTableSines[i];
    samples[i] = StoredSample(swing + 32767.0);
  }
}

void BuildSquare(uint16_t samples[360], uint16_t amplitudeCode, uint8_t dutyPercent) {
  int32_t lowCount = ((100 - static_cast<int32_t>(dutyPercent)) * 360) / 100;
  uint16_t low = static_cast<uint16_t>(32767 - amplitudeCode);
  uint16_t high = static_cast<uint16_t>(amplitudeCode + 32767);
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    samples[i] = (i < lowCount) ? low : high;
  }
}

void BuildTriangle(uint16_t samples[360], uint16_t amplitudeCode) {
  double doubled = static_cast<double>(amplitudeCode) * 2.0;
  double slope = doubled / 179.0;
  double bottom = static_cast<double>(32767 - amplitudeCode);
  double top = static_cast<double>(amplitudeCode + 32767);
  for (int32_t i = 0; i < 180; i++) {
    double rise = slope * static_cast<double>(i);
    samples[i] = StoredSample(bottom + rise);
  }
  for (int32_t i = 180; i < kWaveTableSamples; i++) {
    double along = static_cast<double>(i) - 180.0;
    double fall = slope * along;
    double value = top - fall;
    samples[i] = StoredSample(value + 1.0);
  }
}

void BuildSaw(uint16_t samples[360], uint16_t amplitudeCode, bool reversed) {
  double doubled = static_cast<double>(amplitudeCode) * 2.0;
  double slope = doubled / 359.0;
  double bottom = static_cast<double>(32767 - amplitudeCode);
  double top = static_cast<double>(amplitudeCode + 32767);
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    double travel = slope * static_cast<double>(i);
    samples[i] = StoredSample(reversed ? top - travel : bottom + travel);
  }
}

void BuildRandom(uint16_t samples[360], uint16_t amplitudeCode) {
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    samples[i] = RandomWaveSample(NextRandom15(), amplitudeCode);
  }
}

}  // namespace

uint16_t RandomWaveSample(uint32_t randomValue, uint16_t amplitudeCode) {
  double amplitude = static_cast<double>(amplitudeCode);
  double doubled = static_cast<double>(randomValue) * 2.0;
  double scaled = doubled * amplitude;
  double share = scaled / 32767.0;
  double bottom = static_cast<double>(32767 - amplitudeCode);
  return StoredSample(bottom + share);
}

void BuildWaveTable(uint16_t samples[360], int32_t waveformIndex, uint16_t amplitudeCode,
                    uint8_t dutyPercent) {
  switch (waveformIndex) {
    case 0: BuildSine(samples, amplitudeCode); break;
    case 1: BuildSquare(samples, amplitudeCode, dutyPercent); break;
    case 2: BuildTriangle(samples, amplitudeCode); break;
    case 3: BuildSaw(samples, amplitudeCode, false); break;
    case 4: BuildSaw(samples, amplitudeCode, true); break;
    case 5: BuildRandom(samples, amplitudeCode); break;
    case 6:
      for (int32_t i = 0; i < kWaveTableSamples; i++) {
        samples[i] = 32767;
      }
      break;
    default: break;  // no such waveform: the table stays as it was
  }
}
