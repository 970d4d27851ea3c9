#include "instrument/instrument.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "signal/nearest_code.h"
#include "signal/shape.h"
#include "signal/steppers.h"

namespace {

const double kDefaultHz = 1000.0;  // code 100 at 360 SPW, the panel's default

// The frequencies that may be asked for: every mode's while the frequency chooses it, else the
// mode's own.
void FrequencyRange(const Instrument &instrument, double *pLowest, double *pHighest) {
  int32_t lowMode = instrument.spwAuto ? 0 : instrument.settings.spwIndex;
  int32_t highMode = instrument.spwAuto ? kSpwModes - 1 : instrument.settings.spwIndex;
  *pLowest = FrequencyFromCode(kFrequencyCodeHighest, lowMode);
  *pHighest = FrequencyFromCode(kFrequencyCodeLowest, highMode);
}

void SetFrequency(Instrument *instrument, double hertz) {
  if (instrument->spwAuto) instrument->settings.spwIndex = ChooseSpwIndex(hertz);
  instrument->settings.frequencyCode = NearestFrequencyCode(hertz, instrument->settings.spwIndex);
  instrument->askedHz = hertz;
}

// A value in range to the nearest code of its field.
void SetFieldValue(Instrument *instrument, InstrumentField field, double value) {
  const int32_t jumper = instrument->settings.jumperIndex;
  switch (field) {
    case kFieldFrequency: SetFrequency(instrument, value); return;
    case kFieldOffset: instrument->settings.offsetCode = NearestOffsetCode(value, jumper); return;
    case kFieldAmplitude:
      instrument->settings.amplitudeCode = NearestAmplitudeCode(value, jumper);
      return;
    case kFields: return;
  }
}

int32_t RampMember(int32_t symmetry) {
  if (symmetry == 0) return kWaveReversedSaw;
  return symmetry == 50 ? kWaveTriangle : kWaveSaw;
}

bool IsRampMember(const Instrument &instrument) {
  int32_t wave = instrument.settings.waveformIndex;
  return !instrument.user &&
         (wave == kWaveTriangle || wave == kWaveSaw || wave == kWaveReversedSaw);
}

void ChooseFunction(Instrument *instrument, int32_t function) {
  instrument->user = function == kFunctionUser;
  if (instrument->user) return;
  if (function == kWaveTriangle) instrument->rampSymmetry = 50;
  if (function == kWaveReversedSaw) instrument->rampSymmetry = 0;
  if (function == kWaveSaw) function = RampMember(instrument->rampSymmetry);
  instrument->settings.waveformIndex = function;
}

// Whether the generator would get the same bytes from both states.
bool SameOutput(const Instrument &a, const Instrument &b) {
  const GeneratorSettings &x = a.settings;
  const GeneratorSettings &y = b.settings;
  if (x.frequencyCode != y.frequencyCode || x.offsetCode != y.offsetCode ||
      x.dutyPercent != y.dutyPercent || x.amplitudeCode != y.amplitudeCode ||
      x.spwIndex != y.spwIndex || x.jumperIndex != y.jumperIndex || a.user != b.user) {
    return false;
  }
  if (a.user) return memcmp(a.aUserTable, b.aUserTable, sizeof(a.aUserTable)) == 0;
  return x.waveformIndex == y.waveformIndex;
}

// A shape's table follows the amplitude: made again after every change of the settings.
void ScaleUserShape(Instrument *instrument) {
  if (!instrument->userShape) return;
  ScaleShape(instrument->aUserShape, instrument->settings.amplitudeCode, instrument->aUserTable);
}

// A start or a stop and the report that answers it.
int32_t SendAndWait(Instrument *instrument, const InstrumentGenerator &generator,
                    const WriteSequence &sequence, uint8_t reportByte) {
  if (!generator.ensureOpen(generator.context) || !generator.write(generator.context, sequence)) {
    instrument->outputOn = false;
    return kErrorHardwareMissing;
  }
  switch (generator.waitReport(generator.context, reportByte, kInstrumentReportWaitMs)) {
    case kWaitReport: instrument->outputOn = reportByte == kRunByte; return kErrorNone;
    case kWaitTimedOut: return kErrorHardware;
    case kWaitGone: instrument->outputOn = false; return kErrorHardwareMissing;
  }
  return kErrorHardware;
}

int32_t StartOutput(Instrument *instrument, const InstrumentGenerator &generator) {
  ScaleUserShape(instrument);
  uint16_t samples[kWaveTableSamples];
  if (instrument->user) {
    memcpy(samples, instrument->aUserTable, sizeof(samples));
  } else {
    SettingsTable(instrument->settings, samples);
  }
  return SendAndWait(instrument, generator, StartSequence(instrument->settings, samples), kRunByte);
}

int32_t StopOutput(Instrument *instrument, const InstrumentGenerator &generator) {
  return SendAndWait(instrument, generator, StopSequence(), kStopByte);
}

// While the output is on, a change is applied at once: a stop, then a start with it.
int32_t ApplyChange(Instrument *instrument, const InstrumentGenerator &generator,
                    const Instrument &before) {
  ScaleUserShape(instrument);
  if (!instrument->outputOn || SameOutput(before, *instrument)) return kErrorNone;
  int32_t error = StopOutput(instrument, generator);
  return error != kErrorNone ? error : StartOutput(instrument, generator);
}

void CopyIdentityPart(const char *szPart, char *szTo, size_t *pLength, size_t size) {
  for (; *szPart != '\0' && *pLength + 1 < size; szPart++) {
    char c = *szPart;
    // A serial number's comma or quote would break the answer's fields.
    bool plain = c > 0x20 && c < 0x7F && c != ',' && c != ';' && c != '"' && c != '\'';
    szTo[(*pLength)++] = plain ? c : '_';
  }
  szTo[*pLength] = '\0';
}

}  // namespace

