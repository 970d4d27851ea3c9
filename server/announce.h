#pragma once
// What `varnoltctl serve` announces on the local network with DNS-SD, so that VISA tools and
// `varnoltctl discover` find it: one instance name, and for each listener beyond loopback its
// services with their TXT records. This portable half plans it from the listeners' bound
// addresses; announce_posix.cpp (Avahi) and announce_win32.cpp (DnsServiceRegister) register it.
#include <cstdint>
#include <string>

#include "serving/serving.h"

enum : int32_t {
  kAnnounceMaxServices = 3,  // _scpi-raw._tcp, _http._tcp, _lxi._tcp
  kAnnounceMaxTexts = 6,
  kAnnounceNameSize = 64,  // a DNS label holds at most 63 bytes
  kAnnounceTextSize = 128,
  kAnnounceTypeSize = 16,
  kAnnounceAddressSize = 48,
};

struct AnnouncedService {
  char szType[kAnnounceTypeSize];  // "_scpi-raw._tcp"
  uint16_t port;
  bool wildcard;                         // bound to every address: announced on every interface
  bool ipv6;                             // the bound address's family
  char szAddress[kAnnounceAddressSize];  // the bound address, without brackets
  int32_t textCount;
  char aszTexts[kAnnounceMaxTexts][kAnnounceTextSize];  // "key=value"
};

struct AnnouncePlan {
  char szName[kAnnounceNameSize];  // "VARNOLT DDS generator <serial>"
  int32_t count;                   // 0: nothing beyond loopback, nothing to announce
  AnnouncedService aServices[kAnnounceMaxServices];
};

// The plan for an instrument whose *IDN? answers szIdentity ("maker,model,serial,version"), with
// its SCPI listener and, when not empty, its web listener bound to these "ADDR:PORT" texts as
// the server prints them ("0.0.0.0:5025", "[::1]:8025"). A listener on loopback, or one whose
// text is no address, gets no service.
AnnouncePlan PlanAnnouncement(const char *szIdentity, const std::string &scpiBound,
                              const std::string &webBound);

// Registers the server's services with the system's mDNS responder and keeps them registered
// (again after a name conflict, or when the responder comes back) until StopAnnouncing. Nothing
// when the request says --no-announce or no listener is beyond loopback. Each name established,
// and the responder's absence, is one line on stderr; serving never waits for it.
void StartAnnouncing(const ScpiServer &server, const std::string &scpiBound,
                     const std::string &webBound = "");
void StopAnnouncing();
