#include "link/port_match.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// A hardware-id property as SetupAPI returns it: UTF-16LE ids, each terminated (the \0 between
// them), then one more terminator; the rest of the 1024-byte buffer stays zero.
std::vector<uint8_t> Property(const std::u16string &ids) {
  std::vector<uint8_t> aProperty(kHardwareIdBytes, 0);
  for (size_t i = 0; i < ids.size(); ++i) {
    aProperty[2 * i] = static_cast<uint8_t>(ids[i] & 0xFF);
    aProperty[2 * i + 1] = static_cast<uint8_t>(ids[i] >> 8);
  }
  return aProperty;
}

TEST(HardwareId, NarrowingAndMatching) {
  std::vector<uint8_t> aFull(kHardwareIdBytes, 'A');
  std::vector<uint8_t> aIdAtUnit1022 = aFull;  // the last unit that survives the narrowing
  std::vector<uint8_t> aIdAtTheDroppedByte = aFull;
  std::memcpy(&aIdAtUnit1022[kHardwareIdBytes - 18], "VID_1209&PID_7A3C", 17);
  std::memcpy(&aIdAtTheDroppedByte[kHardwareIdBytes - 17], "VID_1209&PID_7A3C", 17);
  // clang-format off
  const struct { std::vector<uint8_t> aProperty; std::u16string narrowed; bool matches; } kCases[] = {
      {Property(u"USB\\VID_0403&PID_6001\0X_VID_1209&PID_7A3C_Y"s), u"", true},
      {Property(u"USB\\VID_1209\0&PID_7A3C"s), u"USB\\VID_1209&PID_7A3C", true},
      {Property(u"A\u0130B\u0100"), u"A\u0030\u0001B\u0001", false},  // zero bytes dropped
      {Property(u"USB\\vid_1209&pid_7a3c"), u"", false}, {Property(u"VID_1209&PID_7A3D"), u"", false},
      {Property(u"USB\\VID_1209&PID_7A3"), u"", false}, {Property(u""), u"", false},
      {aFull, std::u16string(kDeviceIdUnits - 1, u'A'), false}, {aIdAtUnit1022, u"", true},
      {aIdAtTheDroppedByte, u"", false}};
  // clang-format on
  for (const auto &c : kCases) {
    char16_t CurrentDeviceId[kDeviceIdUnits];
    std::memset(CurrentDeviceId, 0x5A, sizeof CurrentDeviceId);
    NarrowHardwareId(c.aProperty.data(), CurrentDeviceId);
    const char16_t *pEnd = std::find(CurrentDeviceId, CurrentDeviceId + kDeviceIdUnits, 0);
    ASSERT_NE(pEnd, CurrentDeviceId + kDeviceIdUnits) << "not terminated: case " << (&c - kCases);
    EXPECT_TRUE(c.narrowed.empty() ||
                std::u16string(CurrentDeviceId, pEnd - CurrentDeviceId) == c.narrowed)
        << "case " << (&c - kCases);
    EXPECT_EQ(HardwareIdMatches(CurrentDeviceId), c.matches) << "case " << (&c - kCases);
  }
  // An id that fills its units without a terminator is searched within them only.
  const std::u16string past = std::u16string(kDeviceIdUnits - 8, u'A') + u"VID_1209&PID_7A3C";
  EXPECT_FALSE(HardwareIdMatches(past.data()));
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
      {0, kRegSz, u"COM0", false}, {0, kRegSz, u"COM", false}, {0, kRegSz, u"LPT1", false},
      {0, kRegSz, u" COM5", false}, {0, kRegExpandSz, u"COM5", false}, {2, kRegSz, u"COM5", false},
      {234, kRegSz, u"COM1234567", false}, {0, kRegSz, u"COM1234567", false},  // no terminator
  };
  // clang-format on
  for (const auto &c : kCases) {
    char16_t pcCommPortTemp[kPortNameUnits] = {u'o', u'l', u'd', 0};
    bool accepted = AcceptPortName(c.queryResult, c.dwType, Units(c.value).data(), pcCommPortTemp);
    EXPECT_TRUE(accepted == c.accepted && pcCommPortTemp == (accepted ? c.value : u"old"))
        << "case " << (&c - kCases);
  }

  // An unterminated name is cut to its 9 characters.
  for (const std::u16string &name : {u"COM5"s, std::u16string(kPortNameUnits, u'9')}) {
    char16_t PortPath[kPortPathUnits], msgSTR[kStatusTextUnits];
    ComposePortPath(Units(name).data(), PortPath);
    ComposeConnectedText(Units(name).data(), msgSTR);
    EXPECT_TRUE(PortPath == u"\\\\.\\" + name.substr(0, 9)) << "case " << name.size();
    EXPECT_TRUE(msgSTR == u"Device is connected as " + name.substr(0, 9)) << "case " << name.size();
  }
  // A text that does not fit is cut and terminated within its units.
  char16_t aCut[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(CopyText(aCut, 3, u"abcdef", 6), 2u);
  EXPECT_TRUE(std::u16string(aCut, 4) == u"ab\0x"s);
}

}  // namespace
