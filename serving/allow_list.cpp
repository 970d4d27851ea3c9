// Who may connect: the addresses' and prefixes' texts, the match of a client's address, the
// listeners' default networks, the line at start and the limit of refusal lines.
#include "serving/allow_list.h"

#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

const uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

int32_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Dotted IPv4, four decimal parts without leading zeros (which some read as octal).
bool ParseIpv4(const std::string &text, uint8_t *pBytes) {
  int32_t part = 0;
  size_t start = 0;
  for (; part < 4; part++) {
    size_t end = text.find('.', start);
    if (end == std::string::npos) end = text.size();
    const size_t length = end - start;
    if (length == 0 || length > 3 || (length > 1 && text[start] == '0')) return false;
    int32_t value = 0;
    for (size_t i = start; i < end; i++) {
      if (text[i] < '0' || text[i] > '9') return false;
      value = value * 10 + (text[i] - '0');
    }
    if (value > 255) return false;
    pBytes[part] = static_cast<uint8_t>(value);
    if (end == text.size()) break;
    start = end + 1;
  }
  return part == 3;
}

// Colon-separated groups of 1 to 4 hex digits, the last of them possibly a dotted IPv4 address
// (two groups): the 16-bit groups in *pGroups, false for anything else.
bool ParseGroups(const std::string &text, std::vector<uint16_t> *pGroups) {
  pGroups->clear();
  if (text.empty()) return true;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(':', start);
    const std::string group = text.substr(start, end == std::string::npos ? end : end - start);
    if (end == std::string::npos && group.find('.') != std::string::npos) {
      uint8_t aIpv4[4];
      if (!ParseIpv4(group, aIpv4)) return false;
      pGroups->push_back(static_cast<uint16_t>(aIpv4[0] << 8 | aIpv4[1]));
      pGroups->push_back(static_cast<uint16_t>(aIpv4[2] << 8 | aIpv4[3]));
      return true;
    }
    if (group.empty() || group.size() > 4) return false;
    uint16_t value = 0;
    for (char c : group) {
      if (HexDigit(c) < 0) return false;
      value = static_cast<uint16_t>(value << 4 | HexDigit(c));
    }
    pGroups->push_back(value);
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool ParseIpv6(std::string text, uint8_t *pBytes) {
  const size_t zone = text.find('%');
  if (zone != std::string::npos) {
    if (zone + 1 == text.size()) return false;
    text.erase(zone);
  }
  const size_t gap = text.find("::");
  std::vector<uint16_t> head;
  std::vector<uint16_t> tail;
  if (gap == std::string::npos) {
    if (!ParseGroups(text, &head) || head.size() != 8) return false;
  } else {
    if (text.find("::", gap + 1) != std::string::npos) return false;
    if (!ParseGroups(text.substr(0, gap), &head) || !ParseGroups(text.substr(gap + 2), &tail) ||
        head.size() + tail.size() > 7) {
      return false;
    }
    // An IPv4 tail belongs at the end only.
    if (!head.empty() && text.substr(0, gap).find('.') != std::string::npos) return false;
  }
  uint16_t aGroups[8] = {};
  for (size_t i = 0; i < head.size(); i++) aGroups[i] = head[i];
  for (size_t i = 0; i < tail.size(); i++) aGroups[8 - tail.size() + i] = tail[i];
  for (int32_t i = 0; i < 8; i++) {
    pBytes[2 * i] = static_cast<uint8_t>(aGroups[i] >> 8);
    pBytes[2 * i + 1] = static_cast<uint8_t>(aGroups[i] & 0xff);
  }
  return true;
}

int32_t WidthOf(const NetAddress &address) {
  return address.ipv6 ? 128 : 32;
}

bool SameAddress(const NetAddress &a, const NetAddress &b) {
  return a.ipv6 == b.ipv6 && memcmp(a.aBytes, b.aBytes, a.ipv6 ? 16 : 4) == 0;
}

bool IsWildcardAddress(const NetAddress &address) {
  static const uint8_t aZero[16] = {};
  return memcmp(address.aBytes, aZero, address.ipv6 ? 16 : 4) == 0;
}

// The network of an address: the bits beyond the prefix cleared.
NetPrefix Masked(NetPrefix net) {
  for (int32_t i = 0; i < 16; i++) {
    const int32_t kept = net.bits - 8 * i;
    if (kept <= 0) {
      net.address.aBytes[i] = 0;
    } else if (kept < 8) {
      net.address.aBytes[i] &= static_cast<uint8_t>(0xff << (8 - kept));
    }
  }
  return net;
}

bool ParseNet(const std::string &text, NetPrefix *pNet) {
  const size_t slash = text.find('/');
  if (!ParseNetAddress(text.substr(0, slash), &pNet->address)) return false;
  // A zone names a link, not a network of addresses.
  if (text.substr(0, slash).find('%') != std::string::npos) return false;
  pNet->bits = WidthOf(pNet->address);
  if (slash == std::string::npos) return true;
  const std::string length = text.substr(slash + 1);
  if (length.empty() || length.size() > 3 ||
      length.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(length) > pNet->bits) {
    return false;
  }
  pNet->bits = std::stoi(length);
  *pNet = Masked(*pNet);
  return true;
}

}  // namespace

bool ParseNetAddress(const std::string &text, NetAddress *pAddress) {
  NetAddress address = {};
  if (text.find(':') == std::string::npos) {
    if (!ParseIpv4(text, address.aBytes)) return false;
    *pAddress = address;
    return true;
  }
  address.ipv6 = true;
  if (!ParseIpv6(text, address.aBytes)) return false;
  if (memcmp(address.aBytes, kMappedPrefix, sizeof(kMappedPrefix)) == 0) {
    address.ipv6 = false;
    memmove(address.aBytes, address.aBytes + 12, 4);
    memset(address.aBytes + 4, 0, 12);
  }
  *pAddress = address;
  return true;
}

