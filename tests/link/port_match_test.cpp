#include "link/port_match.h"

#include <gtest/gtest.h>

#include <cstring>
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
      if (at + 2 > aProperty.size()) return aProperty;
      aProperty[at++] = static_cast<uint8_t>(c & 0xFF);
      aProperty[at++] = static_cast<uint8_t>(c >> 8);
    }
    at += 2;
  }
  return aProperty;
}

std::u16string Narrowed(const std::vector<uint8_t> &aProperty) {
  char16_t CurrentDeviceId[kDeviceIdUnits];
  std::memset(CurrentDeviceId, 0x5A, sizeof(CurrentDeviceId));
  NarrowHardwareId(aProperty.data(), CurrentDeviceId);
  size_t length = 0;
  while (length < kDeviceIdUnits && CurrentDeviceId[length] != 0) ++length;
  EXPECT_LT(length, static_cast<size_t>(kDeviceIdUnits)) << "narrowed text not terminated";
  return std::u16string(CurrentDeviceId, length);
}

bool Matches(const std::vector<uint8_t> &aProperty) {
  char16_t CurrentDeviceId[kDeviceIdUnits];
  NarrowHardwareId(aProperty.data(), CurrentDeviceId);
  return HardwareIdMatches(CurrentDeviceId);
}

TEST(NarrowHardwareId, JoinsTheIdsWithoutSeparators) {
  EXPECT_EQ(Narrowed(MultiSz({u"USB\\VID_1209&PID_7A3C&REV_0100", u"USB\\VID_1209&PID_7A3C"})),
            u"USB\\VID_1209&PID_7A3C&REV_0100USB\\VID_1209&PID_7A3C");
  EXPECT_EQ(Narrowed(MultiSz({})), u"");
}

TEST(NarrowHardwareId, KeepsEveryNonZeroByteOfWideCharacters) {
  // U+0130 is the bytes 30 01: both survive as units of their own.
  EXPECT_EQ(Narrowed(MultiSz({u"A\u0130B"})), std::u16string(u"A\u0030\u0001B"));
  // U+0100 is 00 01: the zero byte is dropped.
  EXPECT_EQ(Narrowed(MultiSz({u"\u0100"})), std::u16string(1, u'\u0001'));
}

TEST(NarrowHardwareId, StaysTerminatedWhenAllBytesAreNonZero) {
  std::vector<uint8_t> aProperty(kHardwareIdBytes, 'A');
  const std::u16string narrowed = Narrowed(aProperty);
  EXPECT_EQ(narrowed.size(), static_cast<size_t>(kDeviceIdUnits - 1));
  EXPECT_EQ(narrowed, std::u16string(kDeviceIdUnits - 1, u'A'));
}

TEST(NarrowHardwareId, IgnoresWhateverTheTargetHeldBefore) {
  char16_t CurrentDeviceId[kDeviceIdUnits];
  std::memset(CurrentDeviceId, 'X', sizeof(CurrentDeviceId));
  const std::vector<uint8_t> aProperty = MultiSz({u"AB"});
  NarrowHardwareId(aProperty.data(), CurrentDeviceId);
  EXPECT_EQ(std::u16string(CurrentDeviceId), u"AB");
}

struct MatchCase {
  const char *name;
  std::vector<std::u16string> ids;
  bool match;
};

TEST(HardwareIdMatches, Table) {
  const MatchCase cases[] = {
      {"first id", {u"USB\\VID_1209&PID_7A3C&REV_0100", u"USB\\VID_1209&PID_7A3C"}, true},
      {"only the bare id", {u"VID_1209&PID_7A3C"}, true},
      {"only in the second id", {u"USB\\VID_0403&PID_6001", u"USB\\VID_1209&PID_7A3C"}, true},
      {"only in the fifth id", {u"A", u"B", u"C", u"D", u"X_VID_1209&PID_7A3C_Y"}, true},
      {"other device", {u"USB\\VID_0403&PID_6001&REV_0600", u"USB\\VID_0403&PID_6001"}, false},
      {"lower case", {u"USB\\vid_1209&pid_7a3c"}, false},
      {"one digit off", {u"USB\\VID_1209&PID_7A3D"}, false},
      {"cut short", {u"USB\\VID_1209&PID_7A3"}, false},
      {"split across two ids", {u"USB\\VID_1209", u"&PID_7A3C"}, true}, // narrowing joins them
      {"empty", {}, false},
  };
  for (const MatchCase &c : cases) EXPECT_EQ(Matches(MultiSz(c.ids)), c.match) << c.name;
}

