// The acceptance of a "PortName" value and the texts built from it, on arbitrary query results,
// value types and the 20 bytes the query may leave in the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/port_match.h"

static size_t Length(const char16_t *psz, size_t units) {
  size_t length = 0;
  while (length < units && psz[length] != 0) ++length;
  if (length >= units) std::abort(); // not terminated
  return length;
}

static char16_t Upper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const int32_t queryResult = data[0] & 0x80 ? data[0] : 0;
  const uint32_t dwType = data[1] & 0x07;
  char16_t pszPortName[kPortNameUnits] = {};
  std::memcpy(pszPortName, data + 2, size - 2 < sizeof(pszPortName) ? size - 2 : sizeof(pszPortName));

  char16_t pcCommPortTemp[kPortNameUnits] = {u'o', u'l', u'd', 0};
  const bool accepted = AcceptPortName(queryResult, dwType, pszPortName, pcCommPortTemp);
  const size_t nameLength = Length(pcCommPortTemp, kPortNameUnits);
  if (accepted) {
    if (queryResult != 0 || dwType != kRegSz) std::abort();
    if (nameLength < 4 || Upper(pcCommPortTemp[0]) != u'C' || Upper(pcCommPortTemp[1]) != u'O' ||
        Upper(pcCommPortTemp[2]) != u'M')
      std::abort();
    if (WideTextToInt(pcCommPortTemp + 3, nameLength - 3) == 0) std::abort();
    if (std::memcmp(pcCommPortTemp, pszPortName, nameLength * sizeof(char16_t)) != 0) std::abort();
  } else if (nameLength != 3 || pcCommPortTemp[0] != u'o') {
    std::abort(); // a refused name must leave the earlier one alone
  }

  // The texts stay terminated and in bounds whatever the name buffer holds, terminated or not.
  char16_t PortPath[kPortPathUnits];
  char16_t msgSTR[kStatusTextUnits];
  ComposePortPath(pszPortName, PortPath);
  ComposeConnectedText(pszPortName, msgSTR);
  if (Length(PortPath, kPortPathUnits) > 4 + 9) std::abort();
  if (Length(msgSTR, kStatusTextUnits) > 23 + 9) std::abort();
  return 0;
}
