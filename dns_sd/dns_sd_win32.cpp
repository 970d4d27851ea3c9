// DNS-SD on Windows: the system's own registration, browse and resolve (DnsServiceRegister,
// DnsServiceBrowse, DnsServiceResolve, from Windows 10 1809 on). They are looked up in dnsapi.dll
// at run time, once for both, so that the program still starts where they are missing (older
// Windows, Wine): serve then serves without announcing, and discover says there is nothing to ask.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <windns.h>

#include <cstdio>
#include <cwchar>
#include <iterator>

#include "dns_sd/announce.h"
#include "dns_sd/discover.h"
#include "dns_sd/dns_sd_names.h"
#include "link/exit_codes.h"

namespace {

// DNS_REQUEST_PENDING of the Windows SDK's winerror.h, which mingw-w64's lacks: the request was
// taken and its callback will come.
const DNS_STATUS kDnsRequestPending = 9506;

typedef PDNS_SERVICE_INSTANCE(WINAPI *ConstructInstanceFunction)(PCWSTR, PCWSTR, PIP4_ADDRESS,
                                                                 PIP6_ADDRESS, WORD, WORD, WORD,
                                                                 DWORD, PCWSTR *, PCWSTR *);
typedef VOID(WINAPI *FreeInstanceFunction)(PDNS_SERVICE_INSTANCE);
typedef DWORD(WINAPI *RegisterFunction)(PDNS_SERVICE_REGISTER_REQUEST, PDNS_SERVICE_CANCEL);
typedef DNS_STATUS(WINAPI *BrowseFunction)(PDNS_SERVICE_BROWSE_REQUEST, PDNS_SERVICE_CANCEL);
typedef DNS_STATUS(WINAPI *CancelFunction)(PDNS_SERVICE_CANCEL);
typedef DNS_STATUS(WINAPI *ResolveFunction)(PDNS_SERVICE_RESOLVE_REQUEST, PDNS_SERVICE_CANCEL);
typedef VOID(WINAPI *FreeRecordsFunction)(PDNS_RECORD, DNS_FREE_TYPE);

// dnsapi.dll's DNS-SD functions: null where the system lacks one.
struct DnsSdFunctions {
  ConstructInstanceFunction constructInstance;
  FreeInstanceFunction freeInstance;
  RegisterFunction registerService;
  RegisterFunction deregisterService;
  BrowseFunction browseService;
  CancelFunction cancelBrowse;
  ResolveFunction resolveService;
  CancelFunction cancelResolve;
  FreeRecordsFunction freeRecords;
};

DnsSdFunctions dnsSd;  // what LookUpDnsSd found

template <typename Function>
void LookUpFunction(HMODULE module, const char *szName, Function *pFunction) {
  *pFunction = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, szName)));
}

// Loads dnsapi.dll and looks its DNS-SD functions up, the first time only; registering and
// browsing each check the ones they need.
const DnsSdFunctions &LookUpDnsSd() {
  static bool looked = false;
  if (looked) return dnsSd;
  looked = true;
  HMODULE dnsapi = LoadLibraryW(L"dnsapi.dll");
  if (dnsapi == nullptr) return dnsSd;
  LookUpFunction(dnsapi, "DnsServiceConstructInstance", &dnsSd.constructInstance);
  LookUpFunction(dnsapi, "DnsServiceFreeInstance", &dnsSd.freeInstance);
  LookUpFunction(dnsapi, "DnsServiceRegister", &dnsSd.registerService);
  LookUpFunction(dnsapi, "DnsServiceDeRegister", &dnsSd.deregisterService);
  LookUpFunction(dnsapi, "DnsServiceBrowse", &dnsSd.browseService);
  LookUpFunction(dnsapi, "DnsServiceBrowseCancel", &dnsSd.cancelBrowse);
  LookUpFunction(dnsapi, "DnsServiceResolve", &dnsSd.resolveService);
  LookUpFunction(dnsapi, "DnsServiceResolveCancel", &dnsSd.cancelResolve);
  LookUpFunction(dnsapi, "DnsRecordListFree", &dnsSd.freeRecords);
  return dnsSd;
}

// An ASCII text as the service calls take it (our names and types are ASCII).
std::wstring Wide(const char *szText) {
  std::wstring text;
  for (const char *p = szText; *p != '\0'; p++) text.push_back(static_cast<unsigned char>(*p));
  return text;
}

// "TYPE.local", the name a browse asks for.
std::wstring ServiceQuery(const char *szType) {
  return Wide(szType) + L"." + Wide(kDnsSdDomain);
}

}  // namespace

// Announcing.