TEST(HardwareIdMatches, FindsTheIdAtTheVeryEndOfAFullProperty) {
  std::vector<uint8_t> aProperty(kHardwareIdBytes, 'A');
  const char id[] = "VID_1209&PID_7A3C";
  const size_t idBytes = sizeof(id) - 1;
  // 1023 units survive the narrowing: the id ending at unit 1022 is found, one ending at the
  // dropped 1024th byte is not.
  std::memcpy(aProperty.data() + kHardwareIdBytes - 1 - idBytes, id, idBytes);
  EXPECT_TRUE(Matches(aProperty));
  std::fill(aProperty.begin(), aProperty.end(), 'A');
  std::memcpy(aProperty.data() + kHardwareIdBytes - idBytes, id, idBytes);
  EXPECT_FALSE(Matches(aProperty));
}

TEST(HardwareIdMatches, StopsAtTheEndOfAnUnterminatedArray) {
  char16_t CurrentDeviceId[kDeviceIdUnits];
  for (char16_t &c : CurrentDeviceId) c = u'V';
  EXPECT_FALSE(HardwareIdMatches(CurrentDeviceId));
}

struct PortNameCase {
  const char *name;
  int32_t queryResult;
  uint32_t dwType;
  std::vector<char16_t> value; // the 10 units as the query left them
  bool accepted;
  std::u16string portName;
};

std::vector<char16_t> Units(const std::u16string &text) {
  std::vector<char16_t> units(kPortNameUnits, 0);
  for (size_t i = 0; i < text.size() && i < units.size(); ++i) units[i] = text[i];
  return units;
}

TEST(AcceptPortName, Table) {
  const PortNameCase cases[] = {
      {"COM5", 0, kRegSz, Units(u"COM5"), true, u"COM5"},
      {"lower case com7", 0, kRegSz, Units(u"com7"), true, u"com7"},
      {"mixed case", 0, kRegSz, Units(u"cOm12"), true, u"cOm12"},
      {"nine characters", 0, kRegSz, Units(u"COM123456"), true, u"COM123456"},
      {"_wtoi stops at letters", 0, kRegSz, Units(u"COM3X"), true, u"COM3X"},
      {"_wtoi skips white space", 0, kRegSz, Units(u"COM 4"), true, u"COM 4"},
      {"_wtoi reads a sign", 0, kRegSz, Units(u"COM-1"), true, u"COM-1"},
      {"COM0", 0, kRegSz, Units(u"COM0"), false, u""},
      {"COM00", 0, kRegSz, Units(u"COM00"), false, u""},
      {"COMX", 0, kRegSz, Units(u"COMX"), false, u""},
      {"bare COM", 0, kRegSz, Units(u"COM"), false, u""},
      {"LPT1", 0, kRegSz, Units(u"LPT1"), false, u""},
      {"CO", 0, kRegSz, Units(u"CO"), false, u""},
      {"empty", 0, kRegSz, Units(u""), false, u""},
      {"leading blank", 0, kRegSz, Units(u" COM5"), false, u""},
      {"REG_EXPAND_SZ", 0, kRegExpandSz, Units(u"COM5"), false, u""},
      {"REG_MULTI_SZ", 0, kRegMultiSz, Units(u"COM5"), false, u""},
      {"REG_DWORD", 0, 4, Units(u"COM5"), false, u""},
      {"value missing", 2, 0, Units(u""), false, u""},
      {"value longer than 20 bytes", 234, kRegSz, Units(u"COM1234567"), false, u""},
      {"20 bytes, no terminator", 0, kRegSz, Units(u"COM1234567"), false, u""},
  };
  for (const PortNameCase &c : cases) {
    char16_t pcCommPortTemp[kPortNameUnits] = {u'o', u'l', u'd', 0};
    const bool accepted = AcceptPortName(c.queryResult, c.dwType, c.value.data(), pcCommPortTemp);
    EXPECT_EQ(accepted, c.accepted) << c.name;
    EXPECT_EQ(std::u16string(pcCommPortTemp), c.accepted ? c.portName : u"old") << c.name;
  }
}

