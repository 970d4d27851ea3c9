// The announcement on Windows: the system's own DNS-SD registration (DnsServiceRegister, from
// Windows 10 1809 on). It is looked up in dnsapi.dll at run time, so that the program still starts
// where it is missing (older Windows, Wine) and serves without announcing.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <windns.h>

#include <cstdio>
#include <cwchar>
#include <iterator>

#include "server/announce.h"

namespace {

enum : DWORD { kDeregisterWaitMs = 1000 };

// DNS_REQUEST_PENDING of the Windows SDK's winerror.h, which mingw-w64's lacks: the request was
// taken and its callback will come.
const DNS_STATUS kDnsRequestPending = 9506;

typedef PDNS_SERVICE_INSTANCE(WINAPI *ConstructInstanceFunction)(PCWSTR, PCWSTR, PIP4_ADDRESS,
                                                                 PIP6_ADDRESS, WORD, WORD, WORD,
                                                                 DWORD, PCWSTR *, PCWSTR *);
typedef VOID(WINAPI *FreeInstanceFunction)(PDNS_SERVICE_INSTANCE);
typedef DWORD(WINAPI *RegisterFunction)(PDNS_SERVICE_REGISTER_REQUEST, PDNS_SERVICE_CANCEL);

struct Registration {
  bool used;
  DNS_SERVICE_REGISTER_REQUEST request;
  PDNS_SERVICE_INSTANCE instance;
  IP4_ADDRESS ip4;
  IP6_ADDRESS ip6;
};

HMODULE dnsapi = nullptr;
ConstructInstanceFunction constructInstance = nullptr;
FreeInstanceFunction freeInstance = nullptr;
RegisterFunction registerService = nullptr;
RegisterFunction deregisterService = nullptr;
Registration aRegistrations[kAnnounceMaxServices];
HANDLE deregistered = nullptr;

std::wstring Wide(const char *szText) {
  std::wstring text;
  for (const char *p = szText; *p != '\0'; p++) text.push_back(static_cast<unsigned char>(*p));
  return text;
}

std::string Narrow(const wchar_t *szText) {
  std::string text;
  for (const wchar_t *p = szText; p != nullptr && *p != L'\0'; p++) {
    text.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
  }
  return text;
}

VOID WINAPI OnRegistered(DWORD status, PVOID, PDNS_SERVICE_INSTANCE pInstance) {
  if (status == ERROR_SUCCESS && pInstance != nullptr) {
    // The instance name comes back whole ("NAME._scpi-raw._tcp.local"): the name is before the
    // type.
    std::string name = Narrow(pInstance->pszInstanceName);
    size_t type = name.find("._");
    PrintServeMessage("announced as \"" + name.substr(0, type) + "\"");
  } else {
    PrintServeMessage("announcing failed (error " + std::to_string(status) + ")");
  }
  if (pInstance != nullptr && freeInstance != nullptr) freeInstance(pInstance);
}

VOID WINAPI OnDeregistered(DWORD, PVOID, PDNS_SERVICE_INSTANCE pInstance) {
  if (pInstance != nullptr && freeInstance != nullptr) freeInstance(pInstance);
  SetEvent(deregistered);
}

void Register(Registration *registration, const AnnouncedService &service, const char *szName) {
  wchar_t szHost[256] = L"";
  DWORD dwHostLength = static_cast<DWORD>(std::size(szHost) - 8);
  GetComputerNameExW(ComputerNameDnsHostname, szHost, &dwHostLength);
  wcscat(szHost, L".local");
  std::wstring serviceName = Wide(szName) + L"." + Wide(service.szType) + L".local";
  std::wstring aKeys[kAnnounceMaxTexts];
  std::wstring aValues[kAnnounceMaxTexts];
  PCWSTR apKeys[kAnnounceMaxTexts];
  PCWSTR apValues[kAnnounceMaxTexts];
  for (int32_t i = 0; i < service.textCount; i++) {
    std::wstring text = Wide(service.aszTexts[i]);
    size_t equals = text.find(L'=');
    aKeys[i] = text.substr(0, equals);
    aValues[i] = equals == std::wstring::npos ? L"" : text.substr(equals + 1);
    apKeys[i] = aKeys[i].c_str();
    apValues[i] = aValues[i].c_str();
  }
  // A listener on one address: that address, on its interface; else the system's addresses.
  PIP4_ADDRESS pIp4 = nullptr;
  PIP6_ADDRESS pIp6 = nullptr;
  if (!service.wildcard && !service.ipv6 &&
      inet_pton(AF_INET, service.szAddress, &registration->ip4) == 1) {
    pIp4 = &registration->ip4;
  }
  if (!service.wildcard && service.ipv6 &&
      inet_pton(AF_INET6, service.szAddress, &registration->ip6) == 1) {
    pIp6 = &registration->ip6;
  }
  registration->instance =
      constructInstance(serviceName.c_str(), szHost, pIp4, pIp6, service.port, 0, 0,
                        static_cast<DWORD>(service.textCount), apKeys, apValues);
  if (registration->instance == nullptr) return;
  registration->request = {};
  registration->request.Version = DNS_QUERY_REQUEST_VERSION1;
  registration->request.InterfaceIndex = 0;
  registration->request.pServiceInstance = registration->instance;
  registration->request.pRegisterCompletionCallback = OnRegistered;
  DWORD status = registerService(&registration->request, nullptr);
  if (status != kDnsRequestPending) {
    PrintServeMessage(std::string("cannot announce ") + service.szType + " (error " +
                      std::to_string(status) + ")");
    freeInstance(registration->instance);
    return;
  }
  registration->used = true;
}

}  // namespace

