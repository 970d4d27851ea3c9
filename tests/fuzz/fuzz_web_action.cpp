// A request body through the web panel's pure half: an action that parses queues no error and
// leaves the state JSON; the bytes as a sign-in form and a Cookie header: no read past the text,
// a token no longer than the body, a session id a part of the header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/fuzz/instrument_check.h"
#include "web_panel/page_model.h"
#include "web_panel/web_access.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t size) {
  const char *pText = reinterpret_cast<const char *>(pData);
  const std::string text(pText, size);
  std::string value;
  if (FindFormField(pText, size, "token", &value) && value.size() + 6 > size) std::abort();
  if (FindCookie(pText, size, "varnolt_session_8025", &value) &&
      text.find(value) == std::string::npos) {
    std::abort();
  }

  WebAction action = {};
  if (!ParseWebAction(pText, size, &action)) return 0;
  Instrument instrument;
  ResetInstrument(&instrument, 0, "SN", "1.0.0");
  const InstrumentGenerator actions = {nullptr, OpenAlways, WriteChecked, ReportAlways};
  for (int32_t i = 0; i < 3; i++) RunWebAction(&instrument, actions, action);
  if (instrument.errorCount != 0) std::abort();  // an action's error is its page's, never queued
  const std::string state = WebStateJson(instrument, {true, true, "COM5"}, {"SN", "1.0.0", {}, ""});
  if (!nlohmann::json::accept(state)) std::abort();
  return 0;
}
