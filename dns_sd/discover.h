#pragma once
// `varnoltctl discover`: the generators that `varnoltctl serve` announces on the local network
// (DNS-SD: _scpi-raw._tcp with Manufacturer=VARNOLT), each with the panel's URL from the
// _https._tcp service of the same instance name, else its _http._tcp one. discover_match.cpp,
// portable, matches and formats what the platform's browser (dns_sd_posix.cpp: Avahi;
// dns_sd_win32.cpp: DnsServiceBrowse) resolves.
#include <cstdint>
#include <string>
#include <vector>

// One resolved service, as the responder gives it.
struct FoundService {
  std::string type;     // "_scpi-raw._tcp", "_http._tcp" or "_https._tcp"
  std::string name;     // the instance name
  std::string host;     // "bench3.local"
  std::string address;  // numeric, IPv6 without brackets
  uint16_t port;
  std::vector<std::string> texts;  // the TXT record's "key=value" strings
};

struct DiscoveredInstrument {
  std::string name, host, address;
  uint16_t scpiPort;
  std::string resource;  // "TCPIP::10.0.0.5::5025::SOCKET"
  std::string panelUrl;  // "https://10.0.0.5:8443/", "http://...", empty when there is no panel
};

struct DiscoverState {
  std::vector<FoundService> services;  // in the order they resolved
  bool httpComplete;  // the panels' browsers (_http._tcp, _https._tcp) have listed all they knew of
  std::vector<std::string> reported;  // instance names already taken
};

enum : int32_t { kDiscoverDefaultMs = 2000 };

// A TXT value by its key (keys compare without case, as DNS-SD has it); false when absent.
bool FindText(const std::vector<std::string> &texts, const char *szKey, std::string *pValue);

// "TCPIP::ADDR::PORT::SOCKET", an IPv6 address in brackets.
std::string VisaResource(const std::string &address, uint16_t port);

// The generators not taken yet whose SCPI service has resolved and whose panel is known: over
// HTTPS at the same address, or once the panels' browse is complete; with final,
// every one. Each instance name once, at its first IPv4 address when it has one; its panel at
// that address when it has one there.
std::vector<DiscoveredInstrument> TakeReadyInstruments(DiscoverState *state, bool final);

// NAME  HOST  ADDRESS  PORT  RESOURCE  URL (or -), fields joined by two spaces.
std::string InstrumentLine(const DiscoveredInstrument &instrument);

// {"instruments":[{"name","host","address","scpiPort","resource","panelUrl"}]}, panelUrl null
// when there is none.
std::string InstrumentsJson(const std::vector<DiscoveredInstrument> &instruments);

// Platform half: browses and resolves for timeoutMs, calling onProgress(state, context) on this
// thread after each change. kExitOk, or 69 with *pMessage naming what to start when there is no
// responder to ask.
int32_t BrowseInstruments(int32_t timeoutMs, DiscoverState *state,
                          void (*onProgress)(DiscoverState *state, void *context), void *context,
                          std::string *pMessage);
