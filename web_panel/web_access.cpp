// The web panel's access rules: the token's text, constant-time comparison, sessions, the limit
// on failed sign-ins, and the parsing of forms, queries and cookies.
#include "web_panel/web_access.h"

#include <algorithm>
#include <cstring>

namespace {

const char kUrlSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

bool IsUrlSafe(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

int32_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A form's or a query's value, decoded: false for a '%' without two hex digits after it.
bool Decoded(const char *pText, size_t dwLength, std::string *pValue) {
  pValue->clear();
  for (size_t i = 0; i < dwLength; i++) {
    if (pText[i] == '+') {
      pValue->push_back(' ');
    } else if (pText[i] != '%') {
      pValue->push_back(pText[i]);
    } else {
      if (dwLength - i < 3) return false;
      const int32_t high = HexDigit(pText[i + 1]);
      const int32_t low = HexDigit(pText[i + 2]);
      if (high < 0 || low < 0) return false;
      pValue->push_back(static_cast<char>(high * 16 + low));
      i += 2;
    }
  }
  return true;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

bool ParseWebAuthMode(const std::string &text, WebAuthMode *pMode) {
  const struct {
    const char *szName;
    WebAuthMode mode;
  } kModes[] = {{"auto", kWebAuthAuto}, {"on", kWebAuthOn}, {"off", kWebAuthOff}};
  for (const auto &mode : kModes) {
    if (text == mode.szName) {
      *pMode = mode.mode;
      return true;
    }
  }
  return false;
}

bool WebAuthNeeded(WebAuthMode mode, bool loopback) {
  switch (mode) {
    case kWebAuthOn: return true;
    case kWebAuthOff: return false;
    default: return !loopback;
  }
}

std::string UrlSafeText(const uint8_t *pBytes, size_t dwCount) {
  std::string text;
  uint32_t bits = 0;
  int32_t held = 0;
  for (size_t i = 0; i < dwCount; i++) {
    bits = (bits << 8) | pBytes[i];
    held += 8;
    while (held >= 6) {
      held -= 6;
      text.push_back(kUrlSafe[(bits >> held) & 63]);
    }
  }
  if (held > 0) text.push_back(kUrlSafe[(bits << (6 - held)) & 63]);
  return text;
}

bool ReadTokenText(const std::string &text, std::string *pToken) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && IsBlank(text[start])) start++;
  while (end > start && IsBlank(text[end - 1])) end--;
  const std::string token = text.substr(start, end - start);
  if (token.size() < 22 || token.size() > 256) return false;
  if (!std::all_of(token.begin(), token.end(), IsUrlSafe)) return false;
  *pToken = token;
  return true;
}

bool SameSecret(const std::string &a, const std::string &b) {
  // Every byte of the longer one is looked at, whatever differs first.
  const size_t dwLength = std::max(a.size(), b.size());
  uint32_t differ = a.size() == b.size() ? 0 : 1;
  for (size_t i = 0; i < dwLength; i++) {
    const uint8_t x = i < a.size() ? static_cast<uint8_t>(a[i]) : 0;
    const uint8_t y = i < b.size() ? static_cast<uint8_t>(b[i]) : 0;
    differ |= static_cast<uint32_t>(x ^ y);
  }
  return differ == 0;
}

bool FindFormField(const char *pText, size_t dwLength, const char *szName, std::string *pValue) {
  const size_t dwName = strlen(szName);
  size_t start = 0;
  while (start <= dwLength) {
    const char *pEnd = static_cast<const char *>(memchr(pText + start, '&', dwLength - start));
    const size_t end = pEnd != nullptr ? static_cast<size_t>(pEnd - pText) : dwLength;
    const size_t dwPair = end - start;
    if (dwPair > dwName && memcmp(pText + start, szName, dwName) == 0 &&
        pText[start + dwName] == '=') {
      return Decoded(pText + start + dwName + 1, dwPair - dwName - 1, pValue);
    }
    start = end + 1;
  }
  return false;
}

bool FindCookie(const char *pHeader, size_t dwLength, const char *szName, std::string *pValue) {
  const size_t dwName = strlen(szName);
  size_t start = 0;
  while (start < dwLength) {
    const char *pEnd = static_cast<const char *>(memchr(pHeader + start, ';', dwLength - start));
    size_t end = pEnd != nullptr ? static_cast<size_t>(pEnd - pHeader) : dwLength;
    const size_t next = end + 1;
    while (start < end && IsBlank(pHeader[start])) start++;
    while (end > start && IsBlank(pHeader[end - 1])) end--;
    if (end - start > dwName && memcmp(pHeader + start, szName, dwName) == 0 &&
        pHeader[start + dwName] == '=') {
      pValue->assign(pHeader + start + dwName + 1, end - start - dwName - 1);
      // A quoted value is the value inside its quotes.
      if (pValue->size() >= 2 && pValue->front() == '"' && pValue->back() == '"') {
        *pValue = pValue->substr(1, pValue->size() - 2);
      }
      return true;
    }
    start = next;
  }
  return false;
}

std::string SessionCookieName(int32_t port) {
  return "varnolt_session_" + std::to_string(port);
}

std::string SessionCookie(int32_t port, const std::string &id, bool secure) {
  return SessionCookieName(port) + "=" + id + "; HttpOnly; SameSite=Strict; Path=/" +
         (secure ? "; Secure" : "");
}

std::vector<WebSession> WithSession(std::vector<WebSession> sessions, const std::string &id,
                                    int64_t nowMs) {
  sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                [nowMs](const WebSession &s) { return s.expiresMs <= nowMs; }),
                 sessions.end());
  if (sessions.size() >= static_cast<size_t>(kWebMaxSessions)) sessions.erase(sessions.begin());
  sessions.push_back({id, nowMs + kWebSessionMs});
  return sessions;
}

