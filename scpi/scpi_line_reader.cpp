#include "scpi/scpi_line_reader.h"

#include <cstring>

namespace {

// Where a '#' has led: plain text, the digit that counts the length's digits, the length's
// digits, the block's bytes.
enum BlockState : int32_t { kInText = 0, kAfterHash = 1, kInLength = 2, kInBlock = 3 };

void Keep(ScpiLineReader *reader, uint8_t byte) {
  if (reader->overflow) return;
  if (reader->dwLength == kScpiLineLimit) {
    reader->overflow = true;
    return;
  }
  reader->aLine[reader->dwLength++] = static_cast<char>(byte);
}

// A byte of text: quotes open and close strings, a '#' outside them may start a block.
void TakeText(ScpiLineReader *reader, uint8_t byte) {
  if (reader->quote != 0) {
    if (byte == static_cast<uint8_t>(reader->quote)) reader->quote = 0;
  } else if (byte == '"' || byte == '\'') {
    reader->quote = static_cast<char>(byte);
  } else if (byte == '#') {
    reader->blockState = kAfterHash;
  }
  Keep(reader, byte);
}

}  // namespace

void ResetScpiLineReader(ScpiLineReader *reader) {
  reader->dwLength = 0;
  reader->overflow = false;
  reader->pendingCR = false;
  reader->ended = false;
  reader->quote = 0;
  reader->blockState = kInText;
  reader->blockDigits = 0;
  reader->blockLeft = 0;
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
      reader->ended = true;
      *pUsed = i + 1;
      return reader->overflow ? kLineTooLong : kLineComplete;
    }
    if (reader->pendingCR) {
      reader->pendingCR = false;
      Keep(reader, '\r');
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
