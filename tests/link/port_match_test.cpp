#include "link/port_match.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A hardware-id property as SetupAPI returns it: UTF-16LE ids, each terminated, then one more
// terminator; the rest of the 1024-byte buffer stays zero.
std::vector<uint8_t> MultiSz(const std::vector<std::u16string> &ids) {
  std::vector<uint8_t> aProperty(kHardwareIdBytes, 0);
  size_t at = 0;
  for (const std::u16string &id : ids) {
    for (char16_t c : id) {
      aProperty[at++] = static_cast<uint8_t>(c & 0xFF);
      aProperty[at++] = static_cast<uint8_t>(c >> 8);
    }
    at += 2;
  }
  return aProperty;
}

// The narrowed text; fails the test when it is not terminated inside its array.
std::u16string Narrowed(const std::vector<uint8_t> &aProperty, bool *matches) {
  char16_t CurrentDeviceId[kDeviceIdUnits];
  std::memset(CurrentDeviceId, 0x5A, sizeof CurrentDeviceId);
  NarrowHardwareId(aProperty.data(), CurrentDeviceId);
  *matches = HardwareIdMatches(CurrentDeviceId);
  size_t length = 0;
  while (length < kDeviceIdUnits && CurrentDeviceId[length] != 0) ++length;
  EXPECT_LT(length, std::size(CurrentDeviceId)) << "not terminated";
  return std::u16string(CurrentDeviceId, length);
}

TEST(HardwareId, NarrowingAndMatching) {
  std::vector<uint8_t> aFull(kHardwareIdBytes, 'A');
  std::vector<uint8_t> aIdAtUnit1022 = aFull;  // the last unit that survives the narrowing
  std::vector<uint8_t> aIdAtTheDroppedByte = aFull;
  std::memcpy(&aIdAtUnit1022[kHardwareIdBytes - 18], "VID_1209&PID_7A3C", 17);
  std::memcpy(&aIdAtTheDroppedByte[kHardwareIdBytes - 17], "VID_1209&PID_7A3C", 17);
  // clang-format off
  const struct { std::vector<uint8_t> aProperty; std::u16string narrowed; bool matches; } kCases[] = {
      {MultiSz({u"USB\\VID_1209&PID_7A3C&REV_0100", u"USB\\VID_1209&PID_7A3C"}), u"", true},
      {MultiSz({u"USB\\VID_0403&PID_6001", u"X_VID_1209&PID_7A3C_Y"}), u"", true},
      {MultiSz({u"USB\\VID_1209", u"&PID_7A3C"}), u"USB\\VID_1209&PID_7A3C", true},
      {MultiSz({u"A\u0130B\u0100"}), u"A\u0030\u0001B\u0001", false},  // zero bytes dropped
      {MultiSz({u"USB\\vid_1209&pid_7a3c"}), u"", false}, {MultiSz({u"VID_1209&PID_7A3D"}), u"", false},
      {MultiSz({u"USB\\VID_1209&PID_7A3"}), u"", false}, {MultiSz({}), u"", false},
      {aFull, std::u16string(kDeviceIdUnits - 1, u'A'), false}, {aIdAtUnit1022, u"", true},
      {aIdAtTheDroppedByte, u"", false}
  };
  // clang-format on
  for (const auto &c : kCases) {
    bool matches = false;
    std::u16string narrowed = Narrowed(c.aProperty, &matches);
    if (!c.narrowed.empty()) {
      EXPECT_TRUE(narrowed == c.narrowed) << "case " << (&c - kCases);
    }
    EXPECT_EQ(matches, c.matches) << "case " << (&c - kCases);
  }
}

std::vector<char16_t> Units(const std::u16string &text) {
  std::vector<char16_t> units(kPortNameUnits, 0);
  for (size_t i = 0; i < text.size() && i < units.size(); ++i) units[i] = text[i];
  return units;
}

TEST(PortName, AcceptanceAndTheTextsBuiltFromIt) {
  // clang-format off
  // The value is the 10 units as the query left them; the number part reads as _wtoi reads it.
  const struct { int32_t queryResult; uint32_t dwType; std::u16string value; bool accepted; } kCases[] = {
      {0, kRegSz, u"COM5", true}, {0, kRegSz, u"cOm7", true}, {0, kRegSz, u"COM123456", true},
      {0, kRegSz, u"COM3X", true}, {0, kRegSz, u"COM 4", true}, {0, kRegSz, u"COM-1", true},
      {0, kRegSz, u"COM0", false}, {0, kRegSz, u"COM00", false},
      {0, kRegSz, u"COMX", false}, {0, kRegSz, u"COM", false}, {0, kRegSz, u"LPT1", false},
      {0, kRegSz, u" COM5", false}, {0, kRegExpandSz, u"COM5", false}, {2, 0, u"", false},
      {234, kRegSz, u"COM1234567", false}, {0, kRegSz, u"COM1234567", false},  // no terminator
  };
  // clang-format on
  for (const auto &c : kCases) {
    char16_t pcCommPortTemp[kPortNameUnits] = {u'o', u'l', u'd', 0};
    bool accepted = AcceptPortName(c.queryResult, c.dwType, Units(c.value).data(), pcCommPortTemp);
    EXPECT_TRUE(accepted == c.accepted && pcCommPortTemp == (accepted ? c.value : u"old"))
        << "case " << (&c - kCases);
  }

  char16_t PortPath[kPortPathUnits];
  char16_t msgSTR[kStatusTextUnits];
  ComposePortPath(Units(u"COM5").data(), PortPath);
  ComposeConnectedText(Units(u"COM5").data(), msgSTR);
  EXPECT_TRUE(std::u16string(PortPath) == u"\\\\.\\COM5");
  EXPECT_TRUE(std::u16string(msgSTR) == u"Device is connected as COM5");
  // An unterminated name is cut to its 9 characters.
  char16_t aNines[kPortNameUnits];
  for (char16_t &c : aNines) c = u'9';
  ComposePortPath(aNines, PortPath);
  ComposeConnectedText(aNines, msgSTR);
  EXPECT_TRUE(std::u16string(PortPath) == u"\\\\.\\999999999");
  EXPECT_TRUE(std::u16string(msgSTR) == u"Device is connected as 999999999");
}

}  // namespace
