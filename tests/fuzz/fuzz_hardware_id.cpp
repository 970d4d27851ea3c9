// The narrowing of a device's hardware-id property and the search for the generator's id, on
// arbitrary property bytes (SetupAPI hands back whatever the device key holds).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "link/port_match.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  uint8_t szBuffer[kHardwareIdBytes] = {};
  std::memcpy(szBuffer, data, size < std::size(szBuffer) ? size : std::size(szBuffer));
  char16_t CurrentDeviceId[kDeviceIdUnits];
  std::memset(CurrentDeviceId, 0xA5, sizeof CurrentDeviceId);
  NarrowHardwareId(szBuffer, CurrentDeviceId);
  size_t length = 0;
  while (length < kDeviceIdUnits && CurrentDeviceId[length] != 0) ++length;
  if (length == kDeviceIdUnits) std::abort();  // not terminated
  const std::u16string narrowed(CurrentDeviceId, length);
  if (HardwareIdMatches(CurrentDeviceId) != (narrowed.find(u"VID_1209&PID_7A3C") != narrowed.npos))
    std::abort();

  // The search stays inside an array that holds no terminator at all (ASan watches).
  for (size_t i = 0; i < kDeviceIdUnits; ++i) CurrentDeviceId[i] |= 1;
  (void)HardwareIdMatches(CurrentDeviceId);
  return 0;
}
