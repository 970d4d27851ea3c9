#include "scpi/scpi_commands.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "scpi/scpi_parser.h"
#include "signal/nearest_code.h"
#include "signal/steppers.h"

namespace {

// The waveform list's positions, and USER after them: the functions of FUNC and APPL.
enum Function : int32_t {
  kWaveSine = 0,
  kWaveSquare = 1,
  kWaveTriangle = 2,
  kWaveSaw = 3,
  kWaveReversedSaw = 4,
  kWaveRandom = 5,
  kWaveZero = 6,
  kFunctionUser = 7,
  kFunctions = 8,
};

const char *const kFunctionKeywords[kFunctions] = {"SINusoid", "SQUare", "TRIangle", "RAMP",
                                                   "NRAMp",    "NOISe",  "DC",       "USER"};
const char *const kFunctionNames[kFunctions] = {"SIN",  "SQU",  "TRI", "RAMP",
                                                "NRAM", "NOIS", "DC",  "USER"};
const char *const kJumperKeywords[kJumpers] = {"J1", "J2", "J3", "J4"};

const double kDefaultHz = 1000.0;  // code 100 at 360 SPW, the panel's default

enum : int32_t {
  kHeaderPathSize = 256,  // a path and a header of kScpiMaxMnemonics mnemonics each
  kAnswerSize = 200,      // the longest answer of one query (APPLy?'s)
  kStatusOpc = 0x01,      // *ESR's operation-complete bit
  kStatusPowerOn = 0x80,
};

struct ScpiCall {
  ScpiInstrument *instrument;
  const ScpiGeneratorActions *actions;
  const char *pLine;
  const ScpiUnit *unit;
  int32_t argument;  // the command's own value from the table (APPLy's function)
  std::string *pAnswer;
};

// Returns 0 or the one error the command gives.
using Handler = int32_t (*)(ScpiCall *call);

void Answer(ScpiCall *call, const char *szText) {
  if (!call->pAnswer->empty()) call->pAnswer->push_back(';');
  call->pAnswer->append(szText);
}

void AnswerWhole(ScpiCall *call, int32_t value) {
  char szText[16];
  snprintf(szText, std::size(szText), "%d", static_cast<int>(value));
  Answer(call, szText);
}

void AnswerReal(ScpiCall *call, double value) {
  char szText[kScpiNr3Size];
  FormatScpiNr3(value, szText, std::size(szText));
  Answer(call, szText);
}

const ScpiParam &Param(const ScpiCall *call, int32_t index) {
  return call->unit->aParams[index];
}

int32_t CheckParamCount(const ScpiCall *call, int32_t lowest, int32_t highest) {
  if (call->unit->paramCount < lowest) return kScpiMissingParameter;
  if (call->unit->paramCount > highest) return kScpiParameterNotAllowed;
  return kScpiNoError;
}

// A value in lowest..highest: a number in the kind's units, or MINimum, MAXimum, DEFault.
int32_t ReadValue(const ScpiCall *call, int32_t index, ScpiUnitKind kind, double lowest,
                  double highest, double defaultValue, double *pValue) {
  const ScpiParam &param = Param(call, index);
  if (param.type == kParamKeyword) {
    if (ScpiKeywordIs(call->pLine, param, "MINimum")) {
      *pValue = lowest;
    } else if (ScpiKeywordIs(call->pLine, param, "MAXimum")) {
      *pValue = highest;
    } else if (ScpiKeywordIs(call->pLine, param, "DEFault")) {
      *pValue = defaultValue;
    } else {
      return kScpiIllegalParameterValue;
    }
    return kScpiNoError;
  }
  if (param.type != kParamNumber) return kScpiDataTypeError;
  double value = 0.0;
  int32_t error = ScpiNumberValue(call->pLine, param, kind, &value);
  if (error != kScpiNoError) return error;
  if (CheckRange(value, lowest, highest) != kInRange) return kScpiDataOutOfRange;
  *pValue = value;
  return kScpiNoError;
}

// A whole number in lowest..highest: any number form rounded to the nearest, .5 up.
int32_t ReadWhole(const ScpiCall *call, int32_t index, int32_t lowest, int32_t highest,
                  int32_t defaultValue, int32_t *pValue) {
  double value = 0.0;
  // Read without a range first: 100.4 is 100 and in range.
  int32_t error = ReadValue(call, index, kUnitNone, -HUGE_VAL, HUGE_VAL, defaultValue, &value);
  if (error != kScpiNoError) return error;
  if (ScpiKeywordIs(call->pLine, Param(call, index), "MINimum")) value = lowest;
  if (ScpiKeywordIs(call->pLine, Param(call, index), "MAXimum")) value = highest;
  double rounded = std::floor(value + 0.5);
  if (!(rounded >= lowest && rounded <= highest)) return kScpiDataOutOfRange;
  *pValue = static_cast<int32_t>(rounded);
  return kScpiNoError;
}

// One keyword of a list: its position; a number, a string or a block is -104, another keyword
// -224.
template <size_t N>
int32_t ReadChoice(const ScpiCall *call, int32_t index, const char *const (&aKeywords)[N],
                   int32_t *pChoice) {
  const ScpiParam &param = Param(call, index);
  if (param.type != kParamKeyword) return kScpiDataTypeError;
  for (size_t i = 0; i < N; i++) {
    if (ScpiKeywordIs(call->pLine, param, aKeywords[i])) {
      *pChoice = static_cast<int32_t>(i);
      return kScpiNoError;
    }
  }
  return kScpiIllegalParameterValue;
}

// The frequencies FREQ may ask for: every mode's under AUTO, else the mode's own.
void FrequencyRange(const ScpiInstrument &instrument, double *pLowest, double *pHighest) {
  int32_t lowMode = instrument.spwAuto ? 0 : instrument.settings.spwIndex;
  int32_t highMode = instrument.spwAuto ? kSpwModes - 1 : instrument.settings.spwIndex;
  *pLowest = FrequencyFromCode(kFrequencyCodeHighest, lowMode);
  *pHighest = FrequencyFromCode(kFrequencyCodeLowest, highMode);
}

void SetFrequency(ScpiInstrument *instrument, double hertz) {
  if (instrument->spwAuto) instrument->settings.spwIndex = ChooseSpwIndex(hertz);
  instrument->settings.frequencyCode = NearestFrequencyCode(hertz, instrument->settings.spwIndex);
  instrument->askedHz = hertz;
}

// The values FREQ, VOLT:OFFS and VOLT may ask for, under the mode and the jumper in use.
void FieldRange(const ScpiInstrument &instrument, PanelField field, double *pLowest,
                double *pHighest) {
  const int32_t jumper = instrument.settings.jumperIndex;
  switch (field) {
    case kPanelFrequency: FrequencyRange(instrument, pLowest, pHighest); return;
    case kPanelOffset:
      *pLowest = OffsetFromCode(kOffsetCodeLowest, jumper);
      *pHighest = OffsetFromCode(kOffsetCodeHighest, jumper);
      return;
    case kPanelAmplitude:
      *pLowest = AmplitudeFromCode(kAmplitudeCodeLowest, jumper);
      *pHighest = AmplitudeFromCode(kAmplitudeCodeHighest, jumper);
      return;
  }
}

// A value in range to the nearest code of its field.
void SetFieldValue(ScpiInstrument *instrument, PanelField field, double value) {
  const int32_t jumper = instrument->settings.jumperIndex;
  switch (field) {
    case kPanelFrequency: SetFrequency(instrument, value); return;
    case kPanelOffset: instrument->settings.offsetCode = NearestOffsetCode(value, jumper); return;
    case kPanelAmplitude:
      instrument->settings.amplitudeCode = NearestAmplitudeCode(value, jumper);
      return;
  }
}

int32_t RampMember(int32_t symmetry) {
  if (symmetry == 0) return kWaveReversedSaw;
  return symmetry == 50 ? kWaveTriangle : kWaveSaw;
}

bool IsRampMember(const ScpiInstrument &instrument) {
  int32_t wave = instrument.settings.waveformIndex;
  return !instrument.user &&
         (wave == kWaveTriangle || wave == kWaveSaw || wave == kWaveReversedSaw);
}

void ChooseFunction(ScpiInstrument *instrument, int32_t function) {
  instrument->user = function == kFunctionUser;
  if (instrument->user) return;
  if (function == kWaveTriangle) instrument->rampSymmetry = 50;
  if (function == kWaveReversedSaw) instrument->rampSymmetry = 0;
  if (function == kWaveSaw) function = RampMember(instrument->rampSymmetry);
  instrument->settings.waveformIndex = function;
}

// Whether the generator would get the same bytes from both states.
bool SameOutput(const ScpiInstrument &a, const ScpiInstrument &b) {
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

// A start or a stop and the report that answers it.
int32_t SendAndWait(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                    const WriteSequence &sequence, uint8_t reportByte) {
  if (!actions.ensureOpen(actions.context) || !actions.write(actions.context, sequence)) {
    instrument->outputOn = false;
    return kScpiHardwareMissing;
  }
  switch (actions.waitReport(actions.context, reportByte, kScpiReportWaitMs)) {
    case kWaitReport: instrument->outputOn = reportByte == kRunByte; return kScpiNoError;
    case kWaitTimedOut: return kScpiHardwareError;
    case kWaitGone: instrument->outputOn = false; return kScpiHardwareMissing;
  }
  return kScpiHardwareError;
}

int32_t StartOutput(ScpiInstrument *instrument, const ScpiGeneratorActions &actions) {
  uint16_t samples[kWaveTableSamples];
  if (instrument->user) {
    memcpy(samples, instrument->aUserTable, sizeof(samples));
  } else {
    SettingsTable(instrument->settings, samples);
  }
  return SendAndWait(instrument, actions, StartSequence(instrument->settings, samples), kRunByte);
}

int32_t StopOutput(ScpiInstrument *instrument, const ScpiGeneratorActions &actions) {
  return SendAndWait(instrument, actions, StopSequence(), kStopByte);
}

// While the output is on, a change is applied at once: a stop, then a start with it.
int32_t ApplyChange(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                    const ScpiInstrument &before) {
  if (!instrument->outputOn || SameOutput(before, *instrument)) return kScpiNoError;
  int32_t error = StopOutput(instrument, actions);
  return error != kScpiNoError ? error : StartOutput(instrument, actions);
}

int32_t StartOutput(ScpiCall *call) {
  return StartOutput(call->instrument, *call->actions);
}

int32_t StopOutput(ScpiCall *call) {
  return StopOutput(call->instrument, *call->actions);
}

int32_t ApplyChange(ScpiCall *call, const ScpiInstrument &before) {
  return ApplyChange(call->instrument, *call->actions, before);
}

// FREQ:SPW <n>: the mode is fixed, and the frequency last asked for, which must lie within the
// mode's range, goes to its nearest code there.
int32_t FixSpwMode(ScpiInstrument *instrument, const ScpiGeneratorActions &actions, int32_t mode) {
  if (mode < 0 || mode >= kSpwModes) return kScpiDataOutOfRange;
  if (CheckRange(instrument->askedHz, FrequencyFromCode(kFrequencyCodeHighest, mode),
                 FrequencyFromCode(kFrequencyCodeLowest, mode)) != kInRange) {
    return kScpiDataOutOfRange;
  }
  const ScpiInstrument before = *instrument;
  instrument->spwAuto = false;
  instrument->settings.spwIndex = mode;
  instrument->settings.frequencyCode = NearestFrequencyCode(instrument->askedHz, mode);
  return ApplyChange(instrument, actions, before);
}

// FREQ, VOLT:OFFS, VOLT: the value of the command's one parameter to its field.
int32_t SetFieldCommand(ScpiCall *call, PanelField field, ScpiUnitKind kind, double defaultValue) {
  double lowest = 0.0;
  double highest = 0.0;
  double value = 0.0;
  FieldRange(*call->instrument, field, &lowest, &highest);
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kScpiNoError) {
    error = ReadValue(call, 0, kind, lowest, highest,
                      field == kPanelAmplitude ? highest : defaultValue, &value);
  }
  if (error != kScpiNoError) return error;
  const ScpiInstrument before = *call->instrument;
  SetFieldValue(call->instrument, field, value);
  return ApplyChange(call, before);
}

// ---- IEEE 488.2 common commands ----

int32_t QueryIdentity(ScpiCall *call) {
  Answer(call, call->instrument->szIdentity);
  return kScpiNoError;
}

int32_t Reset(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 0, 0);
  if (error != kScpiNoError) return error;
  ScpiInstrument *instrument = call->instrument;
  instrument->settings = GeneratorSettings{};
  instrument->settings.jumperIndex = instrument->resetJumper;
  instrument->user = false;
  instrument->spwAuto = true;
  instrument->rampSymmetry = 100;
  instrument->askedHz = kDefaultHz;
  return instrument->outputOn ? StopOutput(call) : kScpiNoError;
}

