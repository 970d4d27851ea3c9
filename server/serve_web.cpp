// The web panel of `varnoltctl serve`: its address and names, its identity, and the loop's side of
// its actions and state. The HTTP side is web_server.cpp; the pure rules are web_panel.cpp.
#include <algorithm>
#include <cstdio>
#include <iterator>

#include "link/exit_codes.h"
#include "link/start_writes.h"
#include "server/scpi_server.h"
#include "server/web_server.h"

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

// The web address to listen on: --http's "ADDR:PORT", "PORT" on the SCPI address, or the
// default port there. False for a malformed one.
bool WebAddress(const std::string &http, const std::string &scpiHost, std::string *pHost,
                std::string *pPort) {
  std::string text = http.empty() ? kDefaultWebPort : http;
  if (text.find(':') == std::string::npos) text = HostText(scpiHost) + ":" + text;
  return SplitListenAddress(text, pHost, pPort) && IsNumericAddress(*pHost);
}

int32_t RunAction(void *context, const WebAction &action) {
  ScpiServer *server = static_cast<ScpiServer *>(context);
  return RunWebAction(&server->instrument, ScpiServerActions(server), action);
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
std::string StateKey(const ScpiServer *server) {
  return PreviewKey(server->instrument) + (server->instrument.userTableLoaded ? " t" : " -") +
         (server->port != nullptr ? " c" : " -") + (server->heard ? " h " : " - ") +
         server->portName;
}

// The preview is drawn again only when what it shows changed: the random wave's table continues
// one sequence, which a status change alone must not move on.
const std::string &Preview(ScpiServer *server) {
  const Instrument &instrument = server->instrument;
  const std::string key = PreviewKey(instrument);
  if (key != server->previewKey || server->previewSvg.empty()) {
    uint16_t samples[kWaveTableSamples];
    if (instrument.user) {
      std::copy(std::begin(instrument.aUserTable), std::end(instrument.aUserTable), samples);
    } else {
      SettingsTable(instrument.settings, samples);
    }
    server->previewSvg = PreviewSvg(samples, instrument.settings, instrument.outputOn);
    server->previewKey = key;
  }
  return server->previewSvg;
}

std::string StateOf(void *context) {
  ScpiServer *server = static_cast<ScpiServer *>(context);
  server->stateKey = StateKey(server);
  const WebLink link = {server->port != nullptr, server->heard, server->portName};
  std::string state = WebStateJson(server->instrument, link, server->identity);
  // The picture is markup of the server's own making: it joins the JSON as a string.
  std::string preview = ",\"preview\":\"";
  for (char c : Preview(server)) {
    if (c == '"' || c == '\\') preview.push_back('\\');
    preview.push_back(c);
  }
  state.insert(state.size() - 1, preview + "\"");
  return state;
}

}  // namespace

int32_t OpenServeWeb(ScpiServer *server, const std::string &scpiBound, void (*wake)(),
                     std::vector<std::string> *pLines, std::string *pMessage) {
  std::string scpiHost;
  std::string scpiPort;
  SplitListenAddress(scpiBound, &scpiHost, &scpiPort);
  const std::vector<std::string> machine = MachineAddresses();
  for (const std::string &address : ReachableAt(scpiHost, machine)) {
    server->identity.resources.push_back("TCPIP::" + HostText(address) + "::" + scpiPort +
                                         "::SOCKET");
  }
  const std::string serving = "serving " + server->portName + " on " + scpiBound;
  if (server->request.http == "off") {
    pLines->push_back(serving);
    return kExitOk;
  }

  WebServerConfig config;
  std::string webPort;
  if (!WebAddress(server->request.http, scpiHost, &config.host, &webPort)) {
    *pMessage = "--http " + server->request.http +
                ": not PORT, ADDR:PORT with a numeric address (127.0.0.1:8025) or off";
    return kExitUsage;
  }
  config.port = std::stoi(webPort);
  config.wake = wake;
  // The names a browser may use for this server; any other Host is refused (DNS rebinding).
  for (const std::string &address : ReachableAt(config.host, machine)) {
    config.names.hosts.push_back(Lower(address));
  }
  if (IsWildcard(config.host) || IsLoopbackHost(config.host)) {
    config.names.hosts.insert(config.names.hosts.end(), {"localhost", "127.0.0.1", "::1"});
  }
  const std::string hostName = Lower(MachineHostName());
  if (!hostName.empty()) {
    config.names.hosts.insert(config.names.hosts.end(), {hostName, hostName + ".local"});
  }
  for (const std::string &name : server->request.httpHosts)
    config.names.hosts.push_back(Lower(name));

  int32_t port = 0;
  int32_t status = BindWebServer(config, &port, pMessage);
  if (status != kExitOk) {
    *pMessage = "--http " + HostText(config.host) + ":" + webPort + ": " + *pMessage;
    return status;
  }
  const std::string webBound = HostText(config.host) + ":" + std::to_string(port);
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
  server->identity.panelUrl = "http://" + urlHost + ":" + std::to_string(port) + "/";
  server->web = true;
  server->webBound = webBound;
  if (!IsLoopbackHost(config.host)) {
    pLines->push_back("warning: serving the web panel on " + webBound +
                      ": anyone who can reach it can drive the generator");
  }
  pLines->push_back(serving + " (SCPI) and http://" + webBound + "/ (web panel)");
  PublishWebState(StateOf(server));
  RunWebServer(LxiIdentificationXml(server->identity));
  return kExitOk;
}

void ServiceServeWeb(ScpiServer *server) {
  if (!server->web) return;
  ServeWebActions(RunAction, StateOf, server);
  // Most wake-ups change nothing a page shows (a query, a report that was known): the state is
  // made again only when its key changed, so that SCPI pays nothing for the pages.
  if (StateKey(server) != server->stateKey) PublishWebState(StateOf(server));
}

void CloseServeWeb(ScpiServer *server) {
  if (server->web) StopWebServer();
  server->web = false;
}
