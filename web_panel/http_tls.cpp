// The web panel's TLS half, on Debian's OpenSSL: the certificate, and cpp-httplib's TLS server
// with the check of who may connect and the protocols and suites it offers.
#include "web_panel/http_tls.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "link/exit_codes.h"

const bool kWebTlsBuilt = true;

namespace {

// OpenSSL cleans itself up at exit, while the listener's detached threads may still be in a
// connection (a closing handshake, a read): the cleanup would free what they use. Asked before any
// other use of the library, the HTTP library's own start-up call included, which would otherwise
// register that cleanup first.
__attribute__((constructor(101))) void KeepOpenSslAtExit() {
  OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
}

// TLS 1.2's suites: forward secrecy (ECDHE) with an AEAD (AES-GCM, ChaCha20-Poly1305) only, for
// an ECDSA key and for an RSA one. TLS 1.3's own suites are all of that kind.
const char kTls12Suites[] =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";
const char kTls13Suites[] =
    "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256";
const char kCertName[] = "tls-cert.pem";
const char kKeyName[] = "tls-key.pem";
enum : int32_t {
  kCertDays = 3650,  // a self-signed certificate is trusted by its fingerprint, not its age
};

bool ReadFile(const std::string &path, std::string *pText) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream text;
  text << file.rdbuf();
  *pText = text.str();
  return static_cast<bool>(file) || file.eof();
}

// The key's file is made readable by its owner only before a byte of the key goes in.
bool WriteFile(const std::string &path, const std::string &text, bool secret) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return false;
  std::error_code error;
  if (secret) {
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, error);
    if (error) return false;
  }
  file << text;
  file.close();
  return static_cast<bool>(file);
}

std::string BioText(BIO *bio) {
  char *pData = nullptr;
  const long length = BIO_get_mem_data(bio, &pData);
  return std::string(pData, static_cast<size_t>(length));
}

X509 *ReadCert(const std::string &pem) {
  BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  X509 *cert = bio != nullptr ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(bio);
  return cert;
}

EVP_PKEY *ReadKey(const std::string &pem) {
  BIO *bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  EVP_PKEY *key =
      bio != nullptr ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
  BIO_free(bio);
  return key;
}

std::string Fingerprint(X509 *cert) {
  unsigned char aDigest[EVP_MAX_MD_SIZE];
  unsigned int dwLength = 0;
  if (X509_digest(cert, EVP_sha256(), aDigest, &dwLength) != 1) return "";
  std::string text;
  for (unsigned int i = 0; i < dwLength; i++) {
    char szByte[4];
    snprintf(szByte, std::size(szByte), i == 0 ? "%02X" : ":%02X", aDigest[i]);
    text += szByte;
  }
  return text;
}

// The identity of these PEM texts, when they are a certificate and its key.
bool CheckIdentity(const std::string &certPem, const std::string &keyPem, TlsIdentity *pIdentity) {
  X509 *cert = ReadCert(certPem);
  EVP_PKEY *key = ReadKey(keyPem);
  const bool matched = cert != nullptr && key != nullptr && X509_check_private_key(cert, key) == 1;
  if (matched) *pIdentity = {certPem, keyPem, Fingerprint(cert)};
  X509_free(cert);
  EVP_PKEY_free(key);
  return matched;
}

bool IsAddress(const std::string &name) {
  return name.find(':') != std::string::npos ||
         name.find_first_not_of("0123456789.") == std::string::npos;
}

