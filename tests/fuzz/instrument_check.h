#pragma once
// A generator that is always there, answers every start and stop, and takes only a whole start
// (741 bytes) or a stop.
#include <cstdlib>

#include "instrument/instrument.h"

inline bool OpenAlways(void *) {
  return true;
}

inline bool WriteChecked(void *, const WriteSequence &sequence) {
  if (sequence.count != 1 && (sequence.count != kStartWrites || sequence.totalBytes != 741)) {
    std::abort();
  }
  return true;
}

inline WaitOutcome ReportAlways(void *, uint8_t, int32_t) {
  return kWaitReport;
}
