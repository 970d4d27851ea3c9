#pragma once
// What the instrument must hold whatever a fuzzer drives it with: codes the generator takes, a
// ramp symmetry of the family, an error queue within its size; and what it writes: a whole start
// (741 bytes) or a stop.
#include <cstdlib>

#include "instrument/instrument.h"

inline void CheckInstrument(const Instrument &instrument) {
  const GeneratorSettings &settings = instrument.settings;
  if (instrument.errorCount < 0 || instrument.errorCount > kInstrumentErrorQueueSize ||
      settings.frequencyCode < 7 || settings.offsetCode > 62 || settings.amplitudeCode < 255 ||
      settings.amplitudeCode > 32767 || settings.dutyPercent > 100 || settings.spwIndex < 0 ||
      settings.spwIndex > 4 || settings.jumperIndex < 0 || settings.jumperIndex > 3 ||
      settings.waveformIndex < 0 || settings.waveformIndex > 6 || instrument.userPoints < 0 ||
      instrument.userPoints > kInstrumentMaxPoints ||
      (instrument.rampSymmetry != 0 && instrument.rampSymmetry != 50 &&
       instrument.rampSymmetry != 100)) {
    std::abort();
  }
}

inline void CheckWrite(const WriteSequence &sequence) {
  if (sequence.count != 1 && (sequence.count != kStartWrites || sequence.totalBytes != 741)) {
    std::abort();
  }
}

// A generator that is always there and answers every start and stop.
inline bool OpenAlways(void *) {
  return true;
}

inline bool WriteChecked(void *, const WriteSequence &sequence) {
  CheckWrite(sequence);
  return true;
}

inline WaitOutcome ReportAlways(void *, uint8_t, int32_t) {
  return kWaitReport;
}