int32_t ClearStatus(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 0, 0);
  if (error != kScpiNoError) return error;
  call->instrument->errorCount = 0;
  call->instrument->eventStatus = 0;
  return kScpiNoError;
}

int32_t SetEventEnable(ScpiCall *call) {
  int32_t value = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kScpiNoError) error = ReadWhole(call, 0, 0, 255, 0, &value);
  if (error == kScpiNoError) call->instrument->eventEnable = static_cast<uint8_t>(value);
  return error;
}

int32_t QueryEventEnable(ScpiCall *call) {
  AnswerWhole(call, call->instrument->eventEnable);
  return kScpiNoError;
}

int32_t QueryEventStatus(ScpiCall *call) {
  AnswerWhole(call, call->instrument->eventStatus);
  call->instrument->eventStatus = 0;
  return kScpiNoError;
}

int32_t SetServiceEnable(ScpiCall *call) {
  int32_t value = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kScpiNoError) error = ReadWhole(call, 0, 0, 255, 0, &value);
  // Bit 6 is the summary itself: it cannot be enabled.
  if (error == kScpiNoError) call->instrument->serviceEnable = static_cast<uint8_t>(value & ~0x40);
  return error;
}

int32_t QueryServiceEnable(ScpiCall *call) {
  AnswerWhole(call, call->instrument->serviceEnable);
  return kScpiNoError;
}

