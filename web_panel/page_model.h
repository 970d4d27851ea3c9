#pragma once
// The web panel's pure half: the state a page shows, the actions it sends, the preview as SVG, the
// identification document, and the checks of a request's Host and Origin. No socket and no
// thread: the HTTP side (http_listener.cpp) hands requests to the serving loop, which runs them
// here (through panel_loop.cpp) over the one instrument that SCPI clients see.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "instrument/instrument.h"

// What the page tells about the instrument besides its settings.
struct WebIdentity {
  std::string serial;                  // the USB serial number; "0" when unknown
  std::string version;                 // the program's
  std::vector<std::string> resources;  // "TCPIP::127.0.0.1::5025::SOCKET", one per address
  std::string panelUrl;                // "http://127.0.0.1:8025/"
};

// The generator's link, as the status line shows it.
struct WebLink {
  bool connected;        // the port is open
  bool heard;            // a report came since it was opened
  std::string portName;  // "/dev/ttyACM0", "COM5"
};

// The state as JSON, without its sequence number (so that two states compare as texts).
std::string WebStateJson(const Instrument &instrument, const WebLink &link,
                         const WebIdentity &identity);

// The state with its sequence number in front: {"seq":N,...}.
std::string WebStateWithSeq(const std::string &state, uint64_t seq);

enum WebActionKind : int32_t {
  kWebStep = 0,
  kWebSetValue = 1,
  kWebChoose = 2,
  kWebRun = 3,
  kWebLoadShape = 4,  // a waveform's file, read on the HTTP side: its shape
};

enum WebChoice : int32_t { kWebWave = 0, kWebSpw = 1, kWebDuty = 2, kWebJumper = 3 };

struct WebAction {
  WebActionKind kind;
  InstrumentField field;             // kWebStep, kWebSetValue
  bool up;                           // kWebStep
  bool coarse;                       // kWebStep
  bool numeric;                      // kWebSetValue: the text was a number (else -104)
  double value;                      // kWebSetValue
  WebChoice choice;                  // kWebChoose
  int32_t position;                  // kWebChoose
  char szField[16];                  // the field's name as the page sent it, for the answer
  double aShape[kWaveTableSamples];  // kWebLoadShape: normalised, -1..+1
};

// A POST body of /api/action: true when it is one of the actions, with *pAction.
bool ParseWebAction(const char *pBody, size_t dwLength, WebAction *pAction);

// Runs an action by the panel's rules: 0, or the error the matching command would give. A shape
// becomes the user waveform and is chosen.
int32_t RunWebAction(Instrument *instrument, const InstrumentGenerator &actions,
                     const WebAction &action);

// -222,"Data out of range": an error as SYSTem:ERRor? tells it.
std::string WebErrorText(int32_t code);

// The picture of the preview (two periods, the guides, the trace) as SVG markup, from the preview
// model of these settings and this table.
std::string PreviewSvg(const uint16_t samples[360], const GeneratorSettings &settings,
                       bool running);

// The LXI identification document (text/xml).
std::string LxiIdentificationXml(const WebIdentity &identity);

// The names a request may carry in Host: the listener's addresses and names, lower case, without
// ports; the port, which a Host or an Origin must name unless it is the scheme's (80, 443); and
// whether the listener is HTTPS (an Origin then names https://).
struct WebNames {
  std::vector<std::string> hosts;
  int32_t port;
  bool https;
};

// Host: "name", "name:port", "[v6]", "[v6]:port", case-insensitive.
bool IsOwnHost(const WebNames &names, const char *szHost);
// Origin: "http://" ("https://" over HTTPS) and an own Host.
bool IsOwnOrigin(const WebNames &names, const char *szOrigin);
