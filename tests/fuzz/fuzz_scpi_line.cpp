// A client's bytes through the line reader (read_lines.h's checks) and every line through the
// instrument: the lines do not depend on how the bytes are split into reads, and whatever runs,
// the answers are one line of printable text and the instrument stays valid (instrument_check.h).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scpi/scpi_commands.h"
#include "tests/fuzz/instrument_check.h"
#include "tests/scpi/read_lines.h"

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
  CheckWrite(sequence);
  return (NextOutcome(context) & 0x02) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  // The first byte: the size of the reads; 0xFF: the rest repeats past the line limit; 0xFE: after
  // "DATA VOLATILE," past twice that, then an LF (more values than the instrument takes); 0xFD:
  // the same past the limit of a DATA line, no LF (rare: slow). The second: how many of the
  // following bytes answer the starts and stops.
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
  const InstrumentGenerator actions = {&generator, EnsureOpen, Write, ReportAlways};
  // The same lines whatever the reads (a long input is read once only); past a hundred lines a
  // repeated input mostly repeats.
  const std::vector<ReadLine> lines = ReadScpiLineRecords(pBytes, bytes.size(), chunk);
  if (bytes.size() <= kScpiLineLimit &&
      ReadScpiLineRecords(pBytes, bytes.size(), bytes.size()) != lines) {
    std::abort();
  }
  for (size_t i = 0; i < lines.size() && i < 100; i++) {
    std::string answer;
    ScpiValueList list = lines[i].list;
    list.pValues = lines[i].values.data();
    RunScpiLine(&instrument, actions, lines[i].text.data(), lines[i].text.size(), list, &answer);
    CheckInstrument(instrument);
    for (char c : answer) {
      if (c < 0x20 || c > 0x7E) std::abort();  // one line of printable text
    }
  }
  return 0;
}