// Bit 2: an error is queued; bit 5: an enabled event; bit 6: an enabled summary.
int32_t QueryStatusByte(ScpiCall *call) {
  const ScpiInstrument &instrument = *call->instrument;
  int32_t status = instrument.errorCount > 0 ? 0x04 : 0;
  if ((instrument.eventStatus & instrument.eventEnable) != 0) status |= 0x20;
  if ((status & instrument.serviceEnable) != 0) status |= 0x40;
  AnswerWhole(call, status);
  return kScpiNoError;
}

// Every command has finished its writes and waits before the next one runs.
int32_t OperationComplete(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 0, 0);
  if (error == kScpiNoError) call->instrument->eventStatus |= kStatusOpc;
  return error;
}

int32_t QueryOperationComplete(ScpiCall *call) {
  Answer(call, "1");
  return kScpiNoError;
}

int32_t Wait(ScpiCall *call) {
  return CheckParamCount(call, 0, 0);
}

int32_t QuerySelfTest(ScpiCall *call) {
  Answer(call, "0");
  return kScpiNoError;
}

// ---- SYSTem ----

int32_t QueryNextError(ScpiCall *call) {
  ScpiInstrument *instrument = call->instrument;
  int32_t code = 0;
  if (instrument->errorCount > 0) {
    code = instrument->aErrors[0];
    memmove(instrument->aErrors, instrument->aErrors + 1,
            sizeof(instrument->aErrors[0]) * static_cast<size_t>(instrument->errorCount - 1));
    instrument->errorCount--;
  }
  char szText[kAnswerSize];
  snprintf(szText, std::size(szText), "%d,\"%s\"", static_cast<int>(code),
           code == 0 ? "No error" : ScpiErrorText(code));
  Answer(call, szText);
  return kScpiNoError;
}

