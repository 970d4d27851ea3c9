#include "web_panel/page_model.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include <nlohmann/json.hpp>

#include "instrument/instrument_errors.h"
#include "link/link_texts.h"
#include "preview/preview_model.h"
#include "preview/settings_texts.h"
#include "res/list_texts.h"
#include "signal/si_number.h"

namespace {

enum : int32_t {
  kUserTableEntry = 7,  // the waveform list's entry for the user waveform, once loaded
  kMaxJsonDepth = 4,    // an action is one flat object: deeper bodies are refused unread
  kMaxTypedText = 64,   // a typed value; longer texts are no number of a field
  kPointText = 16,      // "738,379 "
};

const char *const kWaveTexts[] = {VARNOLT_TEXT_SINE_WAVE,         VARNOLT_TEXT_SQUARE_WAVE,
                                  VARNOLT_TEXT_TRIANGLE_WAVE,     VARNOLT_TEXT_SAW_TOOTH_WAVE,
                                  VARNOLT_TEXT_REVERSED_SAW_WAVE, VARNOLT_TEXT_RANDOM_WAVE,
                                  VARNOLT_TEXT_ZERO_CALIBRATION,  "User waveform"};
const char *const kSpwTexts[] = {VARNOLT_TEXT_SPW_360, VARNOLT_TEXT_SPW_180, VARNOLT_TEXT_SPW_90,
                                 VARNOLT_TEXT_SPW_45, VARNOLT_TEXT_SPW_24};
const char *const kJumperTexts[] = {VARNOLT_TEXT_J1, VARNOLT_TEXT_J2, VARNOLT_TEXT_J3,
                                    VARNOLT_TEXT_J4};
const char *const kFieldNames[] = {"frequency", "offset", "amplitude"};
const char *const kChoiceNames[] = {"wave", "spw", "duty", "jumper"};
// The units a typed value may end with, after its number.
const char *const kFieldUnits[][2] = {{"Hz", "Hz"}, {"V", "V"}, {"Vpp", "V"}};

// The link's texts are ASCII: each UTF-16 unit is one character.
std::string Narrow(const char16_t *szText) {
  std::string text;
  for (; *szText != u'\0'; szText++) text.push_back(static_cast<char>(*szText));
  return text;
}

std::string StatusText(const Instrument &instrument, const WebLink &link) {
  if (!link.connected) return Narrow(kTextConnectionLost);
  if (!link.heard) return Narrow(kTextConnectedAs) + link.portName;
  return Narrow(instrument.outputOn ? kTextRunning : kTextStopped);
}

// Brackets outside strings nested deeper than kMaxJsonDepth: such a body is no action.
bool TooDeep(const char *pBody, size_t dwLength) {
  int32_t depth = 0;
  bool inString = false;
  for (size_t i = 0; i < dwLength; i++) {
    char c = pBody[i];
    if (inString) {
      if (c == '\\') {
        i++;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return true;
    } else if (c == ']' || c == '}') {
      depth--;
    }
  }
  return false;
}

template <size_t N>
int32_t IndexOf(const char *const (&aNames)[N], const std::string &name) {
  for (size_t i = 0; i < N; i++) {
    if (name == aNames[i]) return static_cast<int32_t>(i);
  }
  return -1;
}

// A typed value: blanks around it, the number with an SI suffix, then the field's unit if any.
bool ReadTypedValue(const std::string &text, InstrumentField field, double *pValue) {
  if (text.size() > kMaxTypedText) return false;
  size_t first = text.find_first_not_of(" \t");
  size_t last = text.find_last_not_of(" \t");
  if (first == std::string::npos) return false;
  std::string number = text.substr(first, last - first + 1);
  for (const char *szUnit : kFieldUnits[field]) {
    size_t dwUnit = strlen(szUnit);
    if (number.size() > dwUnit && number.compare(number.size() - dwUnit, dwUnit, szUnit) == 0) {
      number.erase(number.size() - dwUnit);
      while (!number.empty() && number.back() == ' ') number.pop_back();
      break;
    }
  }
  return ParseSiNumber(number.c_str(), pValue);
}

void AppendPoints(std::string *pSvg, const PreviewPoint *aPoints, int32_t count) {
  char szPoint[kPointText];
  for (int32_t i = 0; i < count; i++) {
    snprintf(szPoint, std::size(szPoint), i == 0 ? "%d,%d" : " %d,%d",
             static_cast<int>(aPoints[i].x), static_cast<int>(aPoints[i].y));
    *pSvg += szPoint;
  }
}

void AppendPolyline(std::string *pSvg, const PreviewPoint *aPoints, int32_t count,
                    PreviewColour colour) {
  char szStroke[40];
  snprintf(szStroke, std::size(szStroke), "\" stroke=\"#%02x%02x%02x\"/>", colour.red, colour.green,
           colour.blue);
  *pSvg += "<polyline points=\"";
  AppendPoints(pSvg, aPoints, count);
  *pSvg += szStroke;
}

std::string XmlEscaped(const std::string &text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped.push_back(c);
    }
  }
  return escaped;
}

