#include "signal/shape_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

enum : int32_t { kNumberMaxText = 400, kReasonSize = 120 };

// Sets the reason from a format of whole numbers; returns false, for the caller to return.
bool Refuse(std::string *pReason, const char *szFormat, int first = 0, int second = 0) {
  char szReason[kReasonSize];
  snprintf(szReason, std::size(szReason), szFormat, first, second);
  pReason->assign(szReason);
  return false;
}

// ---- Text ----

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// A decimal with an optional sign, fraction and exponent, and nothing else (no inf, nan, hex).
// Also gathers its significant digits (up to 19) and the power of ten that scales them, for
// ReadField's quick conversion; *pDigitsKept is false when digits had to be dropped.
bool ScanDecimal(const char *szText, bool *pNegative, uint64_t *pDigits, int32_t *pExponent,
                 bool *pDigitsKept) {
  size_t index = 0;
  *pNegative = szText[index] == '-';
  if (szText[index] == '+' || szText[index] == '-') index++;
  uint64_t digits = 0;
  int32_t kept = 0, exponent = 0, count = 0;
  bool bKept = true;
  // A digit: leading zeros are not significant; past 19 digits the mantissa would overflow.
  auto take = [&](char c, bool fraction) {
    count++;
    if (digits == 0 && c == '0') {
      if (fraction) exponent--;
      return;
    }
    if (kept < 19) {
      digits = digits * 10 + static_cast<uint64_t>(c - '0');
      kept++;
      if (fraction) exponent--;
    } else {
      bKept = false;  // strtod reads it: the exponent no longer matters
    }
  };
  while (IsDigit(szText[index])) take(szText[index++], false);
  if (szText[index] == '.') {
    index++;
    while (IsDigit(szText[index])) take(szText[index++], true);
  }
  if (count == 0) return false;
  if (szText[index] == 'e' || szText[index] == 'E') {
    index++;
    int32_t sign = 1;
    if (szText[index] == '+' || szText[index] == '-') sign = szText[index++] == '-' ? -1 : 1;
    if (!IsDigit(szText[index])) return false;
    int32_t written = 0;
    while (IsDigit(szText[index])) {
      if (written < 100000) written = written * 10 + (szText[index] - '0');
      index++;
    }
    exponent += sign * written;
  }
  *pDigits = digits;
  *pExponent = exponent;
  *pDigitsKept = bKept;
  return szText[index] == '\0';
}

// The separator a line would decide: tab if it has one, else ';' if it has one, else ','.
char LineSeparator(const char *pLine, size_t length) {
  if (memchr(pLine, '\t', length) != nullptr) return '\t';
  if (memchr(pLine, ';', length) != nullptr) return ';';
  return ',';
}

// The last field of the line that is not empty once blanks are trimmed; false when there is none.
bool LastField(const char *pLine, size_t length, char separator, const char **ppField,
               size_t *pLength) {
  size_t end = length;
  while (end > 0 && (IsSpace(pLine[end - 1]) || pLine[end - 1] == separator)) end--;
  if (end == 0) return false;
  size_t begin = end;
  while (begin > 0 && pLine[begin - 1] != separator) begin--;
  while (IsSpace(pLine[begin])) begin++;
  *ppField = pLine + begin;
  *pLength = end - begin;
  return true;
}

enum class FieldValue { kNumber, kNotANumber, kTooLong, kOutOfRange };