int32_t QueryVersion(ScpiCall *call) {
  Answer(call, "1999.0");
  return kScpiNoError;
}

// ---- SOURce ----

int32_t SetFunctionShape(ScpiCall *call) {
  int32_t function = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kScpiNoError) error = ReadChoice(call, 0, kFunctionKeywords, &function);
  if (error != kScpiNoError) return error;
  if (function == kFunctionUser && !call->instrument->userTableLoaded) {
    return kScpiSettingsConflict;
  }
  const ScpiInstrument before = *call->instrument;
  ChooseFunction(call->instrument, function);
  return ApplyChange(call, before);
}

int32_t QueryFunctionShape(ScpiCall *call) {
  const ScpiInstrument &instrument = *call->instrument;
  Answer(call, kFunctionNames[instrument.user ? kFunctionUser : instrument.settings.waveformIndex]);
  return kScpiNoError;
}

int32_t SetRampSymmetry(ScpiCall *call) {
  int32_t symmetry = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kScpiNoError) error = ReadWhole(call, 0, 0, 100, 100, &symmetry);
  if (error != kScpiNoError) return error;
  if (symmetry != 0 && symmetry != 50 && symmetry != 100) return kScpiDataOutOfRange;
  const ScpiInstrument before = *call->instrument;
  if (IsRampMember(before)) call->instrument->settings.waveformIndex = RampMember(symmetry);
  call->instrument->rampSymmetry = symmetry;
  return ApplyChange(call, before);
}

int32_t QueryRampSymmetry(ScpiCall *call) {
  AnswerWhole(call, call->instrument->rampSymmetry);
  return kScpiNoError;
}

int32_t SetDutyCycle(ScpiCall *call) {
  int32_t duty = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kScpiNoError) error = ReadWhole(call, 0, 0, 100, 50, &duty);
  if (error != kScpiNoError) return error;
  const ScpiInstrument before = *call->instrument;
  call->instrument->settings.dutyPercent = static_cast<uint8_t>(duty);
  return ApplyChange(call, before);
}

int32_t QueryDutyCycle(ScpiCall *call) {
  AnswerWhole(call, call->instrument->settings.dutyPercent);
  return kScpiNoError;
}

int32_t SetFrequencyValue(ScpiCall *call) {
  return SetFieldCommand(call, kPanelFrequency, kUnitHertz, kDefaultHz);
}

int32_t QueryFrequencyValue(ScpiCall *call) {
  const GeneratorSettings &settings = call->instrument->settings;
  AnswerReal(call, FrequencyFromCode(settings.frequencyCode, settings.spwIndex));
  return kScpiNoError;
}

// 360, 180, 90, 45 or 24, or AUTO (DEFault: AUTO, as at the start).
int32_t SetSamplesPerWave(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 1, 1);
  if (error != kScpiNoError) return error;
  ScpiInstrument *instrument = call->instrument;
  const ScpiParam &param = Param(call, 0);
  const ScpiInstrument before = *instrument;
  if (ScpiKeywordIs(call->pLine, param, "AUTO") || ScpiKeywordIs(call->pLine, param, "DEFault")) {
    instrument->spwAuto = true;
    SetFrequency(instrument, instrument->askedHz);
    return ApplyChange(call, before);
  }
  if (param.type == kParamKeyword) return kScpiIllegalParameterValue;
  int32_t samples = 0;
  error = ReadWhole(call, 0, 0, kSamplesPerWave[0], 0, &samples);
  if (error != kScpiNoError) return error;
  int32_t mode = 0;
  while (mode < kSpwModes && kSamplesPerWave[mode] != samples) mode++;
  return FixSpwMode(instrument, *call->actions, mode);
}

int32_t QuerySamplesPerWave(ScpiCall *call) {
  AnswerWhole(call, kSamplesPerWave[call->instrument->settings.spwIndex]);
  return kScpiNoError;
}

int32_t SetAmplitude(ScpiCall *call) {
  return SetFieldCommand(call, kPanelAmplitude, kUnitVpp, 0.0);
}

