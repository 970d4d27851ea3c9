#pragma once
// What `varnoltctl serve` announces on the local network with DNS-SD, so that VISA tools and
// `varnoltctl discover` find it: one instance name, and for each listener beyond loopback its
// services with their TXT records. announce_plan.cpp plans it from plain values (the *IDN?
// answer, the listeners' bound addresses); dns_sd_posix.cpp (Avahi) and dns_sd_win32.cpp
// (DnsServiceRegister) register it.
#include <cstdint>
#include <string>

enum : int32_t {
  kAnnounceMaxServices = 4,  // _scpi-raw._tcp, _http._tcp, _https._tcp, _lxi._tcp
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

// Where the announcement's lines go (serve prints each as one line on stderr); called from the
// responder's thread too.
typedef void (*AnnounceMessageFunction)(const std::string &message);

// The plan for an instrument whose *IDN? answers szIdentity ("maker,model,serial,version"), with
// its SCPI listener and, when not empty, its web listeners (HTTP, HTTPS) bound to these
// "ADDR:PORT" texts as the server prints them ("0.0.0.0:5025", "[::1]:8025"). The LXI home page
// is the panel's own listener: HTTPS's when there is one. A listener on loopback, or one whose
// text is no address, gets no service.
AnnouncePlan PlanAnnouncement(const char *szIdentity, const std::string &scpiBound,
                              const std::string &webBound, const std::string &httpsBound);

// Registers the plan's services with the system's mDNS responder and keeps them registered
// (again after a name conflict, or when the responder comes back) until StopAnnouncing. Nothing
// when no listener is beyond loopback. Each name established, and the responder's absence, is
// one line given to print; serving never waits for it. (--no-announce: the caller does not call
// it.)
void StartAnnouncing(const char *szIdentity, const std::string &scpiBound,
                     const std::string &webBound, const std::string &httpsBound,
                     AnnounceMessageFunction print);
void StopAnnouncing();