bool HasSession(const std::vector<WebSession> &sessions, const std::string &id, int64_t nowMs) {
  bool found = false;
  for (const WebSession &session : sessions) {
    const bool same = SameSecret(session.id, id);
    found = found || (same && session.expiresMs > nowMs);
  }
  return found;
}

bool SignInLockedOut(const std::vector<SignInFailures> &failures, const std::string &address,
                     int64_t nowMs) {
  for (const SignInFailures &entry : failures) {
    if (entry.address == address) return nowMs < entry.lockedUntilMs;
  }
  return false;
}

std::vector<SignInFailures> WithFailedSignIn(std::vector<SignInFailures> failures,
                                             const std::string &address, int64_t nowMs,
                                             bool *pLockedOut) {
  *pLockedOut = false;
  // Addresses with nothing left to remember go; the table keeps its bound.
  for (SignInFailures &entry : failures) {
    entry.timesMs.erase(
        std::remove_if(entry.timesMs.begin(), entry.timesMs.end(),
                       [nowMs](int64_t t) { return nowMs - t >= kWebSignInWindowMs; }),
        entry.timesMs.end());
  }
  failures.erase(std::remove_if(failures.begin(), failures.end(),
                                [&](const SignInFailures &entry) {
                                  return entry.address != address && entry.timesMs.empty() &&
                                         nowMs >= entry.lockedUntilMs;
                                }),
                 failures.end());
  auto found = std::find_if(failures.begin(), failures.end(),
                            [&](const SignInFailures &entry) { return entry.address == address; });
  if (found == failures.end()) {
    if (failures.size() >= static_cast<size_t>(kWebMaxSignInAddresses)) {
      failures.erase(failures.begin());
    }
    failures.push_back({address, {}, 0});
    found = failures.end() - 1;
  }
  found->timesMs.push_back(nowMs);
  if (static_cast<int32_t>(found->timesMs.size()) >= kWebSignInLimit) {
    found->lockedUntilMs = nowMs + kWebSignInWindowMs;
    found->timesMs.clear();
    *pLockedOut = true;
  }
  return failures;
}
