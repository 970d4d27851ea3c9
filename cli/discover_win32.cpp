// `varnoltctl discover` on Windows: the system's DNS-SD browse (DnsServiceBrowse, from Windows 10
// 1809 on), looked up in dnsapi.dll at run time so that the program starts where it is missing.
#include <windows.h>
#include <windns.h>

#include "cli/discover.h"
#include "link/exit_codes.h"

int32_t BrowseInstruments(int32_t, DiscoverState *, void (*)(DiscoverState *, void *), void *,
                          std::string *pMessage) {
  HMODULE dnsapi = LoadLibraryW(L"dnsapi.dll");
  if (dnsapi == nullptr || GetProcAddress(dnsapi, "DnsServiceBrowse") == nullptr) {
    *pMessage = "this system has no DNS-SD (DnsServiceBrowse: Windows 10 1809 or later)";
    return kExitNoGenerator;
  }
  return kExitOk;
}
