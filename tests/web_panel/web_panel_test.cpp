// The web panel's pure half: the actions a page may send, the names a request may carry, the
// preview's picture, the identification document, and who may change the generator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "web_panel/page_model.h"
#include "web_panel/web_access.h"

namespace {

TEST(WebPanel, ActionsOfABody) {
  // Each as "kind field up coarse numeric value choice position", the value only when numeric.
  const struct {
    const char *szBody, *szAction;
  } kGood[] = {
      {R"({"do":"step","field":"offset","dir":"down"})", "0 1 0 0 0 0 0 0"},
      {R"({"do":"set","field":"amplitude","text":" 2.5 V "})", "1 2 0 0 1 2.5 0 0"},
      {R"({"do":"set","field":"frequency","text":"1.5kHz"})", "1 0 0 0 1 1500 0 0"},
      {R"({"do":"set","field":"offset","text":"1 Hz"})", "1 1 0 0 0 0 0 0"},
      {R"({"do":"set","field":"spw","value":4,"extra":[1]})", "2 0 0 0 0 0 1 4"},
      {R"({"do":"set","field":"duty","value":-9999999999})", "2 0 0 0 0 0 2 -1"},
  };
  for (const auto &c : kGood) {
    WebAction a = {};
    EXPECT_TRUE(ParseWebAction(c.szBody, strlen(c.szBody), &a)) << c.szBody;
    char szAction[128];
    snprintf(szAction, sizeof szAction, "%d %d %d %d %d %.17g %d %d", a.kind, a.field, a.up,
             a.coarse, a.numeric, a.numeric ? a.value : 0.0, a.choice, a.position);
    EXPECT_STREQ(szAction, c.szAction) << c.szBody;
  }
  for (const char *szBody :
       {"", "{}", "[]", R"({"do":"step","field":"frequency","dir":"sideways"})",
        R"({"do":"step","field":"frequency","dir":"up","coarse":1})",
        R"({"do":"set","field":"wave","value":1.5})", R"({"do":"set","field":"frequency"})",
        R"({"do":"set","field":"colour","value":1})", R"({"do":[[[[[[["run"]]]]]]]})"}) {
    WebAction action = {};
    EXPECT_FALSE(ParseWebAction(szBody, strlen(szBody), &action)) << szBody;
  }
}

TEST(WebPanel, OwnHostsAndOrigins) {
  const WebNames names = {
      {"127.0.0.1", "localhost", "::1", "bench-7", "bench-7.local"}, 8025, false};
  for (const char *szHost :
       {"127.0.0.1:8025", "LOCALHOST:8025", "[::1]:8025", "bench-7.local:8025"}) {
    EXPECT_TRUE(IsOwnHost(names, szHost)) << szHost;
  }
  for (const char *szHost : {"evil.example:8025", "127.0.0.1:8026", "127.0.0.1", "::1:8025",
                             "127.0.0.1:8025:1", "bench-7.local.evil.example:8025", "[::1:8025"}) {
    EXPECT_FALSE(IsOwnHost(names, szHost)) << szHost;
  }
  EXPECT_TRUE(IsOwnHost({{"10.0.0.2"}, 80, false}, "10.0.0.2"));
  EXPECT_TRUE(IsOwnHost({{"10.0.0.2"}, 443, true}, "10.0.0.2"));
  EXPECT_FALSE(IsOwnHost({{"10.0.0.2"}, 443, false}, "10.0.0.2"));
  EXPECT_FALSE(IsOwnOrigin({{"localhost"}, 8443, true}, "http://localhost:8443"));
  for (const char *szOrigin : {"null", "https://localhost:8025", "http://evil.example:8025",
                               "http://localhost:8025/x", "localhost:8025"}) {
    EXPECT_FALSE(IsOwnOrigin(names, szOrigin)) << szOrigin;
  }
}

// The picture follows the preview model: the background, three guides and the trace, its colour
// telling whether the output runs; at 24 samples per wave each copy draws 24 points.
TEST(WebPanel, PreviewPicture) {
  uint16_t samples[360];
  for (uint16_t &sample : samples) sample = 32767;
  GeneratorSettings settings;
  settings.spwIndex = 4;
  const std::string stopped = PreviewSvg(samples, settings, false);
  const std::string running = PreviewSvg(samples, settings, true);
  EXPECT_NE(stopped.find("viewBox=\"18 122 720 258\""), std::string::npos);
  EXPECT_NE(stopped.find("stroke=\"#ff0000\""), std::string::npos);
  EXPECT_NE(running.find("stroke=\"#00ff00\""), std::string::npos);
  size_t trace = running.rfind("points=\"");
  std::string points = running.substr(trace, running.find('"', trace + 8) - trace);
  EXPECT_EQ(std::count(points.begin(), points.end(), ','), 1 + 2 * 24);
  EXPECT_EQ(points.substr(0, 23), "points=\"18,250 18,250 3");
}

TEST(WebPanel, IdentificationDocument) {
  WebIdentity identity = {"A<1>&\"",
                          "1.2.3",
                          {"TCPIP::10.0.0.2::5025::SOCKET", "TCPIP::[::1]::5025::SOCKET"},
                          "http://10.0.0.2:8025/"};
  const std::string xml = LxiIdentificationXml(identity);
  EXPECT_NE(xml.find("<SerialNumber>A&lt;1&gt;&amp;&quot;</SerialNumber>"), std::string::npos);
  EXPECT_NE(xml.find("<InstrumentAddressString>TCPIP::[::1]::5025::SOCKET<"), std::string::npos);
  EXPECT_NE(xml.find("<HomepageURL>http://10.0.0.2:8025/</HomepageURL>"), std::string::npos);
}

// The token's text; what a sign-in brings (when one is needed: the serving and browser tests).
TEST(WebAccess, TokenAndWhatASignInBrings) {
  const uint8_t aBytes[] = {0xfb, 0xff, 0x00, 0x10};
  EXPECT_EQ(UrlSafeText(aBytes, 4), "-_8AEA");
  std::string token;
  EXPECT_TRUE(ReadTokenText(" abcdefghijklmnopqrstu-_\r\n", &token));
  EXPECT_EQ(token, "abcdefghijklmnopqrstu-_");
  for (const char *szBad : {"abcdefghijklmnopqrstu", "abcdefghijklmnopqrstu+v", "a b"}) {
    EXPECT_FALSE(ReadTokenText(szBad, &token)) << szBad;
  }
  EXPECT_TRUE(SameSecret("abc", "abc") && !SameSecret("abc", "abd") &&
              !SameSecret("abc", std::string("abc\0", 4)) && !SameSecret("", "a"));

  // A form's field, then a Cookie header's session (null: not found).
  const struct {
    bool cookie;
    const char *szText, *szValue;
  } kCases[] = {
      // clang-format off
      {false, "token=a%2Bb+c", "a+b c"}, {false, "x=1&token=&y", ""}, {false, "token", nullptr},
      {false, "xtoken=1&token=2", "2"}, {false, "token=%2", nullptr}, {false, "token=%zz", nullptr},
      {false, "tokens=1", nullptr}, {false, "a=1&&token=%41", "A"},
      {true, "a=1;  varnolt_session_8025=\"abc\" ; b=2", "abc"},
      {true, "varnolt_session_80250=abc; varnolt_session_8025=def", "def"},
      {true, "xvarnolt_session_8025=abc", nullptr}, {true, "varnolt_session_8025", nullptr},
      // clang-format on
  };
  for (const auto &c : kCases) {
    std::string value = "?";
    const size_t size = strlen(c.szText);
    EXPECT_EQ(c.cookie ? FindCookie(c.szText, size, "varnolt_session_8025", &value)
                       : FindFormField(c.szText, size, "token", &value),
              c.szValue != nullptr)
        << c.szText;
    if (c.szValue != nullptr) {
      EXPECT_EQ(value, c.szValue) << c.szText;
    }
  }
}

// Sessions last a day; the tenth failed sign-in within 60 s locks its address out for 60 s from
// then, and the failures of another address count apart. The clock is the test's.
TEST(WebAccess, SessionsAndTheLimitOnFailedSignIns) {
  std::vector<WebSession> sessions = WithSession({}, "one", 1000);
  sessions = WithSession(sessions, "two", 2000);
  EXPECT_TRUE(HasSession(sessions, "one", 1000 + kWebSessionMs - 1));
  EXPECT_FALSE(HasSession(sessions, "one", 1000 + kWebSessionMs));
  EXPECT_TRUE(HasSession(sessions, "two", 1000 + kWebSessionMs));
  EXPECT_FALSE(HasSession(sessions, "on", 1000));
  EXPECT_EQ(WithSession(sessions, "three", 2000 + kWebSessionMs).size(), 1u);

  std::vector<SignInFailures> failures;
  bool lockedOut = false;
  // Nine failures, the first of them then out of the window: the next ones do not lock yet.
  for (int64_t t : {0, 50000, 50001, 50002, 50003, 50004, 50005, 50006, 50007, 60000}) {
    failures = WithFailedSignIn(failures, "10.0.0.9", t, &lockedOut);
    EXPECT_FALSE(lockedOut) << t;
  }
  failures = WithFailedSignIn(failures, "10.0.0.8", 60001, &lockedOut);
  EXPECT_FALSE(lockedOut);
  failures = WithFailedSignIn(failures, "10.0.0.9", 60002, &lockedOut);
  EXPECT_TRUE(lockedOut);
  EXPECT_TRUE(SignInLockedOut(failures, "10.0.0.9", 120001));
  EXPECT_FALSE(SignInLockedOut(failures, "10.0.0.9", 120002));
  EXPECT_FALSE(SignInLockedOut(failures, "10.0.0.8", 60003));
  // After the lock-out, counting starts again.
  failures = WithFailedSignIn(failures, "10.0.0.9", 120002, &lockedOut);
  EXPECT_FALSE(lockedOut);
}

}  // namespace
