#include "link/port_match.h"

#include <iterator>

#include "link/link_texts.h"

void NarrowHardwareId(const uint8_t szBuffer[kHardwareIdBytes],
                      char16_t CurrentDeviceId[kDeviceIdUnits]) {
  size_t units = 0;
  for (size_t i = 0; i < kDeviceIdUnits; ++i) CurrentDeviceId[i] = 0;
  for (size_t i = 0; i < kHardwareIdBytes && units + 1 < kDeviceIdUnits; ++i) {
    if (szBuffer[i] != 0) CurrentDeviceId[units++] = szBuffer[i];
  }
}

bool HardwareIdMatches(const char16_t CurrentDeviceId[kDeviceIdUnits]) {
  const size_t idUnits = std::size(kVarnoltId) - 1;
  size_t length = 0;
  while (length < kDeviceIdUnits && CurrentDeviceId[length] != 0) ++length;
  for (size_t start = 0; start + idUnits <= length; ++start) {
    size_t same = 0;
    while (same < idUnits && CurrentDeviceId[start + same] == kVarnoltId[same]) ++same;
    if (same == idUnits) return true;
  }
  return false;
}

namespace {

bool IsWideSpace(char16_t c) {
  return c == u' ' || (c >= u'\t' && c <= u'\r');
}

char16_t AsciiUpper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

}  // namespace

int32_t WideTextToInt(const char16_t *psz, size_t units) {
  size_t i = 0;
  while (i < units && IsWideSpace(psz[i])) ++i;
  bool negative = false;
  if (i < units && (psz[i] == u'+' || psz[i] == u'-')) negative = psz[i++] == u'-';
  int64_t value = 0;
  while (i < units && psz[i] >= u'0' && psz[i] <= u'9') {
    // Saturates instead of overflowing; a port name has at most 6 digits anyway.
    if (value < INT64_C(0x100000000)) value = value * 10 + (psz[i] - u'0');
    ++i;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool AcceptPortName(int32_t queryResult, uint32_t dwType,
                    const char16_t pszPortName[kPortNameUnits],
                    char16_t pcCommPortTemp[kPortNameUnits]) {
  if (queryResult != 0 || dwType != kRegSz) return false;
  size_t length = 0;
  while (length < kPortNameUnits && pszPortName[length] != 0) ++length;
  if (length == kPortNameUnits) return false;  // all 20 bytes used, no terminator
  if (length < 3) return false;
  if (AsciiUpper(pszPortName[0]) != u'C' || AsciiUpper(pszPortName[1]) != u'O' ||
      AsciiUpper(pszPortName[2]) != u'M')
    return false;
  if (WideTextToInt(pszPortName + 3, length - 3) == 0) return false;
  CopyText(pcCommPortTemp, kPortNameUnits, pszPortName, length);
  return true;
}

size_t CopyText(char16_t *pszTo, size_t units, const char16_t *pszFrom, size_t fromUnits) {
  if (units == 0) return 0;
  size_t copied = 0;
  while (copied + 1 < units && copied < fromUnits && pszFrom[copied] != 0) {
    pszTo[copied] = pszFrom[copied];
    ++copied;
  }
  pszTo[copied] = 0;
  return copied;
}

void ResetPortPath(char16_t PortPath[kPortPathUnits]) {
  for (size_t i = 0; i < kPortPathUnits; ++i) PortPath[i] = 0;
  CopyText(PortPath, kPortPathUnits, kDevicePrefix, std::size(kDevicePrefix));
}

void ComposePortPath(const char16_t pcCommPortTemp[kPortNameUnits],
                     char16_t PortPath[kPortPathUnits]) {
  ResetPortPath(PortPath);
  const size_t prefix = std::size(kDevicePrefix) - 1;
  CopyText(PortPath + prefix, kPortPathUnits - prefix, pcCommPortTemp, kPortNameUnits - 1);
}

void ComposeConnectedText(const char16_t pcCommPortTemp[kPortNameUnits],
                          char16_t msgSTR[kStatusTextUnits]) {
  for (size_t i = 0; i < kStatusTextUnits; ++i) msgSTR[i] = 0;
  const size_t lead =
      CopyText(msgSTR, kStatusTextUnits, kTextConnectedAs, std::size(kTextConnectedAs));
  CopyText(msgSTR + lead, kStatusTextUnits - lead, pcCommPortTemp, kPortNameUnits - 1);
}
