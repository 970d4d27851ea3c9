// The web panel as the serving loop holds it: its address and names, its identity, and the loop's
// side of its actions and state. The HTTP side is http_listener.cpp; the pure rules are
// page_model.cpp.
#include "web_panel/panel_loop.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "link/exit_codes.h"
#include "link/start_writes.h"
#include "res/version.h"
#include "web_panel/http_listener.h"
#include "web_panel/web_secret.h"
#include "web_panel/http_tls.h"

namespace {

const char kDefaultWebPort[] = "8025";

bool IsWildcard(const std::string &host) {
  return host == "0.0.0.0" || host == "::";
}

bool IsLoopbackHost(const std::string &host) {
  return host.compare(0, 4, "127.") == 0 || host == "::1" || host == "localhost";
}

// "ADDR:PORT" of a host as a URL or a resource string names it: IPv6 in brackets.
std::string HostText(const std::string &host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

// The addresses a listener on host can be reached at: the machine's own for a wildcard (IPv4
// only for 0.0.0.0), else the host itself.
std::vector<std::string> ReachableAt(const std::string &host,
                                     const std::vector<std::string> &machine) {
  if (!IsWildcard(host)) return {host};
  std::vector<std::string> addresses;
  for (const std::string &address : machine) {
    if (host == "::" || address.find(':') == std::string::npos) addresses.push_back(address);
  }
  return addresses;
}

std::string Lower(std::string text) {
  for (char &c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// A numeric address, as the SCPI listener takes it: the web panel names no host to look up.
bool IsNumericAddress(const std::string &host) {
  if (host.find(':') != std::string::npos) {
    return host.find_first_not_of("0123456789abcdefABCDEF:.") == std::string::npos;
  }
  int32_t parts = 0;
  size_t start = 0;
  while (start <= host.size()) {
    size_t end = host.find('.', start);
    if (end == std::string::npos) end = host.size();
    const std::string part = host.substr(start, end - start);
    if (part.empty() || part.size() > 3 ||
        part.find_first_not_of("0123456789") != std::string::npos || std::stoi(part) > 255) {
      return false;
    }
    parts++;
    start = end + 1;
  }
  return parts == 4;
}

// The web address to listen on: --http's or --https's "ADDR:PORT", "PORT" on the SCPI address, or
// the default port there. False for a malformed one.
bool WebAddress(const std::string &option, const WebPanelOptions &options,
                const std::string &scpiHost, std::string *pHost, std::string *pPort) {
  std::string text = option.empty() ? kDefaultWebPort : option;
  if (text.find(':') == std::string::npos) text = HostText(scpiHost) + ":" + text;
  return options.splitAddress(text, pHost, pPort) && IsNumericAddress(*pHost);
}

// The access token: the one in the token file, or a new one (written there when the file is
// missing). kExitOk with *pToken, or an exit code and *pMessage.
int32_t AccessToken(const std::string &path, std::string *pToken, std::string *pMessage) {
  int32_t status = kExitOk;
  if (!path.empty()) {
    std::string text;
    bool missing = false;
    status = ReadPrivateFile(path, &text, &missing, pMessage);
    if (status == kExitOk && !missing && !ReadTokenText(text, pToken)) {
      *pMessage = "not a token (22 to 256 of A-Z a-z 0-9 - _); remove it for a new one";
      status = kExitBadValue;
    }
    if (status != kExitOk) {
      *pMessage = "--token-file " + path + ": " + *pMessage;
      return status;
    }
    if (!missing) return kExitOk;
  }
  uint8_t aBytes[kWebTokenBytes];
  if (!RandomBytes(aBytes, sizeof aBytes)) {
    *pMessage = "the system gives no random bytes for the web panel's access token";
    return kExitPortFailed;
  }
  *pToken = UrlSafeText(aBytes, sizeof aBytes);
  if (path.empty()) return kExitOk;
  status = CreatePrivateFile(path, *pToken + "\n", pMessage);
  if (status != kExitOk) *pMessage = "--token-file " + path + ": " + *pMessage;
  return status;
}

// The names a browser may use for a listener on host; any other Host is refused (DNS rebinding).
WebNames OwnNames(const std::string &host, const WebPanelOptions &options) {
  WebNames names = {};
  for (const std::string &address : ReachableAt(host, options.machineAddresses)) {
    names.hosts.push_back(Lower(address));
  }
  if (IsWildcard(host) || IsLoopbackHost(host)) {
    names.hosts.insert(names.hosts.end(), {"localhost", "127.0.0.1", "::1"});
  }
  const std::string hostName = Lower(options.hostName);
  if (!hostName.empty()) names.hosts.insert(names.hosts.end(), {hostName, hostName + ".local"});
  for (const std::string &name : options.httpHosts) names.hosts.push_back(Lower(name));
  return names;
}

// What the HTTP side's calls of the loop's side carry: the panel and what it shows.
struct PanelContext {
  WebPanel *panel;
  const WebPanelSubject *subject;
};

int32_t RunAction(void *context, const WebAction &action) {
  const WebPanelSubject *subject = static_cast<PanelContext *>(context)->subject;
  return RunWebAction(subject->instrument, subject->actions, action);
}

// What the preview shows, as a text to compare: the settings, the user table and the output.
std::string PreviewKey(const Instrument &instrument) {
  const GeneratorSettings &settings = instrument.settings;
  char szKey[96];
  snprintf(szKey, std::size(szKey), "%d %d %d %d %d %d %d %d %d", instrument.user ? 1 : 0,
           static_cast<int>(settings.waveformIndex), static_cast<int>(settings.amplitudeCode),
           static_cast<int>(settings.dutyPercent), static_cast<int>(settings.spwIndex),
           static_cast<int>(settings.offsetCode), static_cast<int>(settings.jumperIndex),
           static_cast<int>(settings.frequencyCode), instrument.outputOn ? 1 : 0);
  std::string key = szKey;
  if (instrument.user) {
    key.append(reinterpret_cast<const char *>(instrument.aUserTable),
               sizeof(instrument.aUserTable));
  }
  return key;
}

// What the whole state shows: the preview's, the list's user entry and the link.
std::string StateKey(const WebPanelSubject &subject) {
  const WebLink link = subject.link(subject.context);
  return PreviewKey(*subject.instrument) + (subject.instrument->userTableLoaded ? " t" : " -") +
         (link.connected ? " c" : " -") + (link.heard ? " h " : " - ") + link.portName;
}

// The preview is drawn again only when what it shows changed: the random wave's table continues
// one sequence, which a status change alone must not move on.
const std::string &Preview(WebPanel *panel, const Instrument &instrument) {
  const std::string key = PreviewKey(instrument);
  if (key != panel->previewKey || panel->previewSvg.empty()) {
    uint16_t samples[kWaveTableSamples];
    if (instrument.user) {
      std::copy(std::begin(instrument.aUserTable), std::end(instrument.aUserTable), samples);
    } else {
      SettingsTable(instrument.settings, samples);
    }
    panel->previewSvg = PreviewSvg(samples, instrument.settings, instrument.outputOn);
    panel->previewKey = key;
  }
  return panel->previewSvg;
}

std::string StateOf(void *context) {
  WebPanel *panel = static_cast<PanelContext *>(context)->panel;
  const WebPanelSubject &subject = *static_cast<PanelContext *>(context)->subject;
  panel->stateKey = StateKey(subject);
  const WebLink link = subject.link(subject.context);
  std::string state = WebStateJson(*subject.instrument, link, panel->identity);
  // The picture is markup of the server's own making: it joins the JSON as a string.
  std::string preview = ",\"preview\":\"";
  for (char c : Preview(panel, *subject.instrument)) {
    if (c == '"' || c == '\\') preview.push_back('\\');
    preview.push_back(c);
  }
  state.insert(state.size() - 1, preview + "\"");
  return state;
}

}  // namespace

int32_t OpenWebPanel(WebPanel *panel, const WebPanelOptions &options,
                     const WebPanelSubject &subject, std::vector<std::string> *pLines,
                     std::string *pMessage) {
  panel->serving = false;
  panel->identity.serial = options.serial;
  panel->identity.version = VARNOLT_VERSION_TEXT;
  std::string scpiHost;
  std::string scpiPort;
  options.splitAddress(options.scpiBound, &scpiHost, &scpiPort);
  const std::vector<std::string> &machine = options.machineAddresses;
  for (const std::string &address : ReachableAt(scpiHost, machine)) {
    panel->identity.resources.push_back("TCPIP::" + HostText(address) + "::" + scpiPort +
                                        "::SOCKET");
  }
  if (options.http == "off" && options.https.empty()) return kExitOk;

  WebServerConfig config;
  std::string webPort;
  std::string httpHost;
  std::string httpPort;
  if (options.http != "off" && !WebAddress(options.http, options, scpiHost, &httpHost, &httpPort)) {
    *pMessage = "--http " + options.http +
                ": not PORT, ADDR:PORT with a numeric address (127.0.0.1:8025) or off";
    return kExitUsage;
  }
  const bool https = !options.https.empty();
  if (https && !WebAddress(options.https, options, scpiHost, &config.host, &webPort)) {
    *pMessage = "--https " + options.https +
                ": not PORT or ADDR:PORT with a numeric address (127.0.0.1:8443)";
    return kExitUsage;
  }
  if (!https) {
    config.host = httpHost;
    webPort = httpPort;
  }
  const char *szOption = https ? "--https " : "--http ";
  config.port = std::stoi(webPort);
  config.wake = options.wake;
  config.setListenSocketOptions = options.setListenSocketOptions;
  config.explainListenFailure = options.explainListenFailure;
  config.print = options.print;
  const bool loopback = IsLoopbackHost(config.host);
  config.authNeeded = WebAuthNeeded(options.auth, loopback);
  config.admitPeer = options.admitPeer;
  config.names = OwnNames(config.host, options);
  config.https = https;
  int32_t status = kExitOk;
  if (https) {
    // The certificate names what the panel answers to.
    status = LoadTlsIdentity(options.tlsCert, options.tlsKey, options.stateDir, config.names.hosts,
                             &config.identity, pMessage);
    if (status != kExitOk) return status;
    config.names.https = true;
  }
  // After the certificate, which makes the state folder that may hold the token file too.
  if (config.authNeeded) {
    status = AccessToken(options.tokenFile, &config.token, pMessage);
    if (status != kExitOk) return status;
  }

  int32_t port = 0;
  status = BindWebServer(config, &port, pMessage);
  if (status != kExitOk) {
    *pMessage = szOption + HostText(config.host) + ":" + webPort + ": " + *pMessage;
    return status;
  }
  const std::string webBound = HostText(config.host) + ":" + std::to_string(port);
  if (https && options.http != "off") {
    int32_t redirectPort = 0;
    status = BindWebRedirect(httpHost, std::stoi(httpPort), OwnNames(httpHost, options),
                             &redirectPort, pMessage);
    if (status != kExitOk) {
      *pMessage = "--http " + HostText(httpHost) + ":" + httpPort + ": " + *pMessage;
      return status;
    }
    panel->bound = HostText(httpHost) + ":" + std::to_string(redirectPort);
  }
  // A wildcard listener's page is shown at an address of the machine, loopback's if it has none.
  std::string urlHost = HostText(config.host);
  if (IsWildcard(config.host)) {
    urlHost = "127.0.0.1";
    for (const std::string &address : ReachableAt(config.host, machine)) {
      if (!IsLoopbackHost(address) && address.find(':') == std::string::npos) {
        urlHost = address;
        break;
      }
    }
  }
  panel->identity.panelUrl =
      (https ? "https://" : "http://") + urlHost + ":" + std::to_string(port) + "/";
  panel->serving = true;
  if (https) {
    panel->httpsBound = webBound;
    panel->fingerprint = config.identity.fingerprint;
  } else {
    panel->bound = webBound;
  }
  if (!loopback && !config.authNeeded) {
    pLines->push_back("warning: serving the web panel on " + webBound +
                      " with --auth off: anyone who can reach it can drive the generator");
  }
  panel->signInUrls.clear();
  if (config.authNeeded) {
    for (const std::string &address : ReachableAt(config.host, machine)) {
      panel->signInUrls.push_back((https ? "https://" : "http://") + HostText(address) + ":" +
                                  std::to_string(port) + "/?token=" + config.token);
    }
  }
  PanelContext context = {panel, &subject};
  PublishWebState(StateOf(&context));
  RunWebServer(LxiIdentificationXml(panel->identity));
  return kExitOk;
}

void ServiceWebPanel(WebPanel *panel, const WebPanelSubject &subject) {
  if (!panel->serving) return;
  PanelContext context = {panel, &subject};
  ServeWebActions(RunAction, StateOf, &context);
  // Most wake-ups change nothing a page shows (a query, a report that was known): the state is
  // made again only when its key changed, so that SCPI pays nothing for the pages.
  if (StateKey(subject) != panel->stateKey) PublishWebState(StateOf(&context));
}

void CloseWebPanel(WebPanel *panel) {
  if (panel->serving) StopWebServer();
  panel->serving = false;
}
