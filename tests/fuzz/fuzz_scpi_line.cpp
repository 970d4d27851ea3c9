// A client's bytes through the line reader (read_lines.h's checks) and every line through the
// instrument: the lines do not depend on how the bytes are split into reads, and whatever runs,
// the answers are one line of printable text and the generator gets whole starts and stops.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scpi/scpi_commands.h"
#include "tests/fuzz/instrument_check.h"
#include "tests/scpi/read_lines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  // The first byte: the size of the reads, and the jumper the instrument starts with.
  const size_t chunk = 1 + (data[0] & 0x0F);
  const uint8_t *pBytes = data + 1;
  static Instrument instrument;
  ResetInstrument(&instrument, data[0] >> 6, "SN", "1");
  const InstrumentGenerator actions = {nullptr, OpenAlways, WriteChecked, ReportAlways};
  // The same lines whatever the reads; past a hundred lines a repeated input mostly repeats.
  const std::vector<ReadLine> lines = ReadScpiLineRecords(pBytes, size - 1, chunk);
  if (ReadScpiLineRecords(pBytes, size - 1, size - 1) != lines) std::abort();
  for (size_t i = 0; i < lines.size() && i < 100; i++) {
    std::string answer;
    ScpiValueList list = lines[i].list;
    list.pValues = lines[i].values.data();
    RunScpiLine(&instrument, actions, lines[i].text.data(), lines[i].text.size(), list, &answer);
    for (char c : answer) {
      if (c < 0x20 || c > 0x7E) std::abort();  // one line of printable text
    }
  }
  return 0;
}
