#pragma once
// Waiting for the generator's report after a start or a stop. As on the panel, a report counts
// only when one read returns it alone: that one byte and nothing else.
#include <cstdint>

enum ReadOutcome : int32_t {
  kReadBytes = 0,    // dwLen bytes arrived
  kReadNothing = 1,  // the wait ended with nothing to read
  kReadGone = 2,     // the device went away (hang-up, error): never read it again
};

struct ReadResult {
  ReadOutcome outcome;
  uint32_t dwLen;
};

// One read of the platform: waits at most waitMs for data, then returns what one read gave.
using ReadChunkFn = ReadResult (*)(void *context, uint8_t *aRxBuffer, uint32_t capacity,
                                   int32_t waitMs);
// A monotonic clock in milliseconds.
using MonotonicMsFn = int64_t (*)(void *context);

enum WaitOutcome : int32_t { kWaitReport = 0, kWaitTimedOut = 1, kWaitGone = 2 };

// Reads until a read returns reportByte alone, the time-out has passed, or the device goes
// away. Other bytes, glued reports and the other report are read and passed over. Each read is
// given the time that is left, so the wait ends at the time-out however the bytes come.
WaitOutcome WaitForReport(ReadChunkFn readChunk, MonotonicMsFn monotonicMs, void *context,
                          uint8_t reportByte, int32_t timeoutMs);
