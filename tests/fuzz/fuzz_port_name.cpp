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
  char16_t pszPortName[kPortNameUnits] = {};
  std::memcpy(pszPortName, data + 2, size - 2 < sizeof pszPortName ? size - 2 : sizeof pszPortName);
  // An accepted name is a REG_SZ value of a successful query, copied whole; a refused one leaves
  // the earlier name alone.
  char16_t pcCommPortTemp[kPortNameUnits] = {u'o', u'l', u'd', 0};
  const int32_t queryResult = data[0] & 0x80 ? data[0] : 0;
  const bool accepted = AcceptPortName(queryResult, data[1] & 0x07, pszPortName, pcCommPortTemp);
  const size_t length = TerminatedLength(pcCommPortTemp, kPortNameUnits);
  const size_t bytes = (accepted ? length + 1 : 4) * sizeof(char16_t);
  if (std::memcmp(pcCommPortTemp, accepted ? pszPortName : u"old", bytes) != 0) std::abort();
  if (accepted && (queryResult != 0 || (data[1] & 0x07) != kRegSz || length < 4)) std::abort();

  char16_t PortPath[kPortPathUnits];
  char16_t msgSTR[kStatusTextUnits];
  ComposePortPath(pszPortName, PortPath);
  ComposeConnectedText(pszPortName, msgSTR);
  if (TerminatedLength(PortPath, kPortPathUnits) > 4 + 9) std::abort();
  if (TerminatedLength(msgSTR, kStatusTextUnits) > 23 + 9) std::abort();
  return 0;
}
