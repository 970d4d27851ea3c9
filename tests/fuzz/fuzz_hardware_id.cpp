// The narrowing of a device's hardware-id property and the search for the generator's id, on
// arbitrary property bytes (SetupAPI hands back whatever the device key holds).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/port_match.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  uint8_t szBuffer[kHardwareIdBytes] = {};
  std::memcpy(szBuffer, data, size < sizeof(szBuffer) ? size : sizeof(szBuffer));
  char16_t CurrentDeviceId[kDeviceIdUnits];
  std::memset(CurrentDeviceId, 0xA5, sizeof(CurrentDeviceId));
  NarrowHardwareId(szBuffer, CurrentDeviceId);

  std::u16string expected;
  for (uint8_t b : szBuffer)
    if (b != 0 && expected.size() < kDeviceIdUnits - 1) expected.push_back(b);
  size_t length = 0;
  while (length < kDeviceIdUnits && CurrentDeviceId[length] != 0) ++length;
  if (length >= kDeviceIdUnits) std::abort(); // not terminated
  if (std::u16string(CurrentDeviceId, length) != expected) std::abort();

  const bool found = expected.find(u"VID_1209&PID_7A3C") != std::u16string::npos;
  if (HardwareIdMatches(CurrentDeviceId) != found) std::abort();

  // The search must also stay inside an array that holds no terminator at all.
  char16_t aRaw[kDeviceIdUnits];
  for (size_t i = 0; i < kDeviceIdUnits; ++i) aRaw[i] = static_cast<char16_t>(size ? data[i % size] | 1 : 1);
  (void)HardwareIdMatches(aRaw);
  return 0;
}
