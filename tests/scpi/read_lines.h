#pragma once
// The lines that a client's bytes give in reads of `chunk` bytes (kTooLong: a line dropped as too
// long). Aborts on a read taken wrongly (none, too much, or a part while the line goes on), a line
// over the limit, more DATA values than the instrument takes, or values placed past the line.
#include <cstdlib>
#include <string>
#include <vector>

#include "scpi/scpi_line_reader.h"

const std::string kTooLong = std::string(1, '\0') + "too long";

// A line as the reader gave it: its text, its DATA values and their count, error and place.
struct ReadLine {
  std::string text;
  ScpiValueList list;
  std::vector<double> values;
  bool operator==(const ReadLine &other) const {
    return text == other.text && values == other.values && list.present == other.list.present &&
           list.dwOffset == other.list.dwOffset && list.count == other.list.count &&
           list.error == other.list.error;
  }
};

inline std::vector<ReadLine> ReadScpiLineRecords(const uint8_t *pBytes, size_t size, size_t chunk) {
  static ScpiLineReader reader;
  ResetScpiLineReader(&reader);
  std::vector<ReadLine> lines;
  for (size_t start = 0; start < size; start += chunk) {
    size_t count = size - start < chunk ? size - start : chunk;
    const uint8_t *pChunk = pBytes + start;
    while (count > 0) {
      size_t used = 0;
      const ScpiLineStep step = TakeScpiLineBytes(&reader, pChunk, count, &used);
      if (used == 0 || used > count || (step == kLineIncomplete && used != count) ||
          reader.dwLength > kScpiLineLimit || reader.values.size() > kInstrumentMaxPoints ||
          (reader.list.present && reader.list.dwOffset > reader.dwLength)) {
        std::abort();
      }
      if (step == kLineComplete) {
        lines.push_back({std::string(reader.aLine, reader.dwLength), reader.list, reader.values});
      }
      if (step == kLineTooLong) lines.push_back({kTooLong, ScpiValueList{}, {}});
      pChunk += used;
      count -= used;
    }
  }
  return lines;
}
