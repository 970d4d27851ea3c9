#include "dns_sd/announce.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "dns_sd/dns_sd_names.h"

namespace {

// The comma-separated field of *IDN?'s answer at this position, empty when there is none.
std::string IdentityField(const char *szIdentity, int32_t position) {
  std::string field;
  int32_t at = 0;
  for (const char *p = szIdentity; *p != '\0'; p++) {
    if (*p == ',') {
      at++;
    } else if (at == position) {
      field.push_back(*p);
    }
  }
  return field;
}

// "10.0.0.5:5025", "[::]:8025": the address without brackets and the port number; false when the
// text is no address with a port, or an IPv6 address without its brackets.
bool SplitBoundAddress(const std::string &bound, std::string *pHost, uint32_t *pPort) {
  const size_t colon = bound.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = bound.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return false;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return false;
  }
  const std::string port = bound.substr(colon + 1);
  if (port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *pHost = host;
  *pPort = static_cast<uint32_t>(std::stoul(port));
  return *pPort <= 65535;
}

bool IsLoopbackAddress(const std::string &host) {
  // The server prints its bound addresses in their numeric, canonical form.
  return host.compare(0, 4, "127.") == 0 || host == "::1" ||
         host.compare(0, 11, "::ffff:127.") == 0;
}

// Adds the service for a listener bound to "ADDR:PORT", unless it is on loopback or no address.
void AddService(AnnouncePlan *plan, const char *szType, const std::string &bound,
                const char *const *aszTexts, int32_t textCount) {
  std::string host;
  uint32_t port = 0;
  if (plan->count >= kAnnounceMaxServices || !SplitBoundAddress(bound, &host, &port) ||
      IsLoopbackAddress(host) || port == 0 || host.size() >= kAnnounceAddressSize) {
    return;
  }
  AnnouncedService &service = plan->aServices[plan->count++];
  snprintf(service.szType, std::size(service.szType), "%s", szType);
  service.port = static_cast<uint16_t>(port);
  service.wildcard = host == "0.0.0.0" || host == "::";
  service.ipv6 = host.find(':') != std::string::npos;
  snprintf(service.szAddress, std::size(service.szAddress), "%s", host.c_str());
  service.textCount = textCount;
  for (int32_t i = 0; i < textCount; i++) {
    snprintf(service.aszTexts[i], std::size(service.aszTexts[i]), "%s", aszTexts[i]);
  }
}

}  // namespace

AnnouncePlan PlanAnnouncement(const char *szIdentity, const std::string &scpiBound,
                              const std::string &webBound, const std::string &httpsBound) {
  AnnouncePlan plan = {};
  const std::string maker = IdentityField(szIdentity, 0);
  const std::string model = IdentityField(szIdentity, 1);
  const std::string serial = IdentityField(szIdentity, 2);
  const std::string version = IdentityField(szIdentity, 3);
  // A label over 63 bytes would be refused: a long serial number is cut.
  snprintf(plan.szName, std::size(plan.szName), "%s %s %s", maker.c_str(), model.c_str(),
           serial.c_str());
  char aszTexts[kAnnounceMaxTexts][kAnnounceTextSize];
  snprintf(aszTexts[0], std::size(aszTexts[0]), "%s=1", kTxtVersionKey);
  snprintf(aszTexts[1], std::size(aszTexts[1]), "%s=%s", kTxtManufacturerKey, maker.c_str());
  snprintf(aszTexts[2], std::size(aszTexts[2]), "%s=%s", kTxtModelKey, model.c_str());
  snprintf(aszTexts[3], std::size(aszTexts[3]), "%s=%s", kTxtSerialNumberKey, serial.c_str());
  snprintf(aszTexts[4], std::size(aszTexts[4]), "%s=%s", kTxtFirmwareVersionKey, version.c_str());
  snprintf(aszTexts[5], std::size(aszTexts[5]), "%s=/", kTxtPathKey);
  const char *const aszScpiTexts[] = {aszTexts[0], aszTexts[1], aszTexts[2], aszTexts[3],
                                      aszTexts[4]};
  const char *const aszWebTexts[] = {aszTexts[0], aszTexts[1], aszTexts[2],
                                     aszTexts[3], aszTexts[4], aszTexts[5]};
  AddService(&plan, kDnsSdScpiType, scpiBound, aszScpiTexts, 5);
  if (!webBound.empty()) AddService(&plan, kDnsSdHttpType, webBound, aszWebTexts, 6);
  if (!httpsBound.empty()) AddService(&plan, kDnsSdHttpsType, httpsBound, aszWebTexts, 6);
  const std::string &panelBound = httpsBound.empty() ? webBound : httpsBound;
  if (!panelBound.empty()) AddService(&plan, kDnsSdLxiType, panelBound, aszWebTexts, 6);
  return plan;
}
