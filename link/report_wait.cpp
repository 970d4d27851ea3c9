#include "link/report_wait.h"

#include <iterator>

#include "link/wire_format.h"

WaitOutcome WaitForReport(ReadChunkFn readChunk, MonotonicMsFn monotonicMs, void *context,
                          uint8_t reportByte, int32_t timeoutMs) {
  const ReceivedReport wanted = reportByte == kRunByte ? kReportRunning : kReportStopped;
  const int64_t deadline = monotonicMs(context) + (timeoutMs > 0 ? timeoutMs : 0);
  uint8_t aRxBuffer[kRxBufferBytes];
  for (;;) {
    int64_t left = deadline - monotonicMs(context);
    if (left < 0) left = 0;
    ReadResult result = readChunk(context, aRxBuffer, static_cast<uint32_t>(std::size(aRxBuffer)),
                                  static_cast<int32_t>(left));
    if (result.outcome == kReadGone) return kWaitGone;
    if (result.outcome == kReadBytes && result.dwLen <= std::size(aRxBuffer) &&
        ClassifyReport(aRxBuffer, result.dwLen) == wanted) {
      return kWaitReport;
    }
    // A last read with no time left has been made: the bytes it gave were looked at.
    if (left == 0) return kWaitTimedOut;
  }
}
