// The acceptance of a "PortName" value and the texts built from it, on arbitrary query results,
// value types and the 20 bytes the query may leave in the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/port_match.h"

namespace {

size_t TerminatedLength(const char16_t *psz, size_t units) {
  size_t length = 0;
  while (length < units && psz[length] != 0) ++length;
  if (length == units) std::abort();
  return length;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const int32_t queryResult = data[0] & 0x80 ? data[0] : 0;
  const uint32_t dwType = data[1] & 0x07;
  char16_t pszPortName[kPortNameUnits] = {};
  std::memcpy(pszPortName, data + 2, size - 2 < sizeof pszPortName ? size - 2 : sizeof pszPortName);

  char16_t pcCommPortTemp[kPortNameUnits] = {u'o', u'l', u'd', 0};
  const bool accepted = AcceptPortName(queryResult, dwType, pszPortName, pcCommPortTemp);
  const size_t length = TerminatedLength(pcCommPortTemp, kPortNameUnits);
  const bool com = length > 3 && (pcCommPortTemp[0] | 0x20) == u'c' &&
                   (pcCommPortTemp[1] | 0x20) == u'o' && (pcCommPortTemp[2] | 0x20) == u'm';
  if (accepted && (queryResult != 0 || dwType != kRegSz || !com ||
                   std::memcmp(pcCommPortTemp, pszPortName, (length + 1) * 2) != 0))
    std::abort();
  if (!accepted && std::memcmp(pcCommPortTemp, u"old", 8) != 0) std::abort();

  // The texts stay terminated and in bounds whatever the name buffer holds.
  char16_t PortPath[kPortPathUnits];
  char16_t msgSTR[kStatusTextUnits];
  ComposePortPath(pszPortName, PortPath);
  ComposeConnectedText(pszPortName, msgSTR);
  if (TerminatedLength(PortPath, kPortPathUnits) > 4 + 9) std::abort();
  if (TerminatedLength(msgSTR, kStatusTextUnits) > 23 + 9) std::abort();
  return 0;
}