// One field as a number; with decimalComma a ',' is read as the decimal point.
FieldValue ReadField(const char *pField, size_t length, bool decimalComma, double *pValue) {
  char szNumber[kNumberMaxText + 1];
  if (length > kNumberMaxText) return FieldValue::kTooLong;
  // A zero byte would end the copy's text early and pass what follows it.
  if (memchr(pField, '\0', length) != nullptr) return FieldValue::kNotANumber;
  for (size_t i = 0; i < length; i++) {
    szNumber[i] = decimalComma && pField[i] == ',' ? '.' : pField[i];
  }
  szNumber[length] = '\0';
  bool bNegative = false, bDigitsKept = false;
  uint64_t digits = 0;
  int32_t exponent = 0;
  if (!ScanDecimal(szNumber, &bNegative, &digits, &exponent, &bDigitsKept)) {
    return FieldValue::kNotANumber;
  }
  // Digits below 2^53 and a power of ten up to 1e22 are both exact doubles, so one product or
  // quotient rounds once, to the double nearest the decimal, as strtod would give it at several
  // times the cost; any other number goes to strtod (the program runs in the C locale, so it
  // reads '.' as the point).
  static const double kPowersOfTen[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  double value = 0.0;
  if (bDigitsKept && digits < (uint64_t{1} << 53) && exponent >= -22 && exponent <= 22) {
    const double mantissa = static_cast<double>(digits);
    value = exponent >= 0 ? mantissa * kPowersOfTen[exponent] : mantissa / kPowersOfTen[-exponent];
    if (bNegative) value = -value;
  } else {
    value = strtod(szNumber, nullptr);
  }
  if (!std::isfinite(value)) return FieldValue::kOutOfRange;
  *pValue = value;
  return FieldValue::kNumber;
}

bool ReadText(const char *pText, size_t size, std::vector<double> *pValues, std::string *pReason) {
  if (size >= 3 && memcmp(pText, "\xEF\xBB\xBF", 3) == 0) pText += 3, size -= 3;
  char separator = '\0';  // decided by the first line whose value is a number
  int lineNumber = 0;
  size_t offset = 0;
  while (offset < size) {
    // One line: it ends at LF, CR LF or a lone CR.
    const char *pLine = pText + offset;
    size_t length = 0;
    while (offset + length < size && pLine[length] != '\n' && pLine[length] != '\r') length++;
    offset += length;
    if (offset < size) {
      const bool bCrLf = pText[offset] == '\r' && offset + 1 < size && pText[offset + 1] == '\n';
      offset += bCrLf ? 2 : 1;
    }
    lineNumber++;

    size_t first = 0;
    while (first < length && IsSpace(pLine[first])) first++;
    if (first == length || pLine[first] == '#') continue;
    const char lineSeparator = separator != '\0' ? separator : LineSeparator(pLine, length);
    const char *pField = nullptr;
    size_t fieldLength = 0;
    if (!LastField(pLine, length, lineSeparator, &pField, &fieldLength)) continue;
    double value = 0.0;
    const FieldValue result = ReadField(pField, fieldLength, lineSeparator != ',', &value);
    if (separator == '\0') {
      if (result != FieldValue::kNumber) continue;  // a header line
      separator = lineSeparator;
    } else if (result == FieldValue::kNotANumber) {
      return Refuse(pReason, "line %d: not a number", lineNumber);
    } else if (result == FieldValue::kTooLong) {
      return Refuse(pReason, "line %d: number longer than %d characters", lineNumber,
                    kNumberMaxText);
    } else if (result == FieldValue::kOutOfRange) {
      return Refuse(pReason, "line %d: number out of range", lineNumber);
    }
    if (pValues->size() >= static_cast<size_t>(kShapeMaxPoints)) {
      return Refuse(pReason, "more than %d values", kShapeMaxPoints);
    }
    pValues->push_back(value);
  }
  if (pValues->empty()) return Refuse(pReason, "no values");
  return true;
}

// ---- WAV ----

uint32_t ReadU16(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8;
}

uint32_t ReadU32(const uint8_t *p) {
  return ReadU16(p) | ReadU16(p + 2) << 16;
}

// The tail of the WAVE_FORMAT_EXTENSIBLE subformat GUID after its first two bytes (the format).
const uint8_t kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

enum : uint32_t { kWavePcm = 1, kWaveFloat = 3, kWaveExtensible = 0xFFFE };

double Sample(const uint8_t *p, uint32_t format, uint32_t bytes) {
  if (format == kWaveFloat) {
    if (bytes == 4) {
      const uint32_t bits = ReadU32(p);
      float value = 0.0f;
      memcpy(&value, &bits, sizeof value);
      return value;
    }
    const uint64_t bits = ReadU32(p) | static_cast<uint64_t>(ReadU32(p + 4)) << 32;
    double value = 0.0;
    memcpy(&value, &bits, sizeof value);
    return value;
  }
  switch (bytes) {
    case 1: return static_cast<int32_t>(p[0]) - 128;
    case 2: return static_cast<int16_t>(ReadU16(p));
    case 3:
      return static_cast<int32_t>((ReadU16(p) | static_cast<uint32_t>(p[2]) << 16) << 8) / 256;
    default: return static_cast<int32_t>(ReadU32(p));
  }
}

bool ReadWav(const uint8_t *pBytes, size_t size, std::vector<double> *pValues,
             std::string *pReason) {
  // The RIFF size bounds the chunks when it fits the bytes; streaming writers leave it wrong.
  const uint32_t riffSize = ReadU32(pBytes + 4);
  const size_t end = riffSize >= 4 && riffSize <= size - 8 ? riffSize + size_t{8} : size;
  const uint8_t *pFormat = nullptr;
  uint32_t formatSize = 0;
  const uint8_t *pData = nullptr;
  uint32_t dataSize = 0;
  size_t offset = 12;
  while (end - offset >= 8) {
    const uint8_t *pChunk = pBytes + offset;
    const uint32_t chunkSize = ReadU32(pChunk + 4);
    if (chunkSize > end - offset - 8) {
      char szId[5];
      for (size_t i = 0; i < 4; i++)
        szId[i] = pChunk[i] >= 0x20 && pChunk[i] < 0x7F ? pChunk[i] : '?';
      szId[4] = '\0';
      pReason->assign("truncated '").append(szId).append("' chunk");
      return false;
    }
    if (memcmp(pChunk, "fmt ", 4) == 0 && pFormat == nullptr) {
      pFormat = pChunk + 8;
      formatSize = chunkSize;
    } else if (memcmp(pChunk, "data", 4) == 0 && pData == nullptr) {
      pData = pChunk + 8;
      dataSize = chunkSize;
    }
    // A chunk of odd length is followed by a pad byte (which a file's last chunk may lack).
    offset += 8 + size_t{chunkSize};
    if (chunkSize % 2 == 1 && offset < end) offset++;
  }
  if (pFormat == nullptr) return Refuse(pReason, "no 'fmt ' chunk in the WAV file", 0);
  if (pData == nullptr) return Refuse(pReason, "no 'data' chunk in the WAV file", 0);
  if (formatSize < 16)
    return Refuse(pReason, "'fmt ' chunk of %d bytes, too short", static_cast<int>(formatSize));

  uint32_t format = ReadU16(pFormat);
  const uint32_t channels = ReadU16(pFormat + 2);
  const uint32_t blockAlign = ReadU16(pFormat + 12);
  const uint32_t bits = ReadU16(pFormat + 14);
  if (format == kWaveExtensible) {
    if (formatSize < 40 || ReadU16(pFormat + 16) < 22) {
      return Refuse(pReason, "extensible 'fmt ' chunk of %d bytes, too short",
                    static_cast<int>(formatSize));
    }
    // Valid bits narrower than the container are read as the container: the wave is normalised.
    format = ReadU16(pFormat + 24);
    if (memcmp(pFormat + 26, kSubformatTail, sizeof kSubformatTail) != 0) {
      return Refuse(pReason, "WAV subformat of unknown kind", 0);
    }
    if (format != kWavePcm && format != kWaveFloat) {
      return Refuse(pReason, "compressed WAV (subformat 0x%04X)", static_cast<int>(format));
    }
  } else if (format != kWavePcm && format != kWaveFloat) {
    return Refuse(pReason, "compressed WAV (format 0x%04X)", static_cast<int>(format));
  }
  const bool bSupported = format == kWavePcm ? bits == 8 || bits == 16 || bits == 24 || bits == 32
                                             : bits == 32 || bits == 64;
  if (!bSupported) {
    return Refuse(pReason,
                  format == kWavePcm ? "%d-bit integer WAV samples are not supported"
                                     : "%d-bit float WAV samples are not supported",
                  static_cast<int>(bits));
  }
  if (channels == 0) return Refuse(pReason, "WAV file with no channels", 0);
  const uint32_t bytes = bits / 8;
  const uint32_t frameBytes = channels * bytes;
  if (blockAlign != frameBytes) {
    return Refuse(pReason, "WAV block of %d bytes for frames of %d", static_cast<int>(blockAlign),
                  static_cast<int>(frameBytes));
  }
  const uint32_t frames = dataSize / frameBytes;
  if (frames == 0) return Refuse(pReason, "no frames in the WAV file", 0);
  if (frames > static_cast<uint32_t>(kShapeMaxPoints)) {
    return Refuse(pReason, "more than %d frames in the WAV file", kShapeMaxPoints);
  }
  pValues->resize(frames);
  for (uint32_t frame = 0; frame < frames; frame++) {
    const double value = Sample(pData + size_t{frame} * frameBytes, format, bytes);
    if (!std::isfinite(value)) {
      pValues->clear();
      return Refuse(pReason, "frame %d: not a finite number", static_cast<int>(frame) + 1);
    }
    (*pValues)[frame] = value;
  }
  return true;
}

}  // namespace

bool ReadShapeBytes(const uint8_t *pBytes, size_t size, std::vector<double> *pValues,
                    std::string *pReason) {
  pValues->clear();
  pReason->clear();
  bool bRead = false;
  if (size >= 12 && memcmp(pBytes, "RIFF", 4) == 0 && memcmp(pBytes + 8, "WAVE", 4) == 0) {
    bRead = ReadWav(pBytes, size, pValues, pReason);
  } else {
    bRead = ReadText(reinterpret_cast<const char *>(pBytes), size, pValues, pReason);
  }
  if (!bRead) pValues->clear();
  return bRead;
}

void ShapeSamples(const std::vector<double> &values, double aSamples[kWaveTableSamples]) {
  const size_t count = values.size() <= kShapeMaxPoints ? values.size() : 0;
  ResampleShape(values.data(), static_cast<int32_t>(count), aSamples);
  NormaliseShape(aSamples);
}
