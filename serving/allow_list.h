#pragma once
// Who may connect (--allow): the networks each listener serves, and the check of a client's
// address at accept. Loopback is always served; a listener beyond loopback also serves the
// networks of the interfaces it is bound to (every interface for a wildcard one), read again at
// each check by the platform half; --allow adds addresses and prefixes, or any. Portable and pure:
// addresses are parsed from their text here, so that both listeners and the tests share one rule.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum : int32_t {
  kNetInterfaceNameSize = 64,
  kRefusalLogSize = 64,  // addresses whose last refusal line is remembered for a second
  kRefusalLogIntervalMs = 1000,
};

// An IPv4 address (its 4 bytes first) or an IPv6 one, in network order.
struct NetAddress {
  bool ipv6;
  uint8_t aBytes[16];
};

// A network: an address and the length of its prefix (32 or 128 for one address).
struct NetPrefix {
  NetAddress address;
  int32_t bits;
};

// An address of one of the machine's interfaces, with its prefix length.
struct InterfaceNetwork {
  char szName[kNetInterfaceNameSize];
  NetPrefix net;
};

// What --allow added.
struct AllowList {
  bool any;
  std::vector<NetPrefix> nets;
};

// The last refusal line of each address, so that a flood gives one line a second per address.
struct RefusalLog {
  int32_t count;
  NetAddress aAddresses[kRefusalLogSize];
  int64_t aTimesMs[kRefusalLogSize];
};

// A numeric address: dotted IPv4, or IPv6 (with "::", an IPv4 tail and a "%zone", which is
// dropped). An IPv4-mapped IPv6 address (::ffff:a.b.c.d) becomes that IPv4 address.
bool ParseNetAddress(const std::string &text, NetAddress *pAddress);

// An endpoint as the sockets name it: "ADDR:PORT", "[ADDR]:PORT" or the bare address.
bool ParseEndpointAddress(const std::string &text, NetAddress *pAddress);

// The --allow values: each an address, a CIDR prefix (host bits are cleared) or "any". False
// with *pBad, the first value that is none of them.
bool ParseAllowList(const std::vector<std::string> &texts, AllowList *pList, std::string *pBad);

bool NetContains(const NetPrefix &net, const NetAddress &address);
bool IsLoopbackAddress(const NetAddress &address);

// The interfaces' networks that a listener bound to this address serves by default: none on
// loopback, all for a wildcard address, else those of the interfaces that hold the address.
std::vector<InterfaceNetwork> ListenerNetworks(const std::vector<InterfaceNetwork> &interfaces,
                                               const NetAddress &bound);

bool AllowsPeer(const AllowList &list, const std::vector<InterfaceNetwork> &networks,
                const NetAddress &peer);

// "10.1.2.0/24", "fd00::/64", "10.1.2.3" (a whole address without its length).
std::string NetText(const NetPrefix &net);

// The line at start: loopback, the listeners' networks with their interfaces, and --allow's.
std::string ServedNetworksLine(const AllowList &list,
                               const std::vector<InterfaceNetwork> &networks);

// Whether a refusal of this address at nowMs gets its line: not within a second of its last one.
// A log full of addresses refused within the second takes no more (their lines are dropped).
bool NoteRefusal(RefusalLog *log, const NetAddress &address, int64_t nowMs);
