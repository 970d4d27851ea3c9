// A client's bytes through the line reader and every line through the instrument: the lines and
// their DATA values do not depend on how the bytes are split into reads, no line keeps more than
// 64 KiB nor more values than the instrument takes, and whatever runs,
// the error queue holds at most 16, the answers are one line of printable text, and the settings
// stay codes the generator takes. The generator's answers to starts and stops vary with the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scpi/scpi_commands.h"
#include "scpi/scpi_line_reader.h"

namespace {

struct FakeGenerator {
  const uint8_t *pOutcomes;  // one byte a start or stop: whether it is there, and what it says
  size_t count;
  size_t next;
};

uint8_t NextOutcome(void *context) {
  FakeGenerator *generator = static_cast<FakeGenerator *>(context);
  if (generator->count == 0) return 0;
  return generator->pOutcomes[generator->next++ % generator->count];
}

bool EnsureOpen(void *context) {
  return (NextOutcome(context) & 0x01) == 0;
}

bool Write(void *context, const WriteSequence &sequence) {
  if (sequence.count != 1 && (sequence.count != kStartWrites || sequence.totalBytes != 741)) {
    std::abort();
  }
  return (NextOutcome(context) & 0x02) == 0;
}

WaitOutcome WaitReport(void *, uint8_t, int32_t) {
  return kWaitReport;
}

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

// The lines of the bytes fed in reads of `chunk` bytes (a line over the limit as "\0too long").
std::vector<ReadLine> ReadLines(const uint8_t *pBytes, size_t size, size_t chunk) {
  static ScpiLineReader reader;
  ResetScpiLineReader(&reader);
  std::vector<ReadLine> lines;
  for (size_t start = 0; start < size; start += chunk) {
    size_t count = size - start < chunk ? size - start : chunk;
    const uint8_t *pChunk = pBytes + start;
    while (count > 0) {
      size_t used = 0;
      ScpiLineStep step = TakeScpiLineBytes(&reader, pChunk, count, &used);
      // The text stays within 64 KiB, the values kept within the instrument's bound.
      if (used == 0 || used > count || (step == kLineIncomplete && used != count) ||
          reader.dwLength > kScpiLineLimit || reader.values.size() > kInstrumentMaxPoints ||
          (reader.list.present && reader.list.dwOffset > reader.dwLength)) {
        std::abort();
      }
      if (step == kLineComplete) {
        lines.push_back({std::string(reader.aLine, reader.dwLength), reader.list, reader.values});
      } else if (step == kLineTooLong) {
        lines.push_back({std::string(1, '\0') + "too long", ScpiValueList{}, {}});
      }
      pChunk += used;
      count -= used;
    }
  }
  return lines;
}

void CheckState(const Instrument &instrument, const std::string &answer) {
  const GeneratorSettings &settings = instrument.settings;
  if (instrument.errorCount < 0 || instrument.errorCount > kInstrumentErrorQueueSize ||
      settings.frequencyCode < 7 || settings.offsetCode > 62 || settings.amplitudeCode < 255 ||
      settings.amplitudeCode > 32767 || settings.dutyPercent > 100 || settings.spwIndex < 0 ||
      settings.spwIndex > 4 || settings.jumperIndex < 0 || settings.jumperIndex > 3 ||
      settings.waveformIndex < 0 || settings.waveformIndex > 6 || instrument.userPoints < 0 ||
      instrument.userPoints > kInstrumentMaxPoints ||
      (instrument.rampSymmetry != 0 && instrument.rampSymmetry != 50 &&
       instrument.rampSymmetry != 100)) {
    std::abort();
  }
  for (char c : answer) {
    if (c < 0x20 || c > 0x7E) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  // The first byte: the size of the reads, and 0xFF that the rest repeats past the line limit;
  // 0xFE that it follows "DATA VOLATILE," and repeats past twice that limit, then an LF (a whole
  // line of DATA values, more than the instrument takes when a value and its comma are 2 bytes);
  // 0xFD the same past the limit of a line with DATA values, without the LF (rarely: such inputs
  // take ten to a hundred times as long as others); the second: how many of the following bytes
  // answer the starts and stops.
  const size_t chunk = 1 + (data[0] & 0x0F);
  const size_t outcomes = data[1] % 8 < size - 2 ? data[1] % 8 : size - 2;
  FakeGenerator generator = {data + 2, outcomes, 0};
  std::string bytes(reinterpret_cast<const char *>(data + 2 + outcomes), size - 2 - outcomes);
  if (data[0] >= 0xFD && !bytes.empty()) {
    const std::string pattern = bytes;
    const size_t limit = data[0] == 0xFF   ? kScpiLineLimit
                         : data[0] == 0xFE ? 2 * kScpiLineLimit
                                           : kScpiDataLineLimit;
    if (data[0] != 0xFF) bytes = "DATA VOLATILE," + bytes;
    while (bytes.size() <= limit) bytes += pattern;
    if (data[0] == 0xFE) bytes += '\n';
  }
  const uint8_t *pBytes = reinterpret_cast<const uint8_t *>(bytes.data());
  static Instrument instrument;
  ResetInstrument(&instrument, data[1] >> 6, "SN", "1");
  const InstrumentGenerator actions = {&generator, EnsureOpen, Write, WaitReport};
  // The same lines whatever the reads (a long input is read once only); the lines after the first
  // hundred would mostly repeat those of a repeated input.
  const std::vector<ReadLine> lines = ReadLines(pBytes, bytes.size(), chunk);
  if (bytes.size() <= kScpiLineLimit && ReadLines(pBytes, bytes.size(), bytes.size()) != lines) {
    std::abort();
  }
  for (size_t i = 0; i < lines.size() && i < 100; i++) {
    std::string answer;
    ScpiValueList list = lines[i].list;
    list.pValues = lines[i].values.data();
    RunScpiLine(&instrument, actions, lines[i].text.data(), lines[i].text.size(), list, &answer);
    CheckState(instrument, answer);
  }
  return 0;
}
