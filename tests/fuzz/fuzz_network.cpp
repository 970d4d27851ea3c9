// What a client sends over the network, under ASan and UBSan; the first byte says how the rest
// arrives. Odd: as SCPI bytes in reads of 1..16 bytes (its bits 1-4) to an instrument on the
// jumper of its top two bits, through the line reader (read_lines.h's checks): the lines do not
// depend on the reads. Even: as a sign-in form, a Cookie header and a web action's body, whose
// error is answered to its page, never queued. Either way the generator gets whole starts (741
// bytes) and stops only. (What the answers and values say: the SCPI and web panel tests.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scpi/scpi_commands.h"
#include "tests/scpi/read_lines.h"
#include "web_panel/page_model.h"
#include "web_panel/web_access.h"

namespace {

bool WriteWhole(void *, const WriteSequence &sequence) {
  if (sequence.count != 1 && (sequence.count != kStartWrites || sequence.totalBytes != 741)) {
    std::abort();
  }
  return true;
}

const InstrumentGenerator kGenerator = {nullptr, [](void *) { return true; }, WriteWhole,
                                        [](void *, uint8_t, int32_t) { return kWaitReport; }};

void FuzzScpi(const uint8_t *pBytes, size_t size, size_t chunk, int32_t jumper) {
  static Instrument instrument;
  ResetInstrument(&instrument, jumper, "SN", "1");
  // Past a hundred lines a repeated input mostly repeats.
  const std::vector<ReadLine> lines = ReadScpiLineRecords(pBytes, size, chunk);
  if (ReadScpiLineRecords(pBytes, size, size) != lines) std::abort();
  for (size_t i = 0; i < lines.size() && i < 100; i++) {
    std::string answer;
    ScpiValueList list = lines[i].list;
    list.pValues = lines[i].values.data();
    RunScpiLine(&instrument, kGenerator, lines[i].text.data(), lines[i].text.size(), list, &answer);
  }
}

void FuzzWeb(const char *pText, size_t size) {
  std::string value;
  FindFormField(pText, size, "token", &value);
  FindCookie(pText, size, "varnolt_session_8025", &value);
  WebAction action = {};
  if (!ParseWebAction(pText, size, &action)) return;
  Instrument instrument;
  ResetInstrument(&instrument, 0, "SN", "1.0.0");
  for (int32_t i = 0; i < 3; i++) RunWebAction(&instrument, kGenerator, action);
  if (instrument.errorCount != 0) std::abort();
  WebStateJson(instrument, {true, true, "COM5"}, {"SN", "1.0.0", {}, ""});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  if (data[0] & 1) {
    FuzzScpi(data + 1, size - 1, 1 + (data[0] >> 1 & 0x0F), data[0] >> 6);
  } else {
    FuzzWeb(reinterpret_cast<const char *>(data + 1), size - 1);
  }
  return 0;
}
