#include "scpi/scpi_parser.h"

#include <cstring>
#include <iterator>

#include "signal/format.h"
#include "signal/si_number.h"

namespace {

enum : int32_t {
  kMaxNumberText = 256,  // a longer number has too many digits to mean anything more
  kMaxBlockDigits = 9,   // "#9" and nine digits: up to 999999999 bytes
};

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Printable 7-bit text and the tab.
bool IsText(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return (byte >= 0x20 && byte <= 0x7E) || c == '\t';
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

void SkipBlanks(const char *pLine, size_t dwLength, size_t *pPosition) {
  while (*pPosition < dwLength && IsBlank(pLine[*pPosition])) ++*pPosition;
}

// The error for a character that cannot stand where it is.
int32_t Misplaced(char c) {
  return IsText(c) ? kErrorSyntax : kErrorInvalidCharacter;
}

// Whether the typed mnemonic is the long one's short form (its leading capitals, digits and '*')
// or the long form itself, ignoring case.
bool MnemonicMatches(const char *pLong, size_t dwLongLength, const char *pTyped,
                     size_t dwTypedLength) {
  size_t dwShortLength = 0;
  while (dwShortLength < dwLongLength &&
         !(pLong[dwShortLength] >= 'a' && pLong[dwShortLength] <= 'z')) {
    dwShortLength++;
  }
  if (dwTypedLength != dwShortLength && dwTypedLength != dwLongLength) return false;
  for (size_t i = 0; i < dwTypedLength; i++) {
    if (Upper(pLong[i]) != Upper(pTyped[i])) return false;
  }
  return true;
}

struct PatternNode {
  const char *pText;
  size_t dwLength;
  bool optional;
};

struct Mnemonic {
  const char *pText;
  size_t dwLength;
};

// "[SOURce:]FUNCtion[:SHAPe]" as its nodes; false when it has more than kScpiMaxMnemonics.
bool SplitPattern(const char *szPattern, PatternNode aNodes[kScpiMaxMnemonics], int32_t *pCount) {
  int32_t count = 0;
  bool optional = false;
  for (const char *p = szPattern; *p != '\0';) {
    if (*p == '[') {
      optional = true;
      p++;
    } else if (*p == ']') {
      optional = false;
      p++;
    } else if (*p == ':') {
      p++;
    } else {
      if (count == kScpiMaxMnemonics) return false;
      const char *pStart = p;
      while (*p != '\0' && *p != ':' && *p != '[' && *p != ']') p++;
      aNodes[count++] = {pStart, static_cast<size_t>(p - pStart), optional};
    }
  }
  *pCount = count;
  return true;
}

bool MatchFrom(const PatternNode *aNodes, int32_t nodeCount, const Mnemonic *aTyped,
               int32_t typedCount) {
  if (nodeCount == 0) return typedCount == 0;
  const PatternNode &node = aNodes[0];
  if (typedCount > 0 &&
      MnemonicMatches(node.pText, node.dwLength, aTyped[0].pText, aTyped[0].dwLength) &&
      MatchFrom(aNodes + 1, nodeCount - 1, aTyped + 1, typedCount - 1)) {
    return true;
  }
  return node.optional && MatchFrom(aNodes + 1, nodeCount - 1, aTyped, typedCount);
}

// A string parameter in ' or " quotes; a doubled quote stands for one.
int32_t ParseString(const char *pLine, size_t dwLength, size_t *pPosition, ScpiParam *pParam) {
  const char quote = pLine[*pPosition];
  size_t position = *pPosition + 1;
  pParam->dwOffset = static_cast<uint32_t>(position);
  for (;;) {
    if (position >= dwLength) return kErrorInvalidStringData;
    if (!IsText(pLine[position])) return kErrorInvalidCharacter;
    if (pLine[position] == quote) {
      if (position + 1 < dwLength && pLine[position + 1] == quote) {
        position += 2;
        continue;
      }
      break;
    }
    position++;
  }
  pParam->type = kParamString;
  pParam->dwLength = static_cast<uint32_t>(position - pParam->dwOffset);
  *pPosition = position + 1;
  return kErrorNone;
}

// "#3720" and 720 bytes, whatever they are.
int32_t ParseBlock(const char *pLine, size_t dwLength, size_t *pPosition, ScpiParam *pParam) {
  size_t position = *pPosition + 1;
  if (position >= dwLength || pLine[position] < '1' || pLine[position] > '9') {
    return kErrorInvalidBlockData;
  }
  const int32_t digits = pLine[position] - '0';
  position++;
  uint64_t blockLength = 0;
  for (int32_t i = 0; i < digits; i++, position++) {
    if (position >= dwLength || !IsDigit(pLine[position])) return kErrorInvalidBlockData;
    blockLength = blockLength * 10 + static_cast<uint64_t>(pLine[position] - '0');
  }
  if (blockLength > dwLength - position) return kErrorInvalidBlockData;
  pParam->type = kParamBlock;
  pParam->dwOffset = static_cast<uint32_t>(position);
  pParam->dwLength = static_cast<uint32_t>(blockLength);
  *pPosition = position + static_cast<size_t>(blockLength);
  return kErrorNone;
}

// A decimal number (NR1, NR2 or NR3) and, after optional blanks, a suffix of letters.
int32_t ParseNumber(const char *pLine, size_t dwLength, size_t *pPosition, ScpiParam *pParam) {
  size_t position = *pPosition;
  if (pLine[position] == '+' || pLine[position] == '-') position++;
  size_t digits = 0;
  while (position < dwLength && IsDigit(pLine[position])) position++, digits++;
  if (position < dwLength && pLine[position] == '.') {
    position++;
    while (position < dwLength && IsDigit(pLine[position])) position++, digits++;
  }
  if (digits == 0) return kErrorSyntax;
  // An exponent only where digits follow the E; else the letters are a suffix.
  if (position < dwLength && Upper(pLine[position]) == 'E') {
    size_t exponent = position + 1;
    if (exponent < dwLength && (pLine[exponent] == '+' || pLine[exponent] == '-')) exponent++;
    if (exponent < dwLength && IsDigit(pLine[exponent])) {
      while (exponent < dwLength && IsDigit(pLine[exponent])) exponent++;
      position = exponent;
    }
  }
  pParam->type = kParamNumber;
  pParam->dwOffset = static_cast<uint32_t>(*pPosition);
  pParam->dwLength = static_cast<uint32_t>(position - *pPosition);
  if (pParam->dwLength > kMaxNumberText) return kErrorTooManyDigits;
  size_t suffix = position;
  SkipBlanks(pLine, dwLength, &suffix);
  pParam->dwSuffixOffset = static_cast<uint32_t>(suffix);
  pParam->dwSuffixLength = 0;
  if (suffix < dwLength && IsLetter(pLine[suffix])) {
    while (suffix < dwLength && IsLetter(pLine[suffix])) suffix++;
    pParam->dwSuffixLength = static_cast<uint32_t>(suffix - pParam->dwSuffixOffset);
    if (pParam->dwSuffixLength > kScpiMnemonicChars) return kErrorSuffixTooLong;
    position = suffix;
  }
  *pPosition = position;
  return kErrorNone;
}

int32_t ParseParam(const char *pLine, size_t dwLength, size_t *pPosition, ScpiParam *pParam) {
  *pParam = ScpiParam{};
  const char c = pLine[*pPosition];
  if (c == '"' || c == '\'') return ParseString(pLine, dwLength, pPosition, pParam);
  if (c == '#') return ParseBlock(pLine, dwLength, pPosition, pParam);
  if (c == '+' || c == '-' || c == '.' || IsDigit(c)) {
    return ParseNumber(pLine, dwLength, pPosition, pParam);
  }
  if (IsLetter(c)) {
    size_t position = *pPosition;
    while (position < dwLength &&
           (IsLetter(pLine[position]) || IsDigit(pLine[position]) || pLine[position] == '_')) {
      position++;
    }
    pParam->type = kParamKeyword;
    pParam->dwOffset = static_cast<uint32_t>(*pPosition);
    pParam->dwLength = static_cast<uint32_t>(position - *pPosition);
    *pPosition = position;
    return pParam->dwLength > kScpiMnemonicChars ? kErrorCharacterDataTooLong : kErrorNone;
  }
  // Nothing before the next ',' or ';' or the end: the parameter is missing.
  if (c == ',' || c == ';') return kErrorMissingParameter;
  return Misplaced(c);
}

// The header: "*IDN", or mnemonics separated by ':' (a ':' in front allowed), then '?' if any.
int32_t ParseHeader(const char *pLine, size_t dwLength, size_t *pPosition, ScpiUnit *pUnit) {
  size_t position = *pPosition;
  if (pLine[position] == '*') {
    pUnit->common = true;
    position++;
    if (position >= dwLength || !IsLetter(pLine[position])) {
      return position < dwLength ? Misplaced(pLine[position]) : kErrorSyntax;
    }
  } else if (pLine[position] == ':') {
    pUnit->absolute = true;
    position++;
  }
  pUnit->dwHeaderOffset = static_cast<uint32_t>(position - (pUnit->common ? 1 : 0));
  int32_t mnemonics = 0;
  for (;;) {
    if (position >= dwLength || !IsLetter(pLine[position])) {
      return position < dwLength ? Misplaced(pLine[position]) : kErrorSyntax;
    }
    size_t start = position;
    while (position < dwLength &&
           (IsLetter(pLine[position]) || IsDigit(pLine[position]) || pLine[position] == '_')) {
      position++;
    }
    if (position - start > kScpiMnemonicChars) return kErrorMnemonicTooLong;
    if (++mnemonics > kScpiMaxMnemonics) return kErrorUndefinedHeader;
    if (pUnit->common || position >= dwLength || pLine[position] != ':') break;
    position++;
  }
  pUnit->dwHeaderLength = static_cast<uint32_t>(position - pUnit->dwHeaderOffset);
  if (position < dwLength && pLine[position] == '?') {
    pUnit->query = true;
    position++;
  }
  *pPosition = position;
  return kErrorNone;
}

}  // namespace

int32_t ParseScpiUnit(const char *pLine, size_t dwLength, size_t *pPosition, ScpiUnit *pUnit) {
  pUnit->common = pUnit->absolute = pUnit->query = false;
  pUnit->dwHeaderOffset = pUnit->dwHeaderLength = 0;
  pUnit->paramCount = 0;
  size_t position = *pPosition;
  SkipBlanks(pLine, dwLength, &position);
  if (position >= dwLength || pLine[position] == ';') {
    *pPosition = position < dwLength ? position + 1 : position;
    return kErrorNone;  // an empty unit
  }
  int32_t error = ParseHeader(pLine, dwLength, &position, pUnit);
  if (error != kErrorNone) return error;

  // The header ends the unit, or blanks part it from its parameters.
  if (position < dwLength && pLine[position] != ';' && !IsBlank(pLine[position])) {
    return Misplaced(pLine[position]);
  }
  SkipBlanks(pLine, dwLength, &position);
  bool more = position < dwLength && pLine[position] != ';';
  while (more) {
    ScpiParam param;
    error = ParseParam(pLine, dwLength, &position, &param);
    if (error != kErrorNone) return error;
    if (pUnit->paramCount < kScpiMaxParams) pUnit->aParams[pUnit->paramCount] = param;
    pUnit->paramCount++;
    SkipBlanks(pLine, dwLength, &position);
    if (position >= dwLength || pLine[position] == ';') break;
    if (pLine[position] != ',') {
      return IsText(pLine[position]) ? kErrorInvalidSeparator : kErrorInvalidCharacter;
    }
    position++;
    SkipBlanks(pLine, dwLength, &position);
    if (position >= dwLength) return kErrorMissingParameter;
  }
  *pPosition = position < dwLength ? position + 1 : position;
  return kErrorNone;
}

bool ScpiHeaderMatches(const char *szPattern, const char *pHeader, size_t dwLength) {
  PatternNode aNodes[kScpiMaxMnemonics];
  int32_t nodeCount = 0;
  if (!SplitPattern(szPattern, aNodes, &nodeCount)) return false;
  Mnemonic aTyped[kScpiMaxMnemonics];
  int32_t typedCount = 0;
  size_t start = 0;
  for (size_t i = 0; i <= dwLength; i++) {
    if (i < dwLength && pHeader[i] != ':') continue;
    if (typedCount == kScpiMaxMnemonics) return false;
    aTyped[typedCount++] = {pHeader + start, i - start};
    start = i + 1;
  }
  return MatchFrom(aNodes, nodeCount, aTyped, typedCount);
}

bool ScpiKeywordIs(const char *pLine, const ScpiParam &param, const char *szMnemonic) {
  return param.type == kParamKeyword &&
         MnemonicMatches(szMnemonic, strlen(szMnemonic), pLine + param.dwOffset, param.dwLength);
}

int32_t ScpiNumberValue(const char *pLine, const ScpiParam &param, ScpiUnitKind kind,
                        double *pValue) {
  struct Suffix {
    const char *szName;
    ScpiUnitKind kind;
    char siSuffix;  // the multiplier as ParseSiNumber writes it, or 0
  };
  static const Suffix kSuffixes[] = {
      {"HZ", kUnitHertz, 0}, {"KHZ", kUnitHertz, 'k'}, {"MHZ", kUnitHertz, 'M'},
      {"V", kUnitVolts, 0},  {"MV", kUnitVolts, 'm'},  {"V", kUnitVpp, 0},
      {"MV", kUnitVpp, 'm'}, {"VPP", kUnitVpp, 0},
  };
  char siSuffix = 0;
  if (param.dwSuffixLength > 0) {
    if (kind == kUnitNone) return kErrorSuffixNotAllowed;
    const Suffix *pFound = nullptr;
    for (const Suffix &suffix : kSuffixes) {
      if (suffix.kind == kind && strlen(suffix.szName) == param.dwSuffixLength &&
          MnemonicMatches(suffix.szName, param.dwSuffixLength, pLine + param.dwSuffixOffset,
                          param.dwSuffixLength)) {
        pFound = &suffix;
      }
    }
    if (pFound == nullptr) return kErrorInvalidSuffix;
    siSuffix = pFound->siSuffix;
  }
  // ParseSiNumber reads the same decimal forms and shifts the exponent by its suffix, so that
  // 0.1KHZ is exactly the double nearest 100.
  char szNumber[kMaxNumberText + 2];
  size_t dwCopy = param.dwLength;
  if (dwCopy > static_cast<size_t>(kMaxNumberText)) dwCopy = kMaxNumberText;
  memcpy(szNumber, pLine + param.dwOffset, dwCopy);
  if (siSuffix != 0) szNumber[dwCopy++] = siSuffix;
  szNumber[dwCopy] = '\0';
  return ParseSiNumber(szNumber, pValue) ? kErrorNone : kErrorExponentTooLarge;
}

int32_t ParseScpiNumber(const char *pText, size_t dwLength, ScpiUnitKind kind, double *pValue) {
  size_t position = 0;
  SkipBlanks(pText, dwLength, &position);
  if (position >= dwLength) return kErrorMissingParameter;
  ScpiParam param;
  int32_t error = ParseParam(pText, dwLength, &position, &param);
  if (error != kErrorNone) return error;
  if (param.type != kParamNumber) return kErrorDataType;
  SkipBlanks(pText, dwLength, &position);
  if (position < dwLength) {
    return IsText(pText[position]) ? kErrorInvalidSeparator : kErrorInvalidCharacter;
  }
  return ScpiNumberValue(pText, param, kind, pValue);
}

void FormatScpiNr3(double value, char *szText, size_t size) {
  if (size == 0) return;
  enum : int32_t { kDigits = 15 };
  char aDigits[kSignificantBuffer];
  int32_t exponent10 = 0;
  RoundSignificant(value, kDigits, aDigits, &exponent10);
  char szOut[kScpiNr3Size];
  size_t length = 0;
  szOut[length++] = value < 0.0 ? '-' : '+';
  szOut[length++] = aDigits[0];
  szOut[length++] = '.';
  for (int32_t i = 1; i < kDigits; i++) szOut[length++] = aDigits[i];
  szOut[length++] = 'E';
  szOut[length++] = exponent10 < 0 ? '-' : '+';
  int32_t magnitude = exponent10 < 0 ? -exponent10 : exponent10;
  if (magnitude >= 100) szOut[length++] = static_cast<char>('0' + magnitude / 100);
  szOut[length++] = static_cast<char>('0' + magnitude / 10 % 10);
  szOut[length++] = static_cast<char>('0' + magnitude % 10);
  szOut[length] = '\0';
  size_t copy = length < size - 1 ? length : size - 1;
  memcpy(szText, szOut, copy);
  szText[copy] = '\0';
}