void StartAnnouncing(const ScpiServer &server, const std::string &scpiBound,
                     const std::string &webBound) {
  if (!server.request.announce) return;
  AnnouncePlan plan = PlanAnnouncement(server.instrument.szIdentity, scpiBound, webBound);
  if (plan.count == 0) return;
  dnsapi = LoadLibraryW(L"dnsapi.dll");
  if (dnsapi != nullptr) {
    constructInstance = reinterpret_cast<ConstructInstanceFunction>(
        reinterpret_cast<void *>(GetProcAddress(dnsapi, "DnsServiceConstructInstance")));
    freeInstance = reinterpret_cast<FreeInstanceFunction>(
        reinterpret_cast<void *>(GetProcAddress(dnsapi, "DnsServiceFreeInstance")));
    registerService = reinterpret_cast<RegisterFunction>(
        reinterpret_cast<void *>(GetProcAddress(dnsapi, "DnsServiceRegister")));
    deregisterService = reinterpret_cast<RegisterFunction>(
        reinterpret_cast<void *>(GetProcAddress(dnsapi, "DnsServiceDeRegister")));
  }
  if (constructInstance == nullptr || freeInstance == nullptr || registerService == nullptr ||
      deregisterService == nullptr) {
    PrintServeMessage(
        "this system has no DNS-SD registration (Windows 10 1809 or later): serving without "
        "announcing");
    return;
  }
  deregistered = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  for (int32_t i = 0; i < plan.count; i++) {
    Register(&aRegistrations[i], plan.aServices[i], plan.szName);
  }
}

void StopAnnouncing() {
  for (Registration &registration : aRegistrations) {
    if (!registration.used) continue;
    registration.used = false;
    registration.request.pRegisterCompletionCallback = OnDeregistered;
    if (deregisterService(&registration.request, nullptr) == kDnsRequestPending) {
      WaitForSingleObject(deregistered, kDeregisterWaitMs);
    }
    freeInstance(registration.instance);
  }
  if (deregistered != nullptr) CloseHandle(deregistered);
  deregistered = nullptr;
}
