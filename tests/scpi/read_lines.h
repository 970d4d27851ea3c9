#pragma once
// The lines that a client's bytes give when they arrive in reads of `chunk` bytes, a line dropped
// as too long shown as kTooLong. A read the reader takes wrongly (none of it, more than it, or a
// part of it while the line goes on) or a line over the limit aborts.
#include <cstdlib>
#include <string>
#include <vector>

#include "scpi/scpi_line_reader.h"

const std::string kTooLong = std::string(1, '\0') + "too long";

inline std::vector<std::string> ReadScpiLines(const uint8_t *pBytes, size_t size, size_t chunk) {
  static ScpiLineReader reader;
  ResetScpiLineReader(&reader);
  std::vector<std::string> lines;
  for (size_t start = 0; start < size; start += chunk) {
    size_t count = size - start < chunk ? size - start : chunk;
    const uint8_t *pChunk = pBytes + start;
    while (count > 0) {
      size_t used = 0;
      const ScpiLineStep step = TakeScpiLineBytes(&reader, pChunk, count, &used);
      if (used == 0 || used > count || (step == kLineIncomplete && used != count)) std::abort();
      if (step == kLineComplete && reader.dwLength > kScpiLineLimit) std::abort();
      if (step == kLineComplete) lines.push_back(std::string(reader.aLine, reader.dwLength));
      if (step == kLineTooLong) lines.push_back(kTooLong);
      pChunk += used;
      count -= used;
    }
  }
  return lines;
}
