// `varnoltctl discover` on Windows: the system's DNS-SD browse and resolve (DnsServiceBrowse and
// DnsServiceResolve, from Windows 10 1809 on), looked up in dnsapi.dll at run time so that the
// program starts where they are missing (older Windows, Wine). Their callbacks come on the
// system's threads; what they find is gathered under a lock and taken at the time-out.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <windns.h>

#include <iterator>

#include "cli/discover.h"
#include "link/exit_codes.h"

namespace {

enum : int32_t { kMaxResolves = 64 };

// DNS_REQUEST_PENDING of the Windows SDK's winerror.h, which mingw-w64's lacks: the request was
// taken and its callback will come.
const DNS_STATUS kDnsRequestPending = 9506;

typedef DNS_STATUS(WINAPI *BrowseFunction)(PDNS_SERVICE_BROWSE_REQUEST, PDNS_SERVICE_CANCEL);
typedef DNS_STATUS(WINAPI *CancelFunction)(PDNS_SERVICE_CANCEL);
typedef DNS_STATUS(WINAPI *ResolveFunction)(PDNS_SERVICE_RESOLVE_REQUEST, PDNS_SERVICE_CANCEL);
typedef VOID(WINAPI *FreeInstanceFunction)(PDNS_SERVICE_INSTANCE);
typedef VOID(WINAPI *FreeRecordsFunction)(PDNS_RECORD, DNS_FREE_TYPE);

struct Resolve {
  wchar_t szQuery[DNS_MAX_NAME_BUFFER_LENGTH];
  std::string type;
  DNS_SERVICE_RESOLVE_REQUEST request;
  DNS_SERVICE_CANCEL cancel;
  bool pending;
};

// Process-wide: a callback may still come while the browse is cancelled at the end.
CRITICAL_SECTION lock;
BrowseFunction browseService = nullptr;
CancelFunction cancelBrowse = nullptr;
ResolveFunction resolveService = nullptr;
CancelFunction cancelResolve = nullptr;
FreeInstanceFunction freeInstance = nullptr;
FreeRecordsFunction freeRecords = nullptr;
std::vector<FoundService> found;
Resolve aResolves[kMaxResolves];
int32_t resolveCount = 0;

template <typename Function>
Function Lookup(HMODULE module, const char *szName) {
  return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(module, szName)));
}

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
  if (pInstance != nullptr) freeInstance(pInstance);
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
  resolve->pending = resolveService(&resolve->request, &resolve->cancel) == kDnsRequestPending;
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
  if (pRecords != nullptr) freeRecords(pRecords, DnsFreeRecordList);
}

}  // namespace

int32_t BrowseInstruments(int32_t timeoutMs, DiscoverState *state,
                          void (*onProgress)(DiscoverState *, void *), void *context,
                          std::string *pMessage) {
  HMODULE dnsapi = LoadLibraryW(L"dnsapi.dll");
  if (dnsapi != nullptr) {
    browseService = Lookup<BrowseFunction>(dnsapi, "DnsServiceBrowse");
    cancelBrowse = Lookup<CancelFunction>(dnsapi, "DnsServiceBrowseCancel");
    resolveService = Lookup<ResolveFunction>(dnsapi, "DnsServiceResolve");
    cancelResolve = Lookup<CancelFunction>(dnsapi, "DnsServiceResolveCancel");
    freeInstance = Lookup<FreeInstanceFunction>(dnsapi, "DnsServiceFreeInstance");
    freeRecords = Lookup<FreeRecordsFunction>(dnsapi, "DnsRecordListFree");
  }
  if (browseService == nullptr || cancelBrowse == nullptr || resolveService == nullptr ||
      cancelResolve == nullptr || freeInstance == nullptr || freeRecords == nullptr) {
    *pMessage =
        "this system has no DNS-SD to ask (DnsServiceBrowse: Windows 10 1809 or later is needed)";
    return kExitNoGenerator;
  }
  InitializeCriticalSection(&lock);
  static const char szScpi[] = "_scpi-raw._tcp";
  static const char szHttp[] = "_http._tcp";
  static DNS_SERVICE_BROWSE_REQUEST aRequests[2];
  static DNS_SERVICE_CANCEL aCancels[2];
  const wchar_t *aszQueries[2] = {L"_scpi-raw._tcp.local", L"_http._tcp.local"};
  const char *aszTypes[2] = {szScpi, szHttp};
  bool aBrowsing[2] = {};
  for (int32_t i = 0; i < 2; i++) {
    aRequests[i] = {};
    aRequests[i].Version = DNS_QUERY_REQUEST_VERSION1;
    aRequests[i].QueryName = aszQueries[i];
    aRequests[i].pBrowseCallback = OnBrowsed;
    aRequests[i].pQueryContext = const_cast<char *>(aszTypes[i]);
    aBrowsing[i] = browseService(&aRequests[i], &aCancels[i]) == kDnsRequestPending;
  }
  if (!aBrowsing[0]) {
    *pMessage = "the system's DNS-SD browse failed";
    return kExitNoGenerator;
  }
  Sleep(static_cast<DWORD>(timeoutMs));
  for (int32_t i = 0; i < 2; i++) {
    if (aBrowsing[i]) cancelBrowse(&aCancels[i]);
  }
  EnterCriticalSection(&lock);
  for (int32_t i = 0; i < resolveCount; i++) {
    if (aResolves[i].pending) cancelResolve(&aResolves[i].cancel);
  }
  state->services = found;
  LeaveCriticalSection(&lock);
  onProgress(state, context);
  return kExitOk;
}