void ResetInstrument(Instrument *instrument, int32_t jumperIndex, const char *szSerial,
                     const char *szVersion) {
  *instrument = Instrument{};
  instrument->settings.jumperIndex = jumperIndex;
  instrument->resetJumper = jumperIndex;
  instrument->spwAuto = true;
  instrument->rampSymmetry = 100;
  instrument->askedHz = kDefaultHz;
  instrument->eventStatus = kEventPowerOn;
  const size_t size = std::size(instrument->szIdentity);
  snprintf(instrument->szIdentity, size, "VARNOLT,DDS generator,");
  size_t length = strlen(instrument->szIdentity);
  CopyIdentityPart(szSerial[0] != '\0' ? szSerial : "0", instrument->szIdentity, &length, size);
  if (length + 1 < size) instrument->szIdentity[length++] = ',';
  instrument->szIdentity[length] = '\0';
  CopyIdentityPart(szVersion, instrument->szIdentity, &length, size);
}

void QueueInstrumentError(Instrument *instrument, int32_t code) {
  if (code <= -100 && code > -200) {
    instrument->eventStatus |= kEventCommandError;
  } else if (code <= -200 && code > -300) {
    instrument->eventStatus |= kEventExecutionError;
  } else if (code <= -300 && code > -400) {
    instrument->eventStatus |= kEventDeviceError;
  } else if (code <= -400 && code > -500) {
    instrument->eventStatus |= kEventQueryError;
  }
  if (instrument->errorCount < kInstrumentErrorQueueSize) {
    instrument->aErrors[instrument->errorCount++] = code;
  } else {
    instrument->aErrors[kInstrumentErrorQueueSize - 1] = kErrorQueueOverflow;
    instrument->eventStatus |= kEventDeviceError;
  }
}

int32_t TakeInstrumentError(Instrument *instrument) {
  if (instrument->errorCount <= 0) return kErrorNone;
  const int32_t code = instrument->aErrors[0];
  memmove(instrument->aErrors, instrument->aErrors + 1,
          sizeof(instrument->aErrors[0]) * static_cast<size_t>(instrument->errorCount - 1));
  instrument->errorCount--;
  return code;
}

void NoteGeneratorReport(Instrument *instrument, ReceivedReport report) {
  if (report == kReportRunning) instrument->outputOn = true;
  if (report == kReportStopped) instrument->outputOn = false;
}

void NoteGeneratorGone(Instrument *instrument) {
  instrument->outputOn = false;
  QueueInstrumentError(instrument, kErrorHardwareMissing);
}

void InstrumentFieldRange(const Instrument &instrument, InstrumentField field, double *pLowest,
                          double *pHighest) {
  const int32_t jumper = instrument.settings.jumperIndex;
  switch (field) {
    case kFieldFrequency: FrequencyRange(instrument, pLowest, pHighest); return;
    case kFieldOffset:
      *pLowest = OffsetFromCode(kOffsetCodeLowest, jumper);
      *pHighest = OffsetFromCode(kOffsetCodeHighest, jumper);
      return;
    case kFieldAmplitude:
    case kFields:
      *pLowest = AmplitudeFromCode(kAmplitudeCodeLowest, jumper);
      *pHighest = AmplitudeFromCode(kAmplitudeCodeHighest, jumper);
      return;
  }
}

double InstrumentFieldDefault(const Instrument &instrument, InstrumentField field) {
  switch (field) {
    case kFieldFrequency: return kDefaultHz;
    case kFieldOffset: return 0.0;
    case kFieldAmplitude:
    case kFields: break;
  }
  return AmplitudeFromCode(kAmplitudeCodeHighest, instrument.settings.jumperIndex);
}