std::string Lower(std::string text) {
  for (char &c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

std::string WebStateJson(const Instrument &instrument, const WebLink &link,
                         const WebIdentity &identity) {
  const GeneratorSettings &settings = instrument.settings;
  const SettingsTexts texts = BuildSettingsTexts(settings);
  nlohmann::json waves = nlohmann::json::array();
  for (int32_t i = 0; i < kUserTableEntry + (instrument.userTableLoaded ? 1 : 0); i++) {
    waves.push_back(kWaveTexts[i]);
  }
  nlohmann::json state = {
      {"identity",
       {{"manufacturer", "VARNOLT"},
        {"model", "DDS generator"},
        {"serial", identity.serial.empty() ? "0" : identity.serial},
        {"version", identity.version},
        {"resources", identity.resources},
        {"panelUrl", identity.panelUrl}}},
      {"waves", waves},
      {"wave", instrument.user ? kUserTableEntry : settings.waveformIndex},
      {"spws", kSpwTexts},
      {"spw", settings.spwIndex},
      {"frequency", texts.szFrequency},
      {"offset", texts.szOffset},
      {"amplitude", texts.szVpp},
      {"duty", settings.dutyPercent},
      {"jumpers", kJumperTexts},
      {"jumper", settings.jumperIndex},
      {"connected", link.connected},
      {"running", instrument.outputOn},
      {"button", instrument.outputOn ? "STOP" : "START"},
      {"status", StatusText(instrument, link)},
      {"readouts",
       {{"maximum", texts.szMaximum},
        {"dcLevel", texts.szDcLevel},
        {"minimum", texts.szMinimum},
        {"period", texts.szPeriod}}},
  };
  // Texts that are not UTF-8 (a serial number of odd bytes) are shown with replacement marks.
  return state.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string WebStateWithSeq(const std::string &state, uint64_t seq) {
  char szSeq[32];
  snprintf(szSeq, std::size(szSeq), "{\"seq\":%llu%s", static_cast<unsigned long long>(seq),
           state.size() > 2 ? "," : "");
  return szSeq + state.substr(1);
}

bool ParseWebAction(const char *pBody, size_t dwLength, WebAction *pAction) {
  if (TooDeep(pBody, dwLength)) return false;
  const nlohmann::json body = nlohmann::json::parse(pBody, pBody + dwLength, nullptr, false);
  if (body.is_discarded() || !body.is_object()) return false;
  auto text = [&](const char *szKey) {
    auto found = body.find(szKey);
    return found != body.end() && found->is_string() ? found->get<std::string>() : std::string();
  };
  WebAction action = {};
  const std::string verb = text("do");
  const std::string field = text("field");
  snprintf(action.szField, std::size(action.szField), "%s", field.c_str());
  const int32_t valueField = IndexOf(kFieldNames, field);
  if (verb == "run") {
    action.kind = kWebRun;
  } else if (verb == "step" && valueField >= 0) {
    const std::string direction = text("dir");
    if (direction != "up" && direction != "down") return false;
    auto coarse = body.find("coarse");
    if (coarse != body.end() && !coarse->is_boolean()) return false;
    action.kind = kWebStep;
    action.field = static_cast<InstrumentField>(valueField);
    action.up = direction == "up";
    action.coarse = coarse != body.end() && coarse->get<bool>();
  } else if (verb == "set" && valueField >= 0) {
    auto typed = body.find("text");
    if (typed == body.end() || !typed->is_string()) return false;
    action.kind = kWebSetValue;
    action.field = static_cast<InstrumentField>(valueField);
    action.numeric = ReadTypedValue(typed->get<std::string>(), action.field, &action.value);
  } else if (verb == "set" && IndexOf(kChoiceNames, field) >= 0) {
    auto value = body.find("value");
    if (value == body.end() || !value->is_number_integer()) return false;
    const int64_t position = value->get<int64_t>();
    action.kind = kWebChoose;
    action.choice = static_cast<WebChoice>(IndexOf(kChoiceNames, field));
    // Far values are out of every range alike.
    action.position = position < -1 || position > 1000 ? -1 : static_cast<int32_t>(position);
  } else {
    return false;
  }
  *pAction = action;
  return true;
}

int32_t RunWebAction(Instrument *instrument, const InstrumentGenerator &actions,
                     const WebAction &action) {
  switch (action.kind) {
    case kWebStep:
      return StepInstrumentField(instrument, actions, action.field, action.up, action.coarse);
    case kWebSetValue:
      if (!action.numeric) return kErrorDataType;
      return SetInstrumentValue(instrument, actions, action.field, action.value);
    case kWebChoose:
      switch (action.choice) {
        case kWebWave: return ChooseInstrumentWave(instrument, actions, action.position);
        case kWebSpw: return ChooseInstrumentSpw(instrument, actions, action.position);
        case kWebDuty: return SetInstrumentDuty(instrument, actions, action.position);
        case kWebJumper: return SetInstrumentJumper(instrument, actions, action.position);
      }
      return kErrorIllegalParameterValue;
    case kWebRun: return ToggleInstrumentOutput(instrument, actions);
    case kWebLoadShape: {
      const int32_t error = LoadInstrumentShape(instrument, actions, action.aShape);
      return error != kErrorNone ? error : ChooseInstrumentWave(instrument, actions, kFunctionUser);
    }
  }
  return kErrorIllegalParameterValue;
}

std::string WebErrorText(int32_t code) {
  char szText[96];
  snprintf(szText, std::size(szText), "%d,\"%s\"", static_cast<int>(code),
           InstrumentErrorText(code));
  return szText;
}

std::string PreviewSvg(const uint16_t samples[360], const GeneratorSettings &settings,
                       bool running) {
  const PreviewModel model =
      BuildPreviewModel(samples, settings.spwIndex, running ? 1 : 0, settings.amplitudeCode,
                        settings.offsetCode, settings.jumperIndex, settings.frequencyCode);
  const PreviewRect &area = model.background;
  char szHead[400];
  // The picture in the panel's own pixels; lines on the pixel centres, as the panel draws them.
  snprintf(szHead, std::size(szHead),
           "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"%d %d %d %d\" "
           "shape-rendering=\"crispEdges\"><rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" "
           "fill=\"#%02x%02x%02x\"/><g fill=\"none\" transform=\"translate(0.5 0.5)\">",
           static_cast<int>(area.left), static_cast<int>(area.top),
           static_cast<int>(area.right - area.left), static_cast<int>(area.bottom - area.top),
           static_cast<int>(area.left), static_cast<int>(area.top),
           static_cast<int>(area.right - area.left), static_cast<int>(area.bottom - area.top),
           model.backgroundColour.red, model.backgroundColour.green, model.backgroundColour.blue);
  std::string svg = szHead;
  AppendPolyline(&svg, model.upperGuide, 3, model.guideColour);
  AppendPolyline(&svg, model.midLine, 2, model.guideColour);
  AppendPolyline(&svg, model.lowerGuide, 3, model.guideColour);
  PreviewPoint aTrace[kPreviewMaxTracePoints + 1];
  aTrace[0] = model.traceStart;
  memcpy(aTrace + 1, model.tracePoints,
         sizeof(PreviewPoint) * static_cast<size_t>(model.traceCount));
  AppendPolyline(&svg, aTrace, model.traceCount + 1, model.traceColour);
  svg += "</g></svg>";
  return svg;
}

std::string LxiIdentificationXml(const WebIdentity &identity) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\">\n"
      "  <Manufacturer>VARNOLT</Manufacturer>\n"
      "  <Model>DDS generator</Model>\n"
      "  <SerialNumber>" +
      XmlEscaped(identity.serial.empty() ? "0" : identity.serial) +
      "</SerialNumber>\n"
      "  <FirmwareRevision>" +
      XmlEscaped(identity.version) +
      "</FirmwareRevision>\n"
      "  <ManufacturerDescription>VARNOLT USB direct-digital-synthesis signal generator, served "
      "by varnoltctl</ManufacturerDescription>\n"
      "  <HomepageURL>" +
      XmlEscaped(identity.panelUrl) + "</HomepageURL>\n  <IdentificationURL>" +
      XmlEscaped(identity.panelUrl) +
      "lxi/identification</IdentificationURL>\n"
      "  <Interface InterfaceType=\"LXI\" InterfaceName=\"SCPI socket\">\n";
  for (const std::string &resource : identity.resources) {
    xml += "    <InstrumentAddressString>" + XmlEscaped(resource) + "</InstrumentAddressString>\n";
  }
  xml += "  </Interface>\n</LXIDevice>\n";
  return xml;
}

bool IsOwnHost(const WebNames &names, const char *szHost) {
  const std::string host = Lower(szHost);
  std::string name;
  std::string port;
  if (!host.empty() && host[0] == '[') {
    size_t close = host.find(']');
    if (close == std::string::npos) return false;
    name = host.substr(1, close - 1);
    if (close + 1 < host.size()) {
      if (host[close + 1] != ':') return false;
      port = host.substr(close + 2);
    }
  } else {
    size_t colon = host.find(':');
    name = host.substr(0, colon);
    if (colon != std::string::npos) port = host.substr(colon + 1);
  }
  const std::string ownPort = std::to_string(names.port);
  if (port.empty() ? names.port != (names.https ? 443 : 80) : port != ownPort) return false;
  if (name.empty()) return false;
  for (const std::string &own : names.hosts) {
    if (name == own) return true;
  }
  return false;
}

bool IsOwnOrigin(const WebNames &names, const char *szOrigin) {
  const char *szScheme = names.https ? "https://" : "http://";
  if (strncmp(szOrigin, szScheme, strlen(szScheme)) != 0) return false;
  const char *szHost = szOrigin + strlen(szScheme);
  if (strchr(szHost, '/') != nullptr) return false;
  return IsOwnHost(names, szHost);
}
