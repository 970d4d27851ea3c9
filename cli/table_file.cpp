#include "cli/table_file.h"

#include <cstdio>
#include <iterator>

namespace {

bool IsSeparator(char c) {
  return c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The token as it can be shown: at most 24 characters, non-printing ones as '?'.
void QuoteToken(const char *pToken, size_t dwLength, char *szQuoted, size_t size) {
  size_t shown = dwLength < 24 ? dwLength : 24;
  size_t out = 0;
  for (size_t i = 0; i < shown && out + 1 < size; i++) {
    unsigned char c = static_cast<unsigned char>(pToken[i]);
    szQuoted[out++] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  }
  for (const char *pc = dwLength > shown ? "..." : ""; *pc != '\0' && out + 1 < size; pc++) {
    szQuoted[out++] = *pc;
  }
  if (size > 0) szQuoted[out] = '\0';
}

}  // namespace

bool ParseTableText(const char *pText, size_t dwLength, uint16_t samples[360], int32_t *pLine,
                    char *szReason, size_t reasonSize) {
  int32_t count = 0;
  int32_t line = 1;
  size_t index = 0;
  while (index < dwLength) {
    size_t lineEnd = index;
    while (lineEnd < dwLength && pText[lineEnd] != '\n') lineEnd++;
    size_t first = index;
    while (first < lineEnd && IsBlank(pText[first])) first++;
    if (first < lineEnd && pText[first] != '#') {
      size_t position = first;
      while (position < lineEnd) {
        while (position < lineEnd && IsSeparator(pText[position])) position++;
        if (position == lineEnd) break;
        size_t tokenStart = position;
        uint32_t value = 0;
        bool isNumber = true;
        while (position < lineEnd && !IsSeparator(pText[position])) {
          char c = pText[position];
          if (c < '0' || c > '9') {
            isNumber = false;
          } else if (value <= 65535) {
            value = value * 10 + static_cast<uint32_t>(c - '0');
          }
          position++;
        }
        char szToken[40];
        QuoteToken(pText + tokenStart, position - tokenStart, szToken, std::size(szToken));
        *pLine = line;
        if (!isNumber) {
          snprintf(szReason, reasonSize, "\"%s\" is not a whole number", szToken);
          return false;
        }
        if (value > 65535) {
          snprintf(szReason, reasonSize, "%s is above 65535", szToken);
          return false;
        }
        if (count == 360) {
          snprintf(szReason, reasonSize, "more than 360 samples");
          return false;
        }
        samples[count++] = static_cast<uint16_t>(value);
      }
    }
    index = lineEnd + 1;
    if (lineEnd < dwLength) line++;
  }
  if (count < 360) {
    // The line the file ends on: the last one that has a character.
    *pLine = (dwLength > 0 && pText[dwLength - 1] == '\n') ? line - 1 : line;
    if (*pLine < 1) *pLine = 1;
    snprintf(szReason, reasonSize, "only %d samples; a table has 360", static_cast<int>(count));
    return false;
  }
  return true;
}