namespace {

enum : DWORD { kDeregisterWaitMs = 1000 };

struct Registration {
  bool used;
  DNS_SERVICE_REGISTER_REQUEST request;
  PDNS_SERVICE_INSTANCE instance;
  IP4_ADDRESS ip4;
  IP6_ADDRESS ip6;
};

Registration aRegistrations[kAnnounceMaxServices];
HANDLE deregistered = nullptr;
AnnounceMessageFunction printMessage = nullptr;  // the caller's, for its lines

// A name for a message: the characters beyond ASCII as '?'.
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
    printMessage("announced as \"" + name.substr(0, type) + "\"");
  } else {
    printMessage("announcing failed (error " + std::to_string(status) + ")");
  }
  if (pInstance != nullptr && dnsSd.freeInstance != nullptr) dnsSd.freeInstance(pInstance);
}

VOID WINAPI OnDeregistered(DWORD, PVOID, PDNS_SERVICE_INSTANCE pInstance) {
  if (pInstance != nullptr && dnsSd.freeInstance != nullptr) dnsSd.freeInstance(pInstance);
  SetEvent(deregistered);
}

void Register(Registration *registration, const AnnouncedService &service, const char *szName) {
  wchar_t szHost[256] = L"";
  DWORD dwHostLength = static_cast<DWORD>(std::size(szHost));
  GetComputerNameExW(ComputerNameDnsHostname, szHost, &dwHostLength);
  const std::wstring host = std::wstring(szHost) + L"." + Wide(kDnsSdDomain);
  const std::wstring serviceName =
      Wide(szName) + L"." + Wide(service.szType) + L"." + Wide(kDnsSdDomain);
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
      dnsSd.constructInstance(serviceName.c_str(), host.c_str(), pIp4, pIp6, service.port, 0, 0,
                              static_cast<DWORD>(service.textCount), apKeys, apValues);
  if (registration->instance == nullptr) return;
  registration->request = {};
  registration->request.Version = DNS_QUERY_REQUEST_VERSION1;
  registration->request.InterfaceIndex = 0;
  registration->request.pServiceInstance = registration->instance;
  registration->request.pRegisterCompletionCallback = OnRegistered;
  DWORD status = dnsSd.registerService(&registration->request, nullptr);
  if (status != kDnsRequestPending) {
    printMessage(std::string("cannot announce ") + service.szType + " (error " +
                 std::to_string(status) + ")");
    dnsSd.freeInstance(registration->instance);
    return;
  }
  registration->used = true;
}

}  // namespace