int32_t QueryAmplitude(ScpiCall *call) {
  const GeneratorSettings &settings = call->instrument->settings;
  AnswerReal(call, AmplitudeFromCode(settings.amplitudeCode, settings.jumperIndex));
  return kScpiNoError;
}

// Peak-to-peak volts are the only unit the generator is set in.
int32_t SetVoltageUnit(ScpiCall *call) {
  static const char *const kUnits[] = {"VPP", "VRMS", "DBM"};
  int32_t unit = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kScpiNoError) error = ReadChoice(call, 0, kUnits, &unit);
  if (error == kScpiNoError && unit != 0) error = kScpiSettingsConflict;
  return error;
}

int32_t QueryVoltageUnit(ScpiCall *call) {
  Answer(call, "VPP");
  return kScpiNoError;
}

int32_t SetOffset(ScpiCall *call) {
  return SetFieldCommand(call, kPanelOffset, kUnitVolts, 0.0);
}

int32_t QueryOffset(ScpiCall *call) {
  const GeneratorSettings &settings = call->instrument->settings;
  AnswerReal(call, OffsetFromCode(settings.offsetCode, settings.jumperIndex));
  return kScpiNoError;
}

// As on the panel, the codes stay: the volts they give change with the jumper.
int32_t SetJumper(ScpiCall *call) {
  int32_t jumper = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kScpiNoError) error = ReadChoice(call, 0, kJumperKeywords, &jumper);
  if (error != kScpiNoError) return error;
  const ScpiInstrument before = *call->instrument;
  call->instrument->settings.jumperIndex = jumper;
  return ApplyChange(call, before);
}

int32_t QueryJumper(ScpiCall *call) {
  Answer(call, kJumperKeywords[call->instrument->settings.jumperIndex]);
  return kScpiNoError;
}

// ---- OUTPut, APPLy, DATA ----

int32_t SetOutput(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 1, 1);
  if (error != kScpiNoError) return error;
  const ScpiParam &param = Param(call, 0);
  int32_t on = 0;
  if (param.type == kParamKeyword) {
    static const char *const kStates[] = {"OFF", "ON"};
    error = ReadChoice(call, 0, kStates, &on);
  } else {
    // A number stands for the state only as 0 or 1.
    error = ReadWhole(call, 0, 0, 1, 0, &on);
    if (error == kScpiDataOutOfRange) error = kScpiIllegalParameterValue;
  }
  if (error != kScpiNoError) return error;
  if ((on != 0) == call->instrument->outputOn) return kScpiNoError;
  return on != 0 ? StartOutput(call) : StopOutput(call);
}

int32_t QueryOutput(ScpiCall *call) {
  Answer(call, call->instrument->outputOn ? "1" : "0");
  return kScpiNoError;
}

// APPLy:<function> [<hertz>[,<vpp>[,<offset>]]]: all checked before anything changes; an omitted
// value or DEFault keeps the present one; for DC the first two only hold places.
int32_t Apply(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 0, 3);
  if (error != kScpiNoError) return error;
  const int32_t function = call->argument;
  if (function == kFunctionUser && !call->instrument->userTableLoaded) {
    return kScpiSettingsConflict;
  }
  ScpiInstrument next = *call->instrument;
  ChooseFunction(&next, function);
  const int32_t count = call->unit->paramCount;
  auto given = [&](int32_t index) {
    return index < count && !ScpiKeywordIs(call->pLine, Param(call, index), "DEFault");
  };
  // Each given value, in its field's range for the function, mode and jumper of next.
  const PanelField fields[] = {kPanelFrequency, kPanelAmplitude, kPanelOffset};
  const ScpiUnitKind kinds[] = {kUnitHertz, kUnitVpp, kUnitVolts};
  for (int32_t i = 0; i < 3; i++) {
    if (!given(i) || (function == kWaveZero && fields[i] != kPanelOffset)) continue;
    double lowest = 0.0;
    double highest = 0.0;
    double value = 0.0;
    FieldRange(next, fields[i], &lowest, &highest);
    double defaultValue = fields[i] == kPanelFrequency   ? kDefaultHz
                          : fields[i] == kPanelAmplitude ? highest
                                                         : 0.0;
    error = ReadValue(call, i, kinds[i], lowest, highest, defaultValue, &value);
    if (error != kScpiNoError) return error;
    SetFieldValue(&next, fields[i], value);
  }
  const ScpiInstrument before = *call->instrument;
  *call->instrument = next;
  return before.outputOn ? ApplyChange(call, before) : StartOutput(call);
}

int32_t QueryApply(ScpiCall *call) {
  const ScpiInstrument &instrument = *call->instrument;
  const GeneratorSettings &settings = instrument.settings;
  char szFrequency[kScpiNr3Size];
  char szAmplitude[kScpiNr3Size];
  char szOffset[kScpiNr3Size];
  FormatScpiNr3(FrequencyFromCode(settings.frequencyCode, settings.spwIndex), szFrequency,
                std::size(szFrequency));
  FormatScpiNr3(AmplitudeFromCode(settings.amplitudeCode, settings.jumperIndex), szAmplitude,
                std::size(szAmplitude));
  FormatScpiNr3(OffsetFromCode(settings.offsetCode, settings.jumperIndex), szOffset,
                std::size(szOffset));
  char szText[kAnswerSize];
  snprintf(szText, std::size(szText), "\"%s %s,%s,%s\"",
           kFunctionNames[instrument.user ? kFunctionUser : settings.waveformIndex], szFrequency,
           szAmplitude, szOffset);
  Answer(call, szText);
  return kScpiNoError;
}

