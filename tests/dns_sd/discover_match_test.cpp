// discover's matching of the generators' services and panels. Its JSON: dns_sd_netns_test.py.
#include "dns_sd/discover.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kGeneratorTexts = {"txtvers=1", "Manufacturer=VARNOLT",
                                                  "SerialNumber=SN1"};

FoundService Service(const char *szType, const char *szName, const char *szAddress, uint16_t port,
                     std::vector<std::string> texts = kGeneratorTexts) {
  return FoundService{szType, szName, "bench.local", szAddress, port, texts};
}

std::vector<std::string> Lines(DiscoverState *state, bool final) {
  std::vector<std::string> lines;
  for (const DiscoveredInstrument &instrument : TakeReadyInstruments(state, final)) {
    lines.push_back(InstrumentLine(instrument));
  }
  return lines;
}

TEST(Discover, OnlyGeneratorsEachNameOnceIpv4First) {
  DiscoverState state = {};
  state.httpComplete = true;
  state.services = {
      Service("_scpi-raw._tcp", "Other maker", "10.0.0.9", 5025, {"Manufacturer=ACME"}),
      Service("_scpi-raw._tcp", "No TXT", "10.0.0.8", 5025, {}),
      Service("_scpi-raw._tcp", "Gen A", "fe80::1", 5025),
      Service("_scpi-raw._tcp", "Gen A", "10.0.0.1", 5025),
      Service("_scpi-raw._tcp", "Gen C", "fe80::3", 5026, {"manufacturer=VARNOLT"}),
      Service("_scpi-raw._tcp", "Gen D", "10.0.0.4", 5025, {"Manufacturer=varnolt"}),
  };
  EXPECT_EQ(Lines(&state, false),
            (std::vector<std::string>{
                "Gen A  bench.local  10.0.0.1  5025  TCPIP::10.0.0.1::5025::SOCKET  -",
                "Gen C  bench.local  fe80::3  5026  TCPIP::[fe80::3]::5026::SOCKET  -"}));
}

TEST(Discover, APanelBelongsToTheSameInstanceName) {
  DiscoverState state = {};
  state.services = {
      Service("_scpi-raw._tcp", "Gen A", "10.0.0.1", 5025),
      Service("_scpi-raw._tcp", "Gen B", "10.0.0.2", 5025),
      Service("_http._tcp", "Gen A", "fe80::1", 8080, {}),
      Service("_http._tcp", "Gen A", "10.0.0.1", 8025, {"path=/panel/"}),
      Service("_https._tcp", "Gen A", "10.0.0.1", 8443, {"path=/panel/"}),
      Service("_http._tcp", "Gen", "10.0.0.2", 80, {}),
      Service("_http._tcp", "Gen B extra", "10.0.0.2", 81, {}),
      Service("_scpi-raw._tcp", "Gen C", "10.0.0.3", 5025),
      Service("_http._tcp", "Gen C", "10.0.1.3", 8025, {"path=evil.example/"}),
  };
  // Gen A's panel is known over HTTPS, which its HTTP one redirects to; Gen B's may still come
  // while the browse goes on (over HTTPS too), and Gen C's at its own address. A path that is not
  // absolute gives the root.
  EXPECT_EQ(
      Lines(&state, false),
      std::vector<std::string>{"Gen A  bench.local  10.0.0.1  5025  "
                               "TCPIP::10.0.0.1::5025::SOCKET  https://10.0.0.1:8443/panel/"});
  state.httpComplete = true;
  EXPECT_EQ(Lines(&state, false),
            std::vector<std::string>{
                "Gen B  bench.local  10.0.0.2  5025  TCPIP::10.0.0.2::5025::SOCKET  -"});
  EXPECT_EQ(Lines(&state, true),
            std::vector<std::string>{"Gen C  bench.local  10.0.0.3  5025  "
                                     "TCPIP::10.0.0.3::5025::SOCKET  http://10.0.1.3:8025/"});
}

}  // namespace