int32_t CheckInstrumentFunction(const Instrument &instrument, int32_t function) {
  if (function < 0 || function >= kFunctions) return kErrorIllegalParameterValue;
  if (function == kFunctionUser && !instrument.userTableLoaded) return kErrorSettingsConflict;
  return kErrorNone;
}

int32_t SetInstrumentValue(Instrument *instrument, const InstrumentGenerator &generator,
                           InstrumentField field, double value) {
  double lowest = 0.0;
  double highest = 0.0;
  InstrumentFieldRange(*instrument, field, &lowest, &highest);
  if (CheckRange(value, lowest, highest) != kInRange) return kErrorDataOutOfRange;
  const Instrument before = *instrument;
  SetFieldValue(instrument, field, value);
  return ApplyChange(instrument, generator, before);
}

int32_t StepInstrumentField(Instrument *instrument, const InstrumentGenerator &generator,
                            InstrumentField field, bool up, bool coarse) {
  const Instrument before = *instrument;
  GeneratorSettings &settings = instrument->settings;
  const int32_t coarseFlag = coarse ? 1 : 0;
  switch (field) {
    case kFieldFrequency:
      settings.frequencyCode = up ? CodeAfterFrequencyUp(settings.frequencyCode, coarseFlag)
                                  : CodeAfterFrequencyDown(settings.frequencyCode, coarseFlag);
      // A later change of mode keeps the frequency the steps arrived at.
      instrument->askedHz = FrequencyFromCode(settings.frequencyCode, settings.spwIndex);
      break;
    case kFieldOffset:
      settings.offsetCode =
          up ? CodeAfterOffsetUp(settings.offsetCode) : CodeAfterOffsetDown(settings.offsetCode);
      break;
    case kFieldAmplitude:
      settings.amplitudeCode = up ? CodeAfterAmplitudeUp(settings.amplitudeCode, coarseFlag)
                                  : CodeAfterAmplitudeDown(settings.amplitudeCode, coarseFlag);
      break;
    case kFields: break;
  }
  return ApplyChange(instrument, generator, before);
}

int32_t ChooseInstrumentWave(Instrument *instrument, const InstrumentGenerator &generator,
                             int32_t wave) {
  int32_t error = CheckInstrumentFunction(*instrument, wave);
  if (error != kErrorNone) return error;
  const Instrument before = *instrument;
  // The list's entry itself, whatever ramp a function's "ramp" would mean now; the ramp's
  // symmetry follows.
  instrument->user = wave == kFunctionUser;
  if (!instrument->user) instrument->settings.waveformIndex = wave;
  if (wave == kWaveTriangle) instrument->rampSymmetry = 50;
  if (wave == kWaveSaw) instrument->rampSymmetry = 100;
  if (wave == kWaveReversedSaw) instrument->rampSymmetry = 0;
  return ApplyChange(instrument, generator, before);
}

int32_t ChooseInstrumentFunction(Instrument *instrument, const InstrumentGenerator &generator,
                                 int32_t function) {
  int32_t error = CheckInstrumentFunction(*instrument, function);
  if (error != kErrorNone) return error;
  const Instrument before = *instrument;
  ChooseFunction(instrument, function);
  return ApplyChange(instrument, generator, before);
}

int32_t SetInstrumentRampSymmetry(Instrument *instrument, const InstrumentGenerator &generator,
                                  int32_t symmetry) {
  if (symmetry != 0 && symmetry != 50 && symmetry != 100) return kErrorDataOutOfRange;
  const Instrument before = *instrument;
  if (IsRampMember(before)) instrument->settings.waveformIndex = RampMember(symmetry);
  instrument->rampSymmetry = symmetry;
  return ApplyChange(instrument, generator, before);
}

int32_t ChooseInstrumentSpw(Instrument *instrument, const InstrumentGenerator &generator,
                            int32_t mode) {
  if (mode < 0 || mode >= kSpwModes) return kErrorDataOutOfRange;
  if (CheckRange(instrument->askedHz, FrequencyFromCode(kFrequencyCodeHighest, mode),
                 FrequencyFromCode(kFrequencyCodeLowest, mode)) != kInRange) {
    return kErrorDataOutOfRange;
  }
  const Instrument before = *instrument;
  instrument->spwAuto = false;
  instrument->settings.spwIndex = mode;
  instrument->settings.frequencyCode = NearestFrequencyCode(instrument->askedHz, mode);
  return ApplyChange(instrument, generator, before);
}

int32_t ChooseInstrumentSpwAuto(Instrument *instrument, const InstrumentGenerator &generator) {
  const Instrument before = *instrument;
  instrument->spwAuto = true;
  SetFrequency(instrument, instrument->askedHz);
  return ApplyChange(instrument, generator, before);
}

