// What serve announces: which listeners get services, and a long serial number in the name. The
// name, ports and TXT records as a browser sees them: dns_sd_netns_test.py.
#include "dns_sd/announce.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kIdentity[] = "VARNOLT,DDS generator,SN0001,1.2.3";

TEST(AnnouncePlan, OnlyListenersBeyondLoopbackGetServices) {
  const struct {
    const char *szScpi, *szWeb;
    std::vector<std::string> types;
    bool wildcard, ipv6;
    const char *szAddress;
  } aCases[] = {
      {"127.8.9.1:5025", "127.0.0.1:8025", {}, false, false, ""},
      {"[::1]:5025", "[::1]:8025", {}, false, false, ""},
      {"[::ffff:127.0.0.1]:5025", "", {}, false, false, ""},
      {"[::]:5025", "[::]:8025", {"_scpi-raw._tcp", "_http._tcp", "_lxi._tcp"}, true, true, "::"},
      {"127.0.0.1:5025", "[fe80::1]:8025", {"_http._tcp", "_lxi._tcp"}, false, true, "fe80::1"},
      {"not an address", "10.0.0.5:", {}, false, false, ""},
      {"10.0.0.5:0", "10.0.0.5:65536", {}, false, false, ""},
      {"fe80::1:5025", "[fe80::1:8025", {}, false, false, ""},
  };
  for (const auto &c : aCases) {
    AnnouncePlan plan = PlanAnnouncement(kIdentity, c.szScpi, c.szWeb, "");
    std::vector<std::string> types;
    for (int32_t i = 0; i < plan.count; i++) {
      types.push_back(plan.aServices[i].szType);
      EXPECT_EQ(plan.aServices[i].wildcard, c.wildcard) << c.szScpi;
      EXPECT_EQ(plan.aServices[i].ipv6, c.ipv6) << c.szScpi;
      EXPECT_STREQ(plan.aServices[i].szAddress, c.szAddress) << c.szScpi;
    }
    EXPECT_EQ(types, c.types) << c.szScpi << " " << c.szWeb;
  }
}

// With HTTPS the panel's LXI home page is its HTTPS listener, and its HTTP one (redirecting)
// stays. (Without: dns_sd_netns_test.py.)
TEST(AnnouncePlan, HttpsTakesTheLxiHomePage) {
  const AnnouncePlan plan =
      PlanAnnouncement(kIdentity, "10.0.0.5:5025", "0.0.0.0:8025", "0.0.0.0:8443");
  std::string services;
  for (int32_t i = 0; i < plan.count; i++) {
    services +=
        std::string(plan.aServices[i].szType) + ":" + std::to_string(plan.aServices[i].port) + " ";
  }
  EXPECT_EQ(services, "_scpi-raw._tcp:5025 _http._tcp:8025 _https._tcp:8443 _lxi._tcp:8443 ");
}

TEST(AnnouncePlan, ALongSerialIsCutToOneLabel) {
  const std::string identity = "VARNOLT,DDS generator," + std::string(80, 'S') + ",1.2.3";
  AnnouncePlan plan = PlanAnnouncement(identity.c_str(), "10.0.0.5:5025", "", "");
  EXPECT_EQ(std::string(plan.szName), "VARNOLT DDS generator " + std::string(41, 'S'));
  EXPECT_EQ(std::string(plan.aServices[0].aszTexts[3]), "SerialNumber=" + std::string(80, 'S'));
}

}  // namespace
