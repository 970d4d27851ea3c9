// Who may connect: the texts of addresses and networks, the match of a client, the listeners'
// default networks, the line at start and the limit of refusal lines.
#include "serving/allow_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// An address's text as NetText writes it, or "bad" when it does not parse.
std::string Normal(const std::string &text) {
  NetAddress address = {};
  if (!ParseNetAddress(text, &address)) return "bad";
  return NetText({address, address.ipv6 ? 128 : 32});
}

InterfaceNetwork Interface(const char *szName, const char *szAddress, int32_t bits) {
  InterfaceNetwork network = {};
  snprintf(network.szName, sizeof(network.szName), "%s", szName);
  EXPECT_TRUE(ParseNetAddress(szAddress, &network.net.address)) << szAddress;
  network.net.bits = bits;
  return network;
}

const std::vector<InterfaceNetwork> kInterfaces = {
    Interface("lo", "127.0.0.1", 8),       Interface("lo", "::1", 128),
    Interface("eth0", "10.1.0.1", 24),     Interface("eth0", "fd00::1", 64),
    Interface("eth1", "192.168.7.20", 16),
};

TEST(AllowList, AddressTexts) {
  const struct {
    const char *szText, *szNormal;
  } aCases[] = {
      // clang-format off
      {"10.1.2.3", "10.1.2.3"}, {"10.1.2", "bad"}, {"10.1.2.3.4", "bad"}, {"10.1.2.256", "bad"},
      {"010.1.2.3", "bad"}, {"10.1..3", "bad"}, {"::", "::"}, {"::1", "::1"}, {"1::", "1::"},
      {"FD00:0:0:0:0:0:0:1", "fd00::1"}, {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"}, {"1:2:3:4:5:6::8", "1:2:3:4:5:6:0:8"},
      {"fe80::1%eth0", "fe80::1"}, {"fe80::1%", "bad"}, {"::ffff:10.1.2.3", "10.1.2.3"},
      {"::10.1.2.3", "::a01:203"}, {"1:2:3:4:5:6:7:8:9", "bad"}, {"1:2:3:4:5:6:7", "bad"},
      {"1:2:3:4:5:6:7::8", "bad"}, {"1::2::3", "bad"}, {":1::", "bad"}, {"12345::", "bad"},
      {"g::", "bad"}, {"10.1.2.3::", "bad"}, {"::ffff:10.1.2", "bad"},
      // clang-format on
  };
  for (const auto &c : aCases) EXPECT_EQ(Normal(c.szText), c.szNormal) << c.szText;
}

TEST(AllowList, NetsAndTheFirstBadOne) {
  AllowList list = {};
  std::string bad;
  ASSERT_TRUE(ParseAllowList({"10.2.0.77/24", "fd00:1::5/64", "10.9.9.9", "::/0", "0.0.0.0/0",
                              "10.2.0.77/26", "fd00:ff::/9"},
                             &list, &bad));
  EXPECT_FALSE(list.any);
  std::vector<std::string> texts;
  for (const NetPrefix &net : list.nets) texts.push_back(NetText(net));
  EXPECT_EQ(texts, (std::vector<std::string>{"10.2.0.0/24", "fd00:1::/64", "10.9.9.9", "::/0",
                                             "0.0.0.0/0", "10.2.0.64/26", "fd00::/9"}));
  for (const char *szBad : {"10.0.0.0/33", "fd00::/129", "10.0.0.0/", "10.0.0.0/-1", "10.0.0.0/2x",
                            "fe80::1%eth0", "Any", "localhost", "10.0.0.0/24/8"}) {
    EXPECT_FALSE(ParseAllowList({"10.2.0.0/24", szBad, "also bad"}, &list, &bad)) << szBad;
    EXPECT_EQ(bad, szBad);
  }
}

TEST(AllowList, ClientsOfAListener) {
  AllowList list = {};
  std::string bad;
  ASSERT_TRUE(ParseAllowList({"10.2.0.0/24", "fd02::/16"}, &list, &bad));
  const struct {
    const char *szBound, *szPeer;
    bool allowed;
  } aCases[] = {
      // clang-format off
      // --allow's, loopback (always) (eth0's and one routed from beyond: netns_test.py)
      {"0.0.0.0:5025", "10.2.0.254:40000", true}, {"0.0.0.0:5025", "127.9.9.9:40000", true},
      // IPv6 loopback; mapped addresses as IPv4; IPv4-compatible is IPv6, not 10.1.0.9
      {"[::]:5025", "[::1]:40000", true}, {"[::]:5025", "[::ffff:10.1.0.9]:40000", true},
      {"[::]:5025", "[::ffff:127.0.0.1]:40000", true}, {"[::]:5025", "[fd00::77]:40000", true},
      {"[::]:5025", "[fd01::77]:40000", false}, {"[::]:5025", "[::a01:9]:40000", false},
      // one interface's networks, its IPv6 one too; an address no interface holds; loopback's
      {"10.1.0.1:5025", "10.1.0.9:40000", true}, {"10.1.0.1:5025", "192.168.200.1:40000", false},
      {"10.1.0.1", "fd00::9", true}, {"10.7.7.7:5025", "10.1.0.9:40000", false},
      {"127.0.0.1:5025", "10.1.0.9:40000", false}, {"127.0.0.1:5025", "10.2.0.1:40000", true},
      // clang-format on
  };
  for (const auto &c : aCases) {
    NetAddress bound = {};
    NetAddress peer = {};
    ASSERT_TRUE(ParseEndpointAddress(c.szBound, &bound)) << c.szBound;
    ASSERT_TRUE(ParseEndpointAddress(c.szPeer, &peer)) << c.szPeer;
    EXPECT_EQ(AllowsPeer(list, ListenerNetworks(kInterfaces, bound), peer), c.allowed)
        << c.szBound << " " << c.szPeer;
  }
  NetAddress unbracketed = {};
  EXPECT_FALSE(ParseEndpointAddress("[::1:5025", &unbracketed));
}

TEST(AllowList, TheLineAtStart) {
  AllowList list = {};
  std::string bad;
  ASSERT_TRUE(ParseAllowList({"10.2.0.0/24"}, &list, &bad));
  // Both listeners on 0.0.0.0 (NetAddress{}), so on every interface: each network once.
  std::vector<InterfaceNetwork> networks = ListenerNetworks(kInterfaces, NetAddress{});
  networks.insert(networks.end(), networks.begin(), networks.end());
  EXPECT_EQ(ServedNetworksLine(list, networks),
            "serving clients from loopback, 10.1.0.0/24 (eth0), fd00::/64 (eth0), "
            "192.168.0.0/16 (eth1), 10.2.0.0/24 (--allow)");
  EXPECT_EQ(ServedNetworksLine(AllowList{}, {}), "serving clients from loopback");
  list.any = true;
  EXPECT_EQ(ServedNetworksLine(list, networks), "serving clients from any address (--allow any)");
}

TEST(AllowList, OneRefusalLineASecondPerAddress) {
  NetAddress a = {};
  NetAddress b = {};
  ASSERT_TRUE(ParseNetAddress("10.3.0.1", &a));
  ASSERT_TRUE(ParseNetAddress("::ffff:10.3.0.2", &b));
  RefusalLog log = {};
  const struct {
    const NetAddress *pAddress;
    int64_t ms;
    bool logged;
  } aSteps[] = {{&a, 5000, true}, {&a, 5999, false}, {&b, 5500, true},
                {&a, 6000, true}, {&b, 6400, false}, {&a, 6500, false}};
  for (const auto &step : aSteps) {
    EXPECT_EQ(NoteRefusal(&log, *step.pAddress, step.ms), step.logged) << step.ms;
  }
  // Stale entries make room; a full log of addresses refused within the second drops the lines
  // of new ones, not theirs.
  NetAddress other = a;
  for (int32_t i = 0; i < kRefusalLogSize; i++) {
    other.aBytes[3] = static_cast<uint8_t>(100 + i);
    EXPECT_TRUE(NoteRefusal(&log, other, 8000)) << i;
  }
  EXPECT_FALSE(NoteRefusal(&log, a, 8500));
  EXPECT_FALSE(NoteRefusal(&log, other, 8999));
  EXPECT_TRUE(NoteRefusal(&log, a, 9000));
  EXPECT_TRUE(NoteRefusal(&log, other, 9001));
}

}  // namespace
