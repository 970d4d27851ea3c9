#pragma once
// The web panel's TLS half: the certificate (the user's PEM files, or a self-signed one kept in a
// state folder) and cpp-httplib's TLS server with the settings it is served with. Built only
// where TLS is (http_tls.cpp, on Linux); the Windows programs serve HTTP only (http_no_tls.cpp).
#include <cstdint>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

// Whether this build serves HTTPS.
extern const bool kWebTlsBuilt;

// The certificate and key the panel is served with, as PEM, and the certificate's SHA-256
// fingerprint ("AB:CD:...").
struct TlsIdentity {
  std::string certPem;
  std::string keyPem;
  std::string fingerprint;
};

// The identity from certFile and keyFile when given; else the self-signed one kept in stateDir
// (made there on first start), or made now when stateDir is empty. names: the DNS names and
// addresses it is made for. kExitOk, or an exit code with *pMessage.
int32_t LoadTlsIdentity(const std::string &certFile, const std::string &keyFile,
                        const std::string &stateDir, const std::vector<std::string> &names,
                        TlsIdentity *pIdentity, std::string *pMessage);

// A TLS server with this identity whose connections are admitted by admit(socket, listener) before
// the handshake, and told to forget(socket) before the socket closes; null with *pMessage.
httplib::Server *NewTlsServer(const TlsIdentity &identity,
                              bool (*admit)(intptr_t socket, const std::string &listener),
                              void (*forget)(intptr_t socket), const std::string &listener,
                              std::string *pMessage);