// DATA:DAC VOLATILE, then 360 whole numbers or one block of 720 bytes (high byte first).
int32_t SetDacData(ScpiCall *call) {
  static const char *const kMemories[] = {"VOLatile"};
  int32_t memory = 0;
  int32_t error = CheckParamCount(call, 2, INT32_MAX);
  if (error == kScpiNoError) error = ReadChoice(call, 0, kMemories, &memory);
  if (error != kScpiNoError) return error;
  uint16_t samples[kWaveTableSamples];
  const int32_t values = call->unit->paramCount - 1;
  const ScpiParam &first = Param(call, 1);
  if (first.type == kParamBlock) {
    if (values > 1) return kScpiParameterNotAllowed;
    if (first.dwLength < sizeof(samples)) return kScpiMissingParameter;
    if (first.dwLength > sizeof(samples)) return kScpiTooMuchData;
    const uint8_t *pBytes = reinterpret_cast<const uint8_t *>(call->pLine + first.dwOffset);
    for (int32_t i = 0; i < kWaveTableSamples; i++) {
      samples[i] = static_cast<uint16_t>(pBytes[2 * i] << 8 | pBytes[2 * i + 1]);
    }
  } else {
    if (values < kWaveTableSamples) return kScpiMissingParameter;
    if (values > kWaveTableSamples) return kScpiTooMuchData;
    for (int32_t i = 0; i < kWaveTableSamples; i++) {
      const ScpiParam &param = Param(call, i + 1);
      if (param.type != kParamNumber) return kScpiDataTypeError;
      double value = 0.0;
      error = ScpiNumberValue(call->pLine, param, kUnitNone, &value);
      if (error != kScpiNoError) return error;
      if (!(value >= 0.0 && value <= 65535.0) || value != std::floor(value)) {
        return kScpiDataOutOfRange;
      }
      samples[i] = static_cast<uint16_t>(value);
    }
  }
  const ScpiInstrument before = *call->instrument;
  memcpy(call->instrument->aUserTable, samples, sizeof(samples));
  call->instrument->userTableLoaded = true;
  return ApplyChange(call, before);
}

struct Command {
  const char *szPattern;
  Handler set;
  Handler query;
  int32_t argument;
};

const Command kCommands[] = {
    {"*IDN", nullptr, QueryIdentity, 0},
    {"*RST", Reset, nullptr, 0},
    {"*CLS", ClearStatus, nullptr, 0},
    {"*ESE", SetEventEnable, QueryEventEnable, 0},
    {"*ESR", nullptr, QueryEventStatus, 0},
    {"*SRE", SetServiceEnable, QueryServiceEnable, 0},
    {"*STB", nullptr, QueryStatusByte, 0},
    {"*OPC", OperationComplete, QueryOperationComplete, 0},
    {"*WAI", Wait, nullptr, 0},
    {"*TST", nullptr, QuerySelfTest, 0},
    {"SYSTem:ERRor[:NEXT]", nullptr, QueryNextError, 0},
    {"SYSTem:VERSion", nullptr, QueryVersion, 0},
    {"[SOURce:]FUNCtion[:SHAPe]", SetFunctionShape, QueryFunctionShape, 0},
    {"[SOURce:]FUNCtion:RAMP:SYMMetry", SetRampSymmetry, QueryRampSymmetry, 0},
    {"[SOURce:]FUNCtion:SQUare:DCYCle", SetDutyCycle, QueryDutyCycle, 0},
    {"[SOURce:]FREQuency", SetFrequencyValue, QueryFrequencyValue, 0},
    {"[SOURce:]FREQuency:SPW", SetSamplesPerWave, QuerySamplesPerWave, 0},
    {"[SOURce:]VOLTage[:AMPLitude]", SetAmplitude, QueryAmplitude, 0},
    {"[SOURce:]VOLTage:UNIT", SetVoltageUnit, QueryVoltageUnit, 0},
    {"[SOURce:]VOLTage:OFFSet", SetOffset, QueryOffset, 0},
    {"[SOURce:]VOLTage:JUMPer", SetJumper, QueryJumper, 0},
    {"OUTPut[:STATe]", SetOutput, QueryOutput, 0},
    {"APPLy", nullptr, QueryApply, 0},
    {"APPLy:SINusoid", Apply, nullptr, kWaveSine},
    {"APPLy:SQUare", Apply, nullptr, kWaveSquare},
    {"APPLy:TRIangle", Apply, nullptr, kWaveTriangle},
    {"APPLy:RAMP", Apply, nullptr, kWaveSaw},
    {"APPLy:NRAMp", Apply, nullptr, kWaveReversedSaw},
    {"APPLy:NOISe", Apply, nullptr, kWaveRandom},
    {"APPLy:DC", Apply, nullptr, kWaveZero},
    {"APPLy:USER", Apply, nullptr, kFunctionUser},
    {"DATA:DAC", SetDacData, nullptr, 0},
};