int32_t SetInstrumentDuty(Instrument *instrument, const InstrumentGenerator &generator,
                          int32_t duty) {
  if (duty < 0 || duty > 100) return kErrorDataOutOfRange;
  const Instrument before = *instrument;
  instrument->settings.dutyPercent = static_cast<uint8_t>(duty);
  return ApplyChange(instrument, generator, before);
}

int32_t SetInstrumentJumper(Instrument *instrument, const InstrumentGenerator &generator,
                            int32_t jumper) {
  if (jumper < 0 || jumper >= kJumpers) return kErrorIllegalParameterValue;
  const Instrument before = *instrument;
  instrument->settings.jumperIndex = jumper;
  return ApplyChange(instrument, generator, before);
}

int32_t SetInstrumentOutput(Instrument *instrument, const InstrumentGenerator &generator, bool on) {
  if (on == instrument->outputOn) return kErrorNone;
  return on ? StartOutput(instrument, generator) : StopOutput(instrument, generator);
}

int32_t ToggleInstrumentOutput(Instrument *instrument, const InstrumentGenerator &generator) {
  return SetInstrumentOutput(instrument, generator, !instrument->outputOn);
}

int32_t ResetInstrumentSettings(Instrument *instrument, const InstrumentGenerator &generator) {
  instrument->settings = GeneratorSettings{};
  instrument->settings.jumperIndex = instrument->resetJumper;
  instrument->user = false;
  instrument->spwAuto = true;
  instrument->rampSymmetry = 100;
  instrument->askedHz = kDefaultHz;
  ScaleUserShape(instrument);
  return instrument->outputOn ? StopOutput(instrument, generator) : kErrorNone;
}

int32_t LoadInstrumentTable(Instrument *instrument, const InstrumentGenerator &generator,
                            const uint16_t aSamples[kWaveTableSamples]) {
  const Instrument before = *instrument;
  memcpy(instrument->aUserTable, aSamples, sizeof(instrument->aUserTable));
  instrument->userTableLoaded = true;
  instrument->userShape = false;
  instrument->userPoints = kWaveTableSamples;
  return ApplyChange(instrument, generator, before);
}

int32_t LoadInstrumentShape(Instrument *instrument, const InstrumentGenerator &generator,
                            const double aSamples[kWaveTableSamples]) {
  for (int32_t i = 0; i < kWaveTableSamples; i++) {
    // Written so that NaN is refused too: it would reach a conversion to an integer.
    if (!(aSamples[i] >= -1.0 && aSamples[i] <= 1.0)) return kErrorDataOutOfRange;
  }
  const Instrument before = *instrument;
  memcpy(instrument->aUserShape, aSamples, sizeof(instrument->aUserShape));
  instrument->userShape = true;
  instrument->userTableLoaded = true;
  instrument->userPoints = kWaveTableSamples;
  return ApplyChange(instrument, generator, before);
}

int32_t LoadInstrumentPoints(Instrument *instrument, const InstrumentGenerator &generator,
                             const double *pValues, int32_t count) {
  if (count < 1) return kErrorMissingParameter;
  if (count > kInstrumentMaxPoints) return kErrorTooMuchData;
  for (int32_t i = 0; i < count; i++) {
    if (!(pValues[i] >= -1.0 && pValues[i] <= 1.0)) return kErrorDataOutOfRange;
  }
  double aSamples[kWaveTableSamples];
  ResampleShape(pValues, count, aSamples);
  // A mean of values within -1..+1 may round a last bit beyond them.
  for (double &sample : aSamples) sample = std::fmin(std::fmax(sample, -1.0), 1.0);
  const int32_t error = LoadInstrumentShape(instrument, generator, aSamples);
  // Loaded also when the generator did not take the change (-240, -241): it plays it next start.
  if (error != kErrorDataOutOfRange) instrument->userPoints = count;
  return error;
}

int32_t ApplyInstrumentFunction(Instrument *instrument, const InstrumentGenerator &generator,
                                int32_t function, const InstrumentValues &values) {
  int32_t error = CheckInstrumentFunction(*instrument, function);
  if (error != kErrorNone) return error;
  Instrument next = *instrument;
  ChooseFunction(&next, function);
  // Each value in its field's range for the function, mode and jumper of next, in the order they
  // are given.
  for (InstrumentField field : {kFieldFrequency, kFieldAmplitude, kFieldOffset}) {
    if (!values.aGiven[field] || (function == kWaveZero && field != kFieldOffset)) continue;
    double lowest = 0.0;
    double highest = 0.0;
    InstrumentFieldRange(next, field, &lowest, &highest);
    if (CheckRange(values.aValues[field], lowest, highest) != kInRange) {
      return kErrorDataOutOfRange;
    }
    SetFieldValue(&next, field, values.aValues[field]);
  }
  const Instrument before = *instrument;
  *instrument = next;
  return before.outputOn ? ApplyChange(instrument, generator, before)
                         : StartOutput(instrument, generator);
}
