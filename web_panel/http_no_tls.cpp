// The Windows programs serve HTTP only: no TLS library goes into them. The command line refuses
// the HTTPS options before anything asks for these.
#include "link/exit_codes.h"
#include "web_panel/http_tls.h"

const bool kWebTlsBuilt = false;

int32_t LoadTlsIdentity(const std::string &, const std::string &, const std::string &,
                        const std::vector<std::string> &, TlsIdentity *, std::string *pMessage) {
  *pMessage = "the Windows build serves HTTP only";
  return kExitUsage;
}

httplib::Server *NewTlsServer(const TlsIdentity &, bool (*)(intptr_t, const std::string &),
                              void (*)(intptr_t), const std::string &, std::string *pMessage) {
  *pMessage = "the Windows build serves HTTP only";
  return nullptr;
}