void StartAnnouncing(const char *szIdentity, const std::string &scpiBound,
                     const std::string &webBound, const std::string &httpsBound,
                     AnnounceMessageFunction print) {
  AnnouncePlan plan = PlanAnnouncement(szIdentity, scpiBound, webBound, httpsBound);
  if (plan.count == 0) return;
  printMessage = print;
  const DnsSdFunctions &api = LookUpDnsSd();
  if (api.constructInstance == nullptr || api.freeInstance == nullptr ||
      api.registerService == nullptr || api.deregisterService == nullptr) {
    printMessage(
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
    if (dnsSd.deregisterService(&registration.request, nullptr) == kDnsRequestPending) {
      WaitForSingleObject(deregistered, kDeregisterWaitMs);
    }
    dnsSd.freeInstance(registration.instance);
  }
  if (deregistered != nullptr) CloseHandle(deregistered);
  deregistered = nullptr;
}

// Browsing: `varnoltctl discover`. The callbacks come on the system's threads; what they find is
// gathered under a lock and taken at the time-out.

namespace {

enum : int32_t { kMaxResolves = 64, kBrowsedTypes = 3, kQuerySize = 64 };

struct Resolve {
  wchar_t szQuery[DNS_MAX_NAME_BUFFER_LENGTH];
  std::string type;
  DNS_SERVICE_RESOLVE_REQUEST request;
  DNS_SERVICE_CANCEL cancel;
  bool pending;
};

// Process-wide: a callback may still come while the browse is cancelled at the end.
CRITICAL_SECTION lock;
std::vector<FoundService> found;
Resolve aResolves[kMaxResolves];
int32_t resolveCount = 0;

std::string Utf8(const wchar_t *szText) {
  char szBuffer[1024] = "";
  if (szText != nullptr) {
    WideCharToMultiByte(CP_UTF8, 0, szText, -1, szBuffer, static_cast<int>(std::size(szBuffer)),
                        nullptr, nullptr);
  }
  return szBuffer;
}

VOID WINAPI OnResolved(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE pInstance) {
  Resolve *resolve = static_cast<Resolve *>(context);
  EnterCriticalSection(&lock);
  resolve->pending = false;
  if (status == ERROR_SUCCESS && pInstance != nullptr &&
      (pInstance->ip4Address != nullptr || pInstance->ip6Address != nullptr)) {
    FoundService service;
    service.type = resolve->type;
    // "NAME._scpi-raw._tcp.local": the instance name is what comes before the type.
    std::string name = Utf8(pInstance->pszInstanceName);
    service.name = name.substr(0, name.find("._"));
    service.host = Utf8(pInstance->pszHostName);
    char szAddress[INET6_ADDRSTRLEN] = "";
    if (pInstance->ip4Address != nullptr) {
      inet_ntop(AF_INET, pInstance->ip4Address, szAddress, std::size(szAddress));
    } else {
      inet_ntop(AF_INET6, pInstance->ip6Address, szAddress, std::size(szAddress));
    }
    service.address = szAddress;
    service.port = pInstance->wPort;
    for (DWORD i = 0; i < pInstance->dwPropertyCount; i++) {
      service.texts.push_back(Utf8(pInstance->keys[i]) + "=" + Utf8(pInstance->values[i]));
    }
    found.push_back(service);
  }
  LeaveCriticalSection(&lock);
  if (pInstance != nullptr) dnsSd.freeInstance(pInstance);
}

// Each instance the browse lists is resolved once.
void ResolveInstance(const wchar_t *szInstance, const char *szType) {
  for (int32_t i = 0; i < resolveCount; i++) {
    if (lstrcmpiW(aResolves[i].szQuery, szInstance) == 0) return;
  }
  if (resolveCount >= kMaxResolves) return;
  Resolve *resolve = &aResolves[resolveCount++];
  lstrcpynW(resolve->szQuery, szInstance, static_cast<int>(std::size(resolve->szQuery)));
  resolve->type = szType;
  resolve->request = {};
  resolve->request.Version = DNS_QUERY_REQUEST_VERSION1;
  resolve->request.QueryName = resolve->szQuery;
  resolve->request.pResolveCompletionCallback = OnResolved;
  resolve->request.pQueryContext = resolve;
  resolve->pending =
      dnsSd.resolveService(&resolve->request, &resolve->cancel) == kDnsRequestPending;
}

VOID WINAPI OnBrowsed(DWORD status, PVOID context, PDNS_RECORD pRecords) {
  const char *szType = static_cast<const char *>(context);
  EnterCriticalSection(&lock);
  // The service calls are Unicode: the records are DNS_RECORDW whatever UNICODE says.
  PDNS_RECORDW pWide = reinterpret_cast<PDNS_RECORDW>(pRecords);
  for (PDNS_RECORDW p = pWide; status == ERROR_SUCCESS && p != nullptr; p = p->pNext) {
    // A record of TTL 0 says the service went away.
    if (p->wType == DNS_TYPE_PTR && p->dwTtl > 0 && p->Data.PTR.pNameHost != nullptr) {
      ResolveInstance(p->Data.PTR.pNameHost, szType);
    }
  }
  LeaveCriticalSection(&lock);
  if (pRecords != nullptr) dnsSd.freeRecords(pRecords, DnsFreeRecordList);
}

}  // namespace

int32_t BrowseInstruments(int32_t timeoutMs, DiscoverState *state,
                          void (*onProgress)(DiscoverState *, void *), void *context,
                          std::string *pMessage) {
  const DnsSdFunctions &api = LookUpDnsSd();
  if (api.browseService == nullptr || api.cancelBrowse == nullptr ||
      api.resolveService == nullptr || api.cancelResolve == nullptr ||
      api.freeInstance == nullptr || api.freeRecords == nullptr) {
    *pMessage =
        "this system has no DNS-SD to ask (DnsServiceBrowse: Windows 10 1809 or later is needed)";
    return kExitNoGenerator;
  }
  InitializeCriticalSection(&lock);
  // The requests and their names outlive this call: a callback may come while they are cancelled.
  static const char *const aszTypes[kBrowsedTypes] = {kDnsSdScpiType, kDnsSdHttpType,
                                                      kDnsSdHttpsType};
  static wchar_t aszQueries[kBrowsedTypes][kQuerySize];
  static DNS_SERVICE_BROWSE_REQUEST aRequests[kBrowsedTypes];
  static DNS_SERVICE_CANCEL aCancels[kBrowsedTypes];
  bool aBrowsing[kBrowsedTypes] = {};
  for (int32_t i = 0; i < kBrowsedTypes; i++) {
    lstrcpynW(aszQueries[i], ServiceQuery(aszTypes[i]).c_str(),
              static_cast<int>(std::size(aszQueries[i])));
    aRequests[i] = {};
    aRequests[i].Version = DNS_QUERY_REQUEST_VERSION1;
    aRequests[i].QueryName = aszQueries[i];
    aRequests[i].pBrowseCallback = OnBrowsed;
    aRequests[i].pQueryContext = const_cast<char *>(aszTypes[i]);
    aBrowsing[i] = api.browseService(&aRequests[i], &aCancels[i]) == kDnsRequestPending;
  }
  if (!aBrowsing[0]) {
    *pMessage = "the system's DNS-SD browse failed";
    return kExitNoGenerator;
  }
  Sleep(static_cast<DWORD>(timeoutMs));
  for (int32_t i = 0; i < kBrowsedTypes; i++) {
    if (aBrowsing[i]) api.cancelBrowse(&aCancels[i]);
  }
  EnterCriticalSection(&lock);
  for (int32_t i = 0; i < resolveCount; i++) {
    if (aResolves[i].pending) api.cancelResolve(&aResolves[i].cancel);
  }
  state->services = found;
  LeaveCriticalSection(&lock);
  onProgress(state, context);
  return kExitOk;
}
