#pragma once
// Who may change the generator through the web panel: the access token, the sessions it opens,
// the limit on failed sign-ins, and the parsing of what a sign-in brings (a form's body, a query,
// a Cookie header). Pure: the clock and the random bytes come in as values, so that the HTTP side
// (http_listener.cpp) holds the tables under its lock and the rules are tested alone.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum WebAuthMode : int32_t { kWebAuthAuto = 0, kWebAuthOn = 1, kWebAuthOff = 2 };

enum : int32_t {
  kWebTokenBytes = 24,            // 192 bits: 32 URL-safe characters
  kWebSessionBytes = 16,          // 128 bits
  kWebSignInLimit = 10,           // failed sign-ins from one address...
  kWebSignInWindowMs = 60000,     // ...within this long lock it out for this long
  kWebSessionMs = 86400000,       // a session ends a day after its sign-in
  kWebMaxSessions = 1024,         // the oldest goes first when more sign in
  kWebMaxSignInAddresses = 1024,  // addresses whose failures are kept
};

// "auto", "on", "off": false for any other text.
bool ParseWebAuthMode(const std::string &text, WebAuthMode *pMode);

// Whether a listener needs the token: auto beyond loopback, on always, off never.
bool WebAuthNeeded(WebAuthMode mode, bool loopback);

// Bytes as URL-safe base64 without padding (A-Z a-z 0-9 - _).
std::string UrlSafeText(const uint8_t *pBytes, size_t dwCount);

// A token as a token file holds it: at least 22 URL-safe characters (128 bits), at most 256;
// surrounding white space is dropped. False for anything else.
bool ReadTokenText(const std::string &text, std::string *pToken);

// Equal secrets, in a time that depends on their lengths only.
bool SameSecret(const std::string &a, const std::string &b);

// The value of field szName in a form's body or a query ("a=1&token=x"), percent- and
// plus-decoded; false when it is not there or is not valid percent-encoding.
bool FindFormField(const char *pText, size_t dwLength, const char *szName, std::string *pValue);

// The value of cookie szName in a Cookie header ("a=1; varnolt_session_8025=x"); false when the
// header does not carry it.
bool FindCookie(const char *pHeader, size_t dwLength, const char *szName, std::string *pValue);

// The name of the session cookie of the panel on this port: two servers on one host keep theirs.
std::string SessionCookieName(int32_t port);

// The Set-Cookie value of a new session: the browser keeps it until it closes, sends it only to
// this site's own requests, and never shows it to scripts; a secure one (over HTTPS) is sent over
// HTTPS only.
std::string SessionCookie(int32_t port, const std::string &id, bool secure);

struct WebSession {
  std::string id;
  int64_t expiresMs;
};

// The sessions with a new one (the expired ones dropped, the oldest when kWebMaxSessions are open).
std::vector<WebSession> WithSession(std::vector<WebSession> sessions, const std::string &id,
                                    int64_t nowMs);

// Whether id names an open session. Every entry is compared, in constant time.
bool HasSession(const std::vector<WebSession> &sessions, const std::string &id, int64_t nowMs);

// The failed sign-ins of one address.
struct SignInFailures {
  std::string address;
  std::vector<int64_t> timesMs;  // within the last window, oldest first
  int64_t lockedUntilMs;         // 0 when not locked out
};

// Whether sign-ins from address are refused now (429).
bool SignInLockedOut(const std::vector<SignInFailures> &failures, const std::string &address,
                     int64_t nowMs);

// The failures after one more from address; *pLockedOut tells whether this one locked it out.
std::vector<SignInFailures> WithFailedSignIn(std::vector<SignInFailures> failures,
                                             const std::string &address, int64_t nowMs,
                                             bool *pLockedOut);