bool ParseEndpointAddress(const std::string &text, NetAddress *pAddress) {
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    return close != std::string::npos && ParseNetAddress(text.substr(1, close - 1), pAddress);
  }
  // One colon: IPv4 with its port; more: a bare IPv6 address.
  const size_t colon = text.find(':');
  if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
    return ParseNetAddress(text.substr(0, colon), pAddress);
  }
  return ParseNetAddress(text, pAddress);
}

bool ParseAllowList(const std::vector<std::string> &texts, AllowList *pList, std::string *pBad) {
  AllowList list = {};
  for (const std::string &text : texts) {
    NetPrefix net = {};
    if (text == "any") {
      list.any = true;
    } else if (ParseNet(text, &net)) {
      list.nets.push_back(net);
    } else {
      *pBad = text;
      return false;
    }
  }
  *pList = list;
  return true;
}

bool NetContains(const NetPrefix &net, const NetAddress &address) {
  if (net.address.ipv6 != address.ipv6) return false;
  NetPrefix masked = {address, net.bits};
  return SameAddress(Masked(masked).address, Masked(net).address);
}

bool IsLoopbackAddress(const NetAddress &address) {
  static const uint8_t aIpv6Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (!address.ipv6) return address.aBytes[0] == 127;
  return memcmp(address.aBytes, aIpv6Loopback, 16) == 0;
}

std::vector<InterfaceNetwork> ListenerNetworks(const std::vector<InterfaceNetwork> &interfaces,
                                               const NetAddress &bound) {
  std::vector<InterfaceNetwork> networks;
  if (IsLoopbackAddress(bound)) return networks;
  const bool wildcard = IsWildcardAddress(bound);
  for (const InterfaceNetwork &network : interfaces) {
    bool served = wildcard;
    for (const InterfaceNetwork &holder : interfaces) {
      served = served || (strcmp(holder.szName, network.szName) == 0 &&
                          SameAddress(holder.net.address, bound));
    }
    if (served && !IsLoopbackAddress(network.net.address)) networks.push_back(network);
  }
  return networks;
}

bool AllowsPeer(const AllowList &list, const std::vector<InterfaceNetwork> &networks,
                const NetAddress &peer) {
  if (list.any || IsLoopbackAddress(peer)) return true;
  for (const NetPrefix &net : list.nets) {
    if (NetContains(net, peer)) return true;
  }
  for (const InterfaceNetwork &network : networks) {
    if (NetContains(network.net, peer)) return true;
  }
  return false;
}

std::string NetText(const NetPrefix &net) {
  char szText[64];
  const uint8_t *b = net.address.aBytes;
  if (!net.address.ipv6) {
    snprintf(szText, std::size(szText), "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  } else {
    // The longest run of two or more zero groups is written "::" (the first of equal runs).
    int32_t aGroups[8];
    for (int32_t i = 0; i < 8; i++) aGroups[i] = b[2 * i] << 8 | b[2 * i + 1];
    int32_t runStart = -1;
    int32_t runLength = 1;
    for (int32_t i = 0; i < 8; i++) {
      int32_t length = 0;
      while (i + length < 8 && aGroups[i + length] == 0) length++;
      if (length > runLength) {
        runStart = i;
        runLength = length;
      }
    }
    size_t used = 0;
    for (int32_t i = 0; i < 8 && used < std::size(szText); i++) {
      if (i == runStart) {
        used += snprintf(szText + used, std::size(szText) - used, "::");
        i += runLength - 1;
        continue;
      }
      const bool colon = i > 0 && i != runStart + runLength;
      used += snprintf(szText + used, std::size(szText) - used, colon ? ":%x" : "%x", aGroups[i]);
    }
  }
  std::string text = szText;
  if (net.bits != WidthOf(net.address)) text += "/" + std::to_string(net.bits);
  return text;
}

std::string ServedNetworksLine(const AllowList &list,
                               const std::vector<InterfaceNetwork> &networks) {
  if (list.any) return "serving clients from any address (--allow any)";
  std::vector<std::string> items = {"loopback"};
  auto add = [&items](const std::string &item) {
    for (const std::string &known : items) {
      if (known == item) return;
    }
    items.push_back(item);
  };
  for (const InterfaceNetwork &network : networks) {
    add(NetText(Masked(network.net)) + " (" + network.szName + ")");
  }
  for (const NetPrefix &net : list.nets) add(NetText(net) + " (--allow)");
  std::string line = "serving clients from";
  for (size_t i = 0; i < items.size(); i++) line += (i == 0 ? " " : ", ") + items[i];
  return line;
}

bool NoteRefusal(RefusalLog *log, const NetAddress &address, int64_t nowMs) {
  int32_t slot = -1;
  for (int32_t i = 0; i < log->count; i++) {
    const bool recent = nowMs - log->aTimesMs[i] < kRefusalLogIntervalMs;
    if (SameAddress(log->aAddresses[i], address)) {
      if (recent) return false;
      slot = i;
      break;
    }
    if (!recent && slot < 0) slot = i;
  }
  if (slot < 0) {
    if (log->count == kRefusalLogSize) return false;
    slot = log->count++;
  }
  log->aAddresses[slot] = address;
  log->aTimesMs[slot] = nowMs;
  return true;
}
