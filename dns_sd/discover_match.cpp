#include "dns_sd/discover.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "dns_sd/dns_sd_names.h"

namespace {

bool IsIpv6(const std::string &address) {
  return address.find(':') != std::string::npos;
}

std::string UrlHost(const std::string &address) {
  return IsIpv6(address) ? "[" + address + "]" : address;
}

// The service of this type and name to use: the one at preferredAddress, else the first over
// IPv4, else the first. Null when there is none.
const FoundService *PickService(const std::vector<FoundService> &services, const char *szType,
                                const std::string &name, const std::string &preferredAddress) {
  const FoundService *pFirst = nullptr;
  const FoundService *pIpv4 = nullptr;
  for (const FoundService &service : services) {
    if (service.type != szType || service.name != name) continue;
    if (!preferredAddress.empty() && service.address == preferredAddress) return &service;
    if (pFirst == nullptr) pFirst = &service;
    if (pIpv4 == nullptr && !IsIpv6(service.address)) pIpv4 = &service;
  }
  return pIpv4 != nullptr ? pIpv4 : pFirst;
}

bool IsGenerator(const FoundService &service) {
  std::string maker;
  return service.type == kDnsSdScpiType && FindText(service.texts, kTxtManufacturerKey, &maker) &&
         maker == kDnsSdGeneratorMaker;
}

}  // namespace

bool FindText(const std::vector<std::string> &texts, const char *szKey, std::string *pValue) {
  const std::string key = szKey;
  for (const std::string &text : texts) {
    size_t equals = text.find('=');
    std::string textKey = text.substr(0, equals);
    if (textKey.size() != key.size() ||
        !std::equal(textKey.begin(), textKey.end(), key.begin(), [](char a, char b) {
          return std::tolower(static_cast<unsigned char>(a)) ==
                 std::tolower(static_cast<unsigned char>(b));
        })) {
      continue;
    }
    *pValue = equals == std::string::npos ? "" : text.substr(equals + 1);
    return true;
  }
  return false;
}

std::string VisaResource(const std::string &address, uint16_t port) {
  return "TCPIP::" + UrlHost(address) + "::" + std::to_string(port) + "::SOCKET";
}

std::vector<DiscoveredInstrument> TakeReadyInstruments(DiscoverState *state, bool final) {
  std::vector<DiscoveredInstrument> ready;
  for (const FoundService &found : state->services) {
    if (!IsGenerator(found)) continue;
    std::vector<std::string> &reported = state->reported;
    if (std::find(reported.begin(), reported.end(), found.name) != reported.end()) continue;
    const FoundService *pScpi = PickService(state->services, kDnsSdScpiType, found.name, "");
    // Only generators' services: a stranger's with the same name over another address is not it.
    if (!IsGenerator(*pScpi)) pScpi = &found;
    // The panel over HTTPS when it has one (its plain HTTP listener only redirects there); over
    // plain HTTP only once no HTTPS can come: the browse has listed every panel.
    const FoundService *pHttp =
        PickService(state->services, kDnsSdHttpsType, found.name, pScpi->address);
    if (pHttp == nullptr) {
      if (!state->httpComplete && !final) continue;
      pHttp = PickService(state->services, kDnsSdHttpType, found.name, pScpi->address);
    }
    // A panel known only at another address of the instrument's: the one at its own address
    // may still come.
    if (pHttp != nullptr && pHttp->address != pScpi->address && !final) continue;
    DiscoveredInstrument instrument;
    instrument.name = found.name;
    instrument.host = pScpi->host;
    instrument.address = pScpi->address;
    instrument.scpiPort = pScpi->port;
    instrument.resource = VisaResource(pScpi->address, pScpi->port);
    if (pHttp != nullptr) {
      std::string path;
      if (!FindText(pHttp->texts, kTxtPathKey, &path) || path.empty() || path[0] != '/') path = "/";
      instrument.panelUrl = (pHttp->type == kDnsSdHttpsType ? "https://" : "http://") +
                            UrlHost(pHttp->address) + ":" + std::to_string(pHttp->port) + path;
    }
    reported.push_back(found.name);
    ready.push_back(instrument);
  }
  return ready;
}

std::string InstrumentLine(const DiscoveredInstrument &instrument) {
  return instrument.name + "  " + instrument.host + "  " + instrument.address + "  " +
         std::to_string(instrument.scpiPort) + "  " + instrument.resource + "  " +
         (instrument.panelUrl.empty() ? "-" : instrument.panelUrl);
}

std::string InstrumentsJson(const std::vector<DiscoveredInstrument> &instruments) {
  using Json = nlohmann::ordered_json;
  Json list = Json::array();
  for (const DiscoveredInstrument &instrument : instruments) {
    list.push_back(
        {{"name", instrument.name},
         {"host", instrument.host},
         {"address", instrument.address},
         {"scpiPort", instrument.scpiPort},
         {"resource", instrument.resource},
         {"panelUrl", instrument.panelUrl.empty() ? Json(nullptr) : Json(instrument.panelUrl)}});
  }
  return Json{{"instruments", list}}.dump(-1, ' ', false, Json::error_handler_t::replace);
}