const Command *FindCommand(const char *pHeader, size_t dwLength) {
  for (const Command &command : kCommands) {
    if (ScpiHeaderMatches(command.szPattern, pHeader, dwLength)) return &command;
  }
  return nullptr;
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

void ResetScpiInstrument(ScpiInstrument *instrument, int32_t jumperIndex, const char *szSerial,
                         const char *szVersion) {
  *instrument = ScpiInstrument{};
  instrument->settings.jumperIndex = jumperIndex;
  instrument->resetJumper = jumperIndex;
  instrument->spwAuto = true;
  instrument->rampSymmetry = 100;
  instrument->askedHz = kDefaultHz;
  instrument->eventStatus = kStatusPowerOn;
  const size_t size = std::size(instrument->szIdentity);
  snprintf(instrument->szIdentity, size, "VARNOLT,DDS generator,");
  size_t length = strlen(instrument->szIdentity);
  CopyIdentityPart(szSerial[0] != '\0' ? szSerial : "0", instrument->szIdentity, &length, size);
  if (length + 1 < size) instrument->szIdentity[length++] = ',';
  instrument->szIdentity[length] = '\0';
  CopyIdentityPart(szVersion, instrument->szIdentity, &length, size);
}

void RunScpiLine(ScpiInstrument *instrument, const ScpiGeneratorActions &actions, const char *pLine,
                 size_t dwLength, std::string *pAnswer) {
  ScpiUnit unit;
  char szPath[kHeaderPathSize];
  size_t dwPath = 0;  // the previous header's mnemonics but its last, each with its ':'
  size_t position = 0;
  while (position < dwLength) {
    int32_t error = ParseScpiUnit(pLine, dwLength, &position, &unit);
    if (error != kScpiNoError) {
      QueueScpiError(instrument, error);
      return;
    }
    if (unit.dwHeaderLength == 0) continue;
    const char *pHeader = pLine + unit.dwHeaderOffset;
    size_t dwHeader = unit.dwHeaderLength;
    // After ';' a header without ':' or '*' in front is looked up below the previous path first.
    char szFull[kHeaderPathSize];
    const Command *command = nullptr;
    if (!unit.common && !unit.absolute && dwPath > 0 && dwPath + dwHeader < kHeaderPathSize) {
      memcpy(szFull, szPath, dwPath);
      memcpy(szFull + dwPath, pHeader, dwHeader);
      command = FindCommand(szFull, dwPath + dwHeader);
      if (command != nullptr) {
        pHeader = szFull;
        dwHeader += dwPath;
      }
    }
    if (command == nullptr) command = FindCommand(pHeader, dwHeader);
    Handler handler = command == nullptr ? nullptr : unit.query ? command->query : command->set;
    if (handler == nullptr) {
      QueueScpiError(instrument, kScpiUndefinedHeader);
      return;
    }
    if (!unit.common) {
      dwPath = 0;
      for (size_t i = dwHeader; i > 0; i--) {
        if (pHeader[i - 1] == ':') {
          dwPath = i;
          break;
        }
      }
      if (dwPath < kHeaderPathSize) memmove(szPath, pHeader, dwPath);
    }
    ScpiCall call = {instrument, &actions, pLine, &unit, command->argument, pAnswer};
    error = unit.query && unit.paramCount > 0 ? kScpiParameterNotAllowed : handler(&call);
    if (error != kScpiNoError) {
      QueueScpiError(instrument, error);
      if (error <= -100 && error > -200) return;
    }
  }
}

void QueueScpiError(ScpiInstrument *instrument, int32_t code) {
  if (code <= -100 && code > -200) {
    instrument->eventStatus |= 0x20;  // command error
  } else if (code <= -200 && code > -300) {
    instrument->eventStatus |= 0x10;  // execution error
  } else if (code <= -300 && code > -400) {
    instrument->eventStatus |= 0x08;  // device-dependent error
  } else if (code <= -400 && code > -500) {
    instrument->eventStatus |= 0x04;  // query error
  }
  if (instrument->errorCount < kScpiErrorQueueSize) {
    instrument->aErrors[instrument->errorCount++] = code;
  } else {
    instrument->aErrors[kScpiErrorQueueSize - 1] = kScpiQueueOverflow;
    instrument->eventStatus |= 0x08;
  }
}

void NoteGeneratorReport(ScpiInstrument *instrument, ReceivedReport report) {
  if (report == kReportRunning) instrument->outputOn = true;
  if (report == kReportStopped) instrument->outputOn = false;
}

void NoteGeneratorGone(ScpiInstrument *instrument) {
  instrument->outputOn = false;
  QueueScpiError(instrument, kScpiHardwareMissing);
}

int32_t StepPanelField(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                       PanelField field, bool up, bool coarse) {
  const ScpiInstrument before = *instrument;
  GeneratorSettings &settings = instrument->settings;
  const int32_t coarseFlag = coarse ? 1 : 0;
  switch (field) {
    case kPanelFrequency:
      settings.frequencyCode = up ? CodeAfterFrequencyUp(settings.frequencyCode, coarseFlag)
                                  : CodeAfterFrequencyDown(settings.frequencyCode, coarseFlag);
      // A later change of mode keeps the frequency the steps arrived at.
      instrument->askedHz = FrequencyFromCode(settings.frequencyCode, settings.spwIndex);
      break;
    case kPanelOffset:
      settings.offsetCode =
          up ? CodeAfterOffsetUp(settings.offsetCode) : CodeAfterOffsetDown(settings.offsetCode);
      break;
    case kPanelAmplitude:
      settings.amplitudeCode = up ? CodeAfterAmplitudeUp(settings.amplitudeCode, coarseFlag)
                                  : CodeAfterAmplitudeDown(settings.amplitudeCode, coarseFlag);
      break;
  }
  return ApplyChange(instrument, actions, before);
}

int32_t SetPanelValue(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                      PanelField field, double value) {
  double lowest = 0.0;
  double highest = 0.0;
  FieldRange(*instrument, field, &lowest, &highest);
  if (CheckRange(value, lowest, highest) != kInRange) return kScpiDataOutOfRange;
  const ScpiInstrument before = *instrument;
  SetFieldValue(instrument, field, value);
  return ApplyChange(instrument, actions, before);
}

int32_t ChoosePanelWave(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                        int32_t wave) {
  if (wave < 0 || wave >= kFunctions) return kScpiIllegalParameterValue;
  if (wave == kFunctionUser && !instrument->userTableLoaded) return kScpiSettingsConflict;
  const ScpiInstrument before = *instrument;
  // The list's entry itself, whatever ramp FUNC RAMP would mean now; the ramp's symmetry follows.
  instrument->user = wave == kFunctionUser;
  if (!instrument->user) instrument->settings.waveformIndex = wave;
  if (wave == kWaveTriangle) instrument->rampSymmetry = 50;
  if (wave == kWaveSaw) instrument->rampSymmetry = 100;
  if (wave == kWaveReversedSaw) instrument->rampSymmetry = 0;
  return ApplyChange(instrument, actions, before);
}

int32_t ChoosePanelSpw(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                       int32_t mode) {
  return FixSpwMode(instrument, actions, mode);
}

int32_t SetPanelDuty(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                     int32_t duty) {
  if (duty < 0 || duty > 100) return kScpiDataOutOfRange;
  const ScpiInstrument before = *instrument;
  instrument->settings.dutyPercent = static_cast<uint8_t>(duty);
  return ApplyChange(instrument, actions, before);
}

int32_t SetPanelJumper(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                       int32_t jumper) {
  if (jumper < 0 || jumper >= kJumpers) return kScpiIllegalParameterValue;
  const ScpiInstrument before = *instrument;
  instrument->settings.jumperIndex = jumper;
  return ApplyChange(instrument, actions, before);
}

int32_t PressPanelRun(ScpiInstrument *instrument, const ScpiGeneratorActions &actions) {
  return instrument->outputOn ? StopOutput(instrument, actions) : StartOutput(instrument, actions);
}

const char *ScpiErrorText(int32_t code) {
  struct ErrorText {
    int32_t code;
    const char *szText;
  };
  static const ErrorText kTexts[] = {
      {kScpiInvalidCharacter, "Invalid character"},
      {kScpiSyntaxError, "Syntax error"},
      {kScpiInvalidSeparator, "Invalid separator"},
      {kScpiDataTypeError, "Data type error"},
      {kScpiParameterNotAllowed, "Parameter not allowed"},
      {kScpiMissingParameter, "Missing parameter"},
      {kScpiMnemonicTooLong, "Program mnemonic too long"},
      {kScpiUndefinedHeader, "Undefined header"},
      {kScpiExponentTooLarge, "Exponent too large"},
      {kScpiTooManyDigits, "Too many digits"},
      {kScpiInvalidSuffix, "Invalid suffix"},
      {kScpiSuffixTooLong, "Suffix too long"},
      {kScpiSuffixNotAllowed, "Suffix not allowed"},
      {kScpiCharacterDataTooLong, "Character data too long"},
      {kScpiInvalidStringData, "Invalid string data"},
      {kScpiInvalidBlockData, "Invalid block data"},
      {kScpiSettingsConflict, "Settings conflict"},
      {kScpiDataOutOfRange, "Data out of range"},
      {kScpiTooMuchData, "Too much data"},
      {kScpiIllegalParameterValue, "Illegal parameter value"},
      {kScpiHardwareError, "Hardware error"},
      {kScpiHardwareMissing, "Hardware missing"},
      {kScpiQueueOverflow, "Queue overflow"},
  };
  for (const ErrorText &text : kTexts) {
    if (text.code == code) return text.szText;
  }
  return "Unknown error";
}