TEST(AcceptPortName, ALaterNameReplacesAnEarlierOneWhole) {
  char16_t pcCommPortTemp[kPortNameUnits] = {};
  ASSERT_TRUE(AcceptPortName(0, kRegSz, Units(u"COM123456").data(), pcCommPortTemp));
  ASSERT_TRUE(AcceptPortName(0, kRegSz, Units(u"COM7").data(), pcCommPortTemp));
  EXPECT_EQ(std::u16string(pcCommPortTemp), u"COM7");
}

TEST(WideTextToInt, ReadsAsWtoiDoes) {
  struct Case {
    std::u16string text;
    int32_t value;
  } const cases[] = {
      {u"5", 5},       {u"123456", 123456}, {u"0", 0},    {u"", 0},           {u"X1", 0},
      {u"12X3", 12},   {u"  7", 7},         {u"\t9", 9},  {u"-3", -3},        {u"+8", 8},
      {u"--1", 0},     {u"- 1", 0},         {u"007", 7},  {u"99999999999", INT32_MAX},
  };
  for (const Case &c : cases)
    EXPECT_EQ(WideTextToInt(c.text.data(), c.text.size()), c.value) << std::string(c.text.begin(), c.text.end());
}

TEST(WideTextToInt, ReadsNoFurtherThanItIsTold) {
  const char16_t digits[] = {u'1', u'2', u'3'};
  EXPECT_EQ(WideTextToInt(digits, 2), 12);
  EXPECT_EQ(WideTextToInt(digits, 0), 0);
}

TEST(PortPath, IsThePrefixAndOnePortName) {
  char16_t PortPath[kPortPathUnits];
  std::memset(PortPath, 'Z', sizeof(PortPath));
  ResetPortPath(PortPath);
  EXPECT_EQ(std::u16string(PortPath), u"\\\\.\\");
  const char16_t pcLong[kPortNameUnits] = {u'C', u'O', u'M', u'1', u'2', u'3', u'4', u'5', u'6', 0};
  ComposePortPath(pcLong, PortPath);
  EXPECT_EQ(std::u16string(PortPath), u"\\\\.\\COM123456");
  const char16_t pcShort[kPortNameUnits] = {u'C', u'O', u'M', u'5', 0};
  ComposePortPath(pcShort, PortPath);
  EXPECT_EQ(std::u16string(PortPath), u"\\\\.\\COM5");
}

TEST(PortPath, AnUnterminatedNameIsCutAndTerminated) {
  char16_t PortPath[kPortPathUnits];
  char16_t pcName[kPortNameUnits];
  for (char16_t &c : pcName) c = u'9';
  ComposePortPath(pcName, PortPath);
  EXPECT_EQ(std::u16string(PortPath), u"\\\\.\\999999999");
}

TEST(ConnectedText, IsTheLeadFollowedByThePortName) {
  char16_t msgSTR[kStatusTextUnits];
  std::memset(msgSTR, 'Z', sizeof(msgSTR));
  const char16_t pcName[kPortNameUnits] = {u'C', u'O', u'M', u'5', 0};
  ComposeConnectedText(pcName, msgSTR);
  EXPECT_EQ(std::u16string(msgSTR), u"Device is connected as COM5");
  char16_t pcFull[kPortNameUnits];
  for (char16_t &c : pcFull) c = u'7';
  ComposeConnectedText(pcFull, msgSTR);
  EXPECT_EQ(std::u16string(msgSTR), u"Device is connected as 777777777");
}

TEST(CopyText, IsBoundedAndTerminated) {
  char16_t szTo[4];
  EXPECT_EQ(CopyText(szTo, 4, u"ABCDEF", 7), 3u);
  EXPECT_EQ(std::u16string(szTo), u"ABC");
  EXPECT_EQ(CopyText(szTo, 4, u"ABCDEF", 2), 2u);
  EXPECT_EQ(std::u16string(szTo), u"AB");
  EXPECT_EQ(CopyText(szTo, 1, u"ABC", 3), 0u);
  EXPECT_EQ(szTo[0], 0);
  szTo[0] = u'Q';
  EXPECT_EQ(CopyText(szTo, 0, u"ABC", 3), 0u);
  EXPECT_EQ(szTo[0], u'Q');
}

} // namespace