// The subject's other names: "DNS:bench-7,DNS:bench-7.local,IP:10.0.0.5"; a name with a
// character no host name has is left out.
std::string AltNames(const std::vector<std::string> &names) {
  std::string text;
  for (const std::string &name : names) {
    if (name.empty() ||
        name.find_first_not_of(
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:") !=
            std::string::npos ||
        text.find((IsAddress(name) ? "IP:" : "DNS:") + name + ",") != std::string::npos) {
      continue;
    }
    text += (IsAddress(name) ? "IP:" : "DNS:") + name + ",";
  }
  if (!text.empty()) text.pop_back();
  return text;
}

bool AddExtension(X509 *cert, int nid, const std::string &value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  const bool added = extension != nullptr && X509_add_ext(cert, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

// A self-signed certificate on a new ECDSA P-256 key, for these names.
bool MakeIdentity(const std::vector<std::string> &names, TlsIdentity *pIdentity) {
  EVP_PKEY *key = EVP_EC_gen("P-256");
  X509 *cert = X509_new();
  BIGNUM *serial = BN_new();
  BIO *certBio = BIO_new(BIO_s_mem());
  BIO *keyBio = BIO_new(BIO_s_mem());
  const std::string altNames = AltNames(names);
  const std::string commonName = names.empty() ? "varnoltctl" : names.front();
  bool made = key != nullptr && cert != nullptr && serial != nullptr && certBio != nullptr &&
              keyBio != nullptr && X509_set_version(cert, 2) == 1 &&
              BN_rand(serial, 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
              BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert)) != nullptr &&
              // A day back: a clock a little behind still takes it.
              X509_gmtime_adj(X509_getm_notBefore(cert), -86400) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * kCertDays) != nullptr &&
              X509_set_pubkey(cert, key) == 1 &&
              X509_NAME_add_entry_by_txt(
                  X509_get_subject_name(cert), "CN", MBSTRING_UTF8,
                  reinterpret_cast<const unsigned char *>(commonName.c_str()), -1, -1, 0) == 1 &&
              X509_set_issuer_name(cert, X509_get_subject_name(cert)) == 1 &&
              AddExtension(cert, NID_basic_constraints, "critical,CA:FALSE") &&
              AddExtension(cert, NID_key_usage, "critical,digitalSignature") &&
              AddExtension(cert, NID_ext_key_usage, "serverAuth") &&
              AddExtension(cert, NID_subject_key_identifier, "hash") &&
              (altNames.empty() || AddExtension(cert, NID_subject_alt_name, altNames)) &&
              X509_sign(cert, key, EVP_sha256()) > 0 && PEM_write_bio_X509(certBio, cert) == 1 &&
              PEM_write_bio_PrivateKey(keyBio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  if (made) *pIdentity = {BioText(certBio), BioText(keyBio), Fingerprint(cert)};
  BIO_free(keyBio);
  BIO_free(certBio);
  BN_free(serial);
  X509_free(cert);
  EVP_PKEY_free(key);
  return made;
}

// The protocols and suites, the certificate and its key, in the context the server makes.
bool SetUpContext(SSL_CTX &context, const TlsIdentity &identity) {
  SSL_CTX *pContext = &context;
  SSL_CTX_set_options(
      pContext, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  if (SSL_CTX_set_min_proto_version(pContext, TLS1_2_VERSION) != 1 ||
      SSL_CTX_set_max_proto_version(pContext, TLS1_3_VERSION) != 1 ||
      SSL_CTX_set_cipher_list(pContext, kTls12Suites) != 1 ||
      SSL_CTX_set_ciphersuites(pContext, kTls13Suites) != 1) {
    return false;
  }
  // The certificate file may go on with its chain: each further certificate is sent with it.
  BIO *bio = BIO_new_mem_buf(identity.certPem.data(), static_cast<int>(identity.certPem.size()));
  X509 *cert = bio != nullptr ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
  bool ready = cert != nullptr && SSL_CTX_use_certificate(pContext, cert) == 1;
  X509_free(cert);
  while (ready) {
    X509 *chained = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    if (chained == nullptr) break;
    ready = SSL_CTX_add0_chain_cert(pContext, chained) == 1;
    if (!ready) X509_free(chained);
  }
  BIO_free(bio);
  EVP_PKEY *key = ReadKey(identity.keyPem);
  ready = ready && key != nullptr && SSL_CTX_use_PrivateKey(pContext, key) == 1 &&
          SSL_CTX_check_private_key(pContext) == 1;
  EVP_PKEY_free(key);
  return ready;
}

// The library's TLS server, with the check of who may connect. The library's own processing of a
// connection is private: this is it, after the check. A refused connection is closed before the
// handshake, unanswered.
struct AdmittingTlsServer : httplib::SSLServer {
  using httplib::SSLServer::SSLServer;
  bool (*admit)(intptr_t socket, const std::string &listener) = nullptr;
  void (*forget)(intptr_t socket) = nullptr;
  std::string listener;
  std::mutex sslMutex;  // the library's is private: SSL_new and SSL_free under one of our own

  bool process_and_close_socket(socket_t sock) override {
    if (!admit(static_cast<intptr_t>(sock), listener)) {
      httplib::detail::close_socket(sock);
      return false;
    }
    SSL *ssl = httplib::detail::ssl_new(
        sock, ssl_context(), sslMutex,
        [&](SSL *accepted) {
          return httplib::detail::ssl_connect_or_accept_nonblocking(
              sock, accepted, SSL_accept, read_timeout_sec_, read_timeout_usec_);
        },
        [](SSL *) { return true; });
    bool processed = false;
    if (ssl != nullptr) {
      processed = httplib::detail::process_server_socket_ssl(
          svr_sock_, ssl, sock, keep_alive_max_count_, keep_alive_timeout_sec_, read_timeout_sec_,
          read_timeout_usec_, write_timeout_sec_, write_timeout_usec_,
          [this, ssl](httplib::Stream &strm, bool close_connection, bool &connection_closed) {
            return process_request(strm, close_connection, connection_closed,
                                   [&](httplib::Request &req) { req.ssl = ssl; });
          });
      // A closing handshake only after a connection that ended well: the peer may be gone.
      httplib::detail::ssl_delete(sslMutex, ssl, processed);
    }
    forget(static_cast<intptr_t>(sock));
    httplib::detail::shutdown_socket(sock);
    httplib::detail::close_socket(sock);
    return processed;
  }
};

}  // namespace

int32_t LoadTlsIdentity(const std::string &certFile, const std::string &keyFile,
                        const std::string &stateDir, const std::vector<std::string> &names,
                        TlsIdentity *pIdentity, std::string *pMessage) {
  if (!certFile.empty() || !keyFile.empty()) {
    if (certFile.empty() || keyFile.empty()) {
      *pMessage = "--tls-cert and --tls-key go together";
      return kExitUsage;
    }
    std::string certPem;
    std::string keyPem;
    if (!ReadFile(certFile, &certPem) || !ReadFile(keyFile, &keyPem)) {
      *pMessage = "--tls-cert " + certFile + " --tls-key " + keyFile + ": cannot be read";
      return kExitNoInput;
    }
    if (!CheckIdentity(certPem, keyPem, pIdentity)) {
      *pMessage = "--tls-cert " + certFile + " --tls-key " + keyFile +
                  ": not a PEM certificate and its private key";
      return kExitBadValue;
    }
    return kExitOk;
  }
  if (stateDir.empty()) {
    if (MakeIdentity(names, pIdentity)) return kExitOk;
    *pMessage = "cannot make a certificate";
    return kExitPortFailed;
  }
  const std::string certPath = (std::filesystem::path(stateDir) / kCertName).string();
  const std::string keyPath = (std::filesystem::path(stateDir) / kKeyName).string();
  std::string certPem;
  std::string keyPem;
  if (ReadFile(certPath, &certPem) && ReadFile(keyPath, &keyPem)) {
    if (CheckIdentity(certPem, keyPem, pIdentity)) return kExitOk;
    *pMessage = certPath + ", " + keyPath +
                ": not a PEM certificate and its private key (remove both to make new ones)";
    return kExitBadValue;
  }
  std::error_code error;
  std::filesystem::create_directories(stateDir, error);
  if (!MakeIdentity(names, pIdentity)) {
    *pMessage = "cannot make a certificate";
    return kExitPortFailed;
  }
  // The key first: a certificate is kept only beside its key.
  if (!WriteFile(keyPath, pIdentity->keyPem, true) ||
      !WriteFile(certPath, pIdentity->certPem, false)) {
    *pMessage = "--state-dir " + stateDir + ": cannot write the certificate there";
    return kExitCannotCreate;
  }
  return kExitOk;
}

httplib::Server *NewTlsServer(const TlsIdentity &identity,
                              bool (*admit)(intptr_t socket, const std::string &listener),
                              void (*forget)(intptr_t socket), const std::string &listener,
                              std::string *pMessage) {
  auto *server = new AdmittingTlsServer(
      [&identity](SSL_CTX &context) { return SetUpContext(context, identity); });
  if (!server->is_valid()) {
    delete server;
    *pMessage = "the certificate and key cannot be served";
    return nullptr;
  }
  server->admit = admit;
  server->forget = forget;
  server->listener = listener;
  return server;
}
