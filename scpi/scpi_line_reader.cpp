#include "scpi/scpi_line_reader.h"

#include <cstring>

#include "scpi/scpi_parser.h"

namespace {

// Where a '#' has led: plain text, the digit that counts the length's digits, the length's
// digits, the block's bytes.
enum BlockState : int32_t { kInText = 0, kAfterHash = 1, kInLength = 2, kInBlock = 3 };

// Counts a byte of the line against its limit: false once the line is over it.
bool Count(ScpiLineReader *reader, bool kept) {
  if (reader->overflow) return false;
  if ((reader->list.present && reader->dwTotal == kScpiDataLineLimit) ||
      (kept && reader->dwLength == kScpiLineLimit)) {
    reader->overflow = true;
    return false;
  }
  reader->dwTotal++;
  return true;
}

void Keep(ScpiLineReader *reader, uint8_t byte) {
  if (Count(reader, true)) reader->aLine[reader->dwLength++] = static_cast<char>(byte);
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Whether a unit's text up to its first ',' is `DATA <keyword>`: a ':' in front, blanks and any
// case allowed. The command table decides what the header and the keyword mean.
bool IsDataUnit(const char *pText, size_t dwLength) {
  size_t i = 0;
  while (i < dwLength && IsBlank(pText[i])) i++;
  if (i < dwLength && pText[i] == ':') i++;
  const char kData[] = "DATA";
  for (size_t k = 0; k + 1 < sizeof(kData); k++, i++) {
    if (i >= dwLength || (pText[i] & ~0x20) != kData[k]) return false;
  }
  const size_t afterHeader = i;
  while (i < dwLength && IsBlank(pText[i])) i++;
  if (i == afterHeader || i >= dwLength || !IsLetter(pText[i])) return false;
  while (i < dwLength &&
         (IsLetter(pText[i]) || (pText[i] >= '0' && pText[i] <= '9') || pText[i] == '_')) {
    i++;
  }
  while (i < dwLength && IsBlank(pText[i])) i++;
  return i == dwLength;
}

// The value whose text has come: into the list, or its fault. Past the first fault none is read,
// and past kInstrumentMaxPoints values they are only counted: there are too many, whatever they
// are.
void EndValue(ScpiLineReader *reader) {
  ScpiValueList &list = reader->list;
  if (list.error == kErrorNone && !reader->overflow && list.count >= kInstrumentMaxPoints) {
    list.count++;
  } else if (list.error == kErrorNone && !reader->overflow) {
    double value = 0.0;
    list.error = reader->dwValueText > static_cast<uint32_t>(kScpiValueTextSize)
                     ? kErrorTooManyDigits
                     : ParseScpiNumber(reader->aValueText, reader->dwValueText, kUnitNone, &value);
    if (list.error == kErrorNone) {
      reader->values.push_back(value);
      list.count++;
    }
  }
  reader->dwValueText = 0;
}

// A byte of a DATA unit's values: a ',' ends one, a ';' ends the unit (kept: units follow).
void TakeValueByte(ScpiLineReader *reader, uint8_t byte) {
  if (byte == ';') {
    EndValue(reader);
    reader->inValues = false;
    Keep(reader, byte);
    reader->dwUnitStart = reader->dwLength;
    reader->unitSeen = false;
    return;
  }
  if (!Count(reader, false)) return;
  if (byte == ',') {
    EndValue(reader);
  } else if (reader->dwValueText < static_cast<uint32_t>(kScpiValueTextSize)) {
    reader->aValueText[reader->dwValueText++] = static_cast<char>(byte);
  } else {
    reader->dwValueText = kScpiValueTextSize + 1;  // too long to be a number
  }
}

// A unit's first ',': the values of the line's first DATA unit are read apart from the line.
void TakeFirstComma(ScpiLineReader *reader) {
  reader->unitSeen = true;
  if (reader->list.present || reader->overflow ||
      !IsDataUnit(reader->aLine + reader->dwUnitStart, reader->dwLength - reader->dwUnitStart)) {
    Keep(reader, ',');
    return;
  }
  while (reader->dwLength > reader->dwUnitStart && IsBlank(reader->aLine[reader->dwLength - 1])) {
    reader->dwLength--;
  }
  reader->list.present = true;
  reader->list.dwOffset = reader->dwLength;
  reader->inValues = true;
  reader->dwValueText = 0;
  Count(reader, false);
}

// A byte of text: quotes open and close strings, a '#' outside them may start a block, a ';'
// outside them starts a unit.
void TakeText(ScpiLineReader *reader, uint8_t byte) {
  if (reader->inValues) {
    TakeValueByte(reader, byte);
    return;
  }
  if (reader->quote != 0) {
    if (byte == static_cast<uint8_t>(reader->quote)) reader->quote = 0;
  } else if (byte == '"' || byte == '\'') {
    reader->quote = static_cast<char>(byte);
  } else if (byte == '#') {
    reader->blockState = kAfterHash;
  } else if (byte == ';') {
    Keep(reader, byte);
    reader->dwUnitStart = reader->dwLength;
    reader->unitSeen = false;
    return;
  } else if (byte == ',' && !reader->unitSeen) {
    TakeFirstComma(reader);
    return;
  }
  Keep(reader, byte);
}

}  // namespace

void ResetScpiLineReader(ScpiLineReader *reader) {
  reader->dwLength = 0;
  reader->dwTotal = 0;
  reader->overflow = false;
  reader->pendingCR = false;
  reader->ended = false;
  reader->quote = 0;
  reader->blockState = kInText;
  reader->blockDigits = 0;
  reader->blockLeft = 0;
  reader->dwUnitStart = 0;
  reader->unitSeen = false;
  reader->inValues = false;
  reader->dwValueText = 0;
  reader->list = ScpiValueList{};
  reader->values.clear();
}

ScpiLineStep TakeScpiLineBytes(ScpiLineReader *reader, const uint8_t *pBytes, size_t dwCount,
                               size_t *pUsed) {
  for (size_t i = 0; i < dwCount; i++) {
    if (reader->ended) ResetScpiLineReader(reader);
    const uint8_t byte = pBytes[i];
    if (reader->blockState == kInBlock) {
      Keep(reader, byte);
      if (--reader->blockLeft == 0) reader->blockState = kInText;
      continue;
    }
    if (byte == '\n') {
      // The CR before it, if any, is left out.
      if (reader->inValues) EndValue(reader);
      reader->list.pValues = reader->values.data();
      reader->ended = true;
      *pUsed = i + 1;
      return reader->overflow ? kLineTooLong : kLineComplete;
    }
    if (reader->pendingCR) {
      reader->pendingCR = false;
      TakeText(reader, '\r');
    }
    if (byte == '\r') {
      reader->pendingCR = true;
      reader->blockState = kInText;
      continue;
    }
    if (reader->blockState == kAfterHash) {
      if (byte >= '1' && byte <= '9') {
        reader->blockState = kInLength;
        reader->blockDigits = byte - '0';
        reader->blockLeft = 0;
        Keep(reader, byte);
        continue;
      }
      reader->blockState = kInText;
    } else if (reader->blockState == kInLength) {
      if (byte >= '0' && byte <= '9') {
        reader->blockLeft = reader->blockLeft * 10 + (byte - '0');
        if (--reader->blockDigits == 0) {
          reader->blockState = reader->blockLeft > 0 ? kInBlock : kInText;
        }
        Keep(reader, byte);
        continue;
      }
      reader->blockState = kInText;
    }
    TakeText(reader, byte);
  }
  *pUsed = dwCount;
  return kLineIncomplete;
}

bool IsHttpRequestLine(const char *pLine, size_t dwLength) {
  size_t i = 0;
  while (i < dwLength && pLine[i] >= 'A' && pLine[i] <= 'Z') i++;
  if (i == 0 || i >= dwLength || pLine[i] != ' ') return false;
  const size_t targetStart = ++i;
  while (i < dwLength && pLine[i] != ' ' && pLine[i] > 0x20) i++;
  if (i == targetStart || i >= dwLength || pLine[i] != ' ') return false;
  const char kVersion[] = "HTTP/1.";
  const size_t dwVersion = sizeof(kVersion) - 1;
  i++;
  if (dwLength - i != dwVersion + 1 || memcmp(pLine + i, kVersion, dwVersion) != 0) return false;
  const char minor = pLine[i + dwVersion];
  return minor == '0' || minor == '1';
}
