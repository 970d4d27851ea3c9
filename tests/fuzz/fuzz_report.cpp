// The classification of one read's bytes: only a lone 0x55 or 0xAA is a report.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/wire_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // A read returns at most the 1000 bytes of the receive buffer.
  uint8_t aRxBuffer[kRxBufferBytes] = {};
  const uint32_t dwLen = static_cast<uint32_t>(size < sizeof(aRxBuffer) ? size : sizeof(aRxBuffer));
  std::memcpy(aRxBuffer, data, dwLen);
  const ReceivedReport report = ClassifyReport(aRxBuffer, dwLen);
  ReceivedReport expected = kReportNone;
  if (dwLen == 1 && aRxBuffer[0] == 0x55) expected = kReportRunning;
  if (dwLen == 1 && aRxBuffer[0] == 0xAA) expected = kReportStopped;
  if (report != expected) std::abort();
  return 0;
}
