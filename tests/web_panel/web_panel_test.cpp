// The web panel's pure half: the actions a page may send, the names a request may carry, the
// preview's picture and the identification document.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "web_panel/page_model.h"

namespace {

TEST(WebPanel, ActionsOfABody) {
  const struct {
    const char *szBody;
    WebActionKind kind;
    int32_t field;  // InstrumentField, or WebChoice for kWebChoose
    double value;   // up (1/0) for a step, the position for a choice, NAN: no number typed
    bool coarse;
  } kGood[] = {
      {R"({"do":"step","field":"frequency","dir":"up","coarse":true})", kWebStep, kFieldFrequency,
       1, true},
      {R"({"do":"step","field":"offset","dir":"down"})", kWebStep, kFieldOffset, 0, false},
      {R"({"do":"set","field":"amplitude","text":" 2.5 V "})", kWebSetValue, kFieldAmplitude, 2.5,
       false},
      {R"({"do":"set","field":"frequency","text":"1.5kHz"})", kWebSetValue, kFieldFrequency, 1500,
       false},
      {R"({"do":"set","field":"offset","text":"1 Hz"})", kWebSetValue, kFieldOffset, NAN, false},
      {R"({"do":"set","field":"spw","value":4,"extra":[1]})", kWebChoose, kWebSpw, 4, false},
      {R"({"do":"set","field":"duty","value":-9999999999})", kWebChoose, kWebDuty, -1, false},
      {R"({"do":"run"})", kWebRun, 0, 0, false},
  };
  for (const auto &c : kGood) {
    WebAction action = {};
    ASSERT_TRUE(ParseWebAction(c.szBody, strlen(c.szBody), &action)) << c.szBody;
    EXPECT_EQ(action.kind, c.kind) << c.szBody;
    if (c.kind == kWebStep) {
      EXPECT_EQ(static_cast<int32_t>(action.field), c.field) << c.szBody;
      EXPECT_EQ(action.up, c.value == 1) << c.szBody;
      EXPECT_EQ(action.coarse, c.coarse) << c.szBody;
    } else if (c.kind == kWebSetValue) {
      EXPECT_EQ(static_cast<int32_t>(action.field), c.field) << c.szBody;
      EXPECT_EQ(action.numeric, !std::isnan(c.value)) << c.szBody;
      if (action.numeric) {
        EXPECT_EQ(action.value, c.value) << c.szBody;
      }
    } else if (c.kind == kWebChoose) {
      EXPECT_EQ(static_cast<int32_t>(action.choice), c.field) << c.szBody;
      EXPECT_EQ(action.position, static_cast<int32_t>(c.value)) << c.szBody;
    }
  }
  for (const char *szBody :
       {"", "run", "{}", "[]", R"({"do":"step","field":"frequency","dir":"sideways"})",
        R"({"do":"step","field":"frequency","dir":"up","coarse":1})",
        R"({"do":"set","field":"wave","value":1.5})", R"({"do":"set","field":"frequency"})",
        R"({"do":"set","field":"colour","value":1})", R"({"do":"run")",
        R"({"do":[[[[[[["run"]]]]]]]})"}) {
    WebAction action = {};
    EXPECT_FALSE(ParseWebAction(szBody, strlen(szBody), &action)) << szBody;
  }
}

TEST(WebPanel, OwnHostsAndOrigins) {
  const WebNames names = {{"127.0.0.1", "localhost", "::1", "bench-7", "bench-7.local"}, 8025};
  for (const char *szHost :
       {"127.0.0.1:8025", "LOCALHOST:8025", "[::1]:8025", "bench-7.local:8025"}) {
    EXPECT_TRUE(IsOwnHost(names, szHost)) << szHost;
  }
  for (const char *szHost :
       {"evil.example:8025", "127.0.0.1:8026", "127.0.0.1", "[::1]", "::1:8025", "127.0.0.1:8025:1",
        "bench-7.local.evil.example:8025", ":8025", "", "[::1:8025"}) {
    EXPECT_FALSE(IsOwnHost(names, szHost)) << szHost;
  }
  EXPECT_TRUE(IsOwnHost({{"10.0.0.2"}, 80}, "10.0.0.2"));
  EXPECT_TRUE(IsOwnOrigin(names, "http://localhost:8025"));
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
  EXPECT_EQ(WebErrorText(-222), "-222,\"Data out of range\"");
}

}  // namespace
