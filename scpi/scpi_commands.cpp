#include "scpi/scpi_commands.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "scpi/scpi_parser.h"
#include "signal/nearest_code.h"

namespace {

const char *const kFunctionKeywords[kFunctions] = {"SINusoid", "SQUare", "TRIangle", "RAMP",
                                                   "NRAMp",    "NOISe",  "DC",       "USER"};
const char *const kFunctionNames[kFunctions] = {"SIN",  "SQU",  "TRI", "RAMP",
                                                "NRAM", "NOIS", "DC",  "USER"};
const char *const kJumperKeywords[kJumpers] = {"J1", "J2", "J3", "J4"};
// Where a user waveform is held: one volatile memory, the last waveform loaded.
const char *const kMemories[] = {"VOLatile"};

enum : int32_t {
  kHeaderPathSize = 256,  // a path and a header of kScpiMaxMnemonics mnemonics each
  kAnswerSize = 200,      // the longest answer of one query (APPLy?'s)
};

struct ScpiCall {
  Instrument *instrument;
  const InstrumentGenerator *generator;
  const char *pLine;
  const ScpiUnit *unit;
  const ScpiValueList *values;
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
  if (call->unit->paramCount < lowest) return kErrorMissingParameter;
  if (call->unit->paramCount > highest) return kErrorParameterNotAllowed;
  return kErrorNone;
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
      return kErrorIllegalParameterValue;
    }
    return kErrorNone;
  }
  if (param.type != kParamNumber) return kErrorDataType;
  double value = 0.0;
  int32_t error = ScpiNumberValue(call->pLine, param, kind, &value);
  if (error != kErrorNone) return error;
  if (CheckRange(value, lowest, highest) != kInRange) return kErrorDataOutOfRange;
  *pValue = value;
  return kErrorNone;
}

// A whole number in lowest..highest: any number form rounded to the nearest, .5 up.
int32_t ReadWhole(const ScpiCall *call, int32_t index, int32_t lowest, int32_t highest,
                  int32_t defaultValue, int32_t *pValue) {
  double value = 0.0;
  // Read without a range first: 100.4 is 100 and in range.
  int32_t error = ReadValue(call, index, kUnitNone, -HUGE_VAL, HUGE_VAL, defaultValue, &value);
  if (error != kErrorNone) return error;
  if (ScpiKeywordIs(call->pLine, Param(call, index), "MINimum")) value = lowest;
  if (ScpiKeywordIs(call->pLine, Param(call, index), "MAXimum")) value = highest;
  double rounded = std::floor(value + 0.5);
  if (!(rounded >= lowest && rounded <= highest)) return kErrorDataOutOfRange;
  *pValue = static_cast<int32_t>(rounded);
  return kErrorNone;
}

// One keyword of a list: its position; a number, a string or a block is -104, another keyword
// -224.
template <size_t N>
int32_t ReadChoice(const ScpiCall *call, int32_t index, const char *const (&aKeywords)[N],
                   int32_t *pChoice) {
  const ScpiParam &param = Param(call, index);
  if (param.type != kParamKeyword) return kErrorDataType;
  for (size_t i = 0; i < N; i++) {
    if (ScpiKeywordIs(call->pLine, param, aKeywords[i])) {
      *pChoice = static_cast<int32_t>(i);
      return kErrorNone;
    }
  }
  return kErrorIllegalParameterValue;
}

// FREQ, VOLT:OFFS, VOLT: the value of the command's one parameter to its field.
int32_t SetFieldCommand(ScpiCall *call, InstrumentField field, ScpiUnitKind kind) {
  double lowest = 0.0;
  double highest = 0.0;
  double value = 0.0;
  InstrumentFieldRange(*call->instrument, field, &lowest, &highest);
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) {
    error = ReadValue(call, 0, kind, lowest, highest,
                      InstrumentFieldDefault(*call->instrument, field), &value);
  }
  if (error != kErrorNone) return error;
  return SetInstrumentValue(call->instrument, *call->generator, field, value);
}

// ---- IEEE 488.2 common commands ----

int32_t QueryIdentity(ScpiCall *call) {
  Answer(call, call->instrument->szIdentity);
  return kErrorNone;
}

int32_t Reset(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 0, 0);
  if (error != kErrorNone) return error;
  return ResetInstrumentSettings(call->instrument, *call->generator);
}

int32_t ClearStatus(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 0, 0);
  if (error != kErrorNone) return error;
  call->instrument->errorCount = 0;
  call->instrument->eventStatus = 0;
  return kErrorNone;
}

int32_t SetEventEnable(ScpiCall *call) {
  int32_t value = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) error = ReadWhole(call, 0, 0, 255, 0, &value);
  if (error == kErrorNone) call->instrument->eventEnable = static_cast<uint8_t>(value);
  return error;
}

int32_t QueryEventEnable(ScpiCall *call) {
  AnswerWhole(call, call->instrument->eventEnable);
  return kErrorNone;
}

int32_t QueryEventStatus(ScpiCall *call) {
  AnswerWhole(call, call->instrument->eventStatus);
  call->instrument->eventStatus = 0;
  return kErrorNone;
}

int32_t SetServiceEnable(ScpiCall *call) {
  int32_t value = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) error = ReadWhole(call, 0, 0, 255, 0, &value);
  // Bit 6 is the summary itself: it cannot be enabled.
  if (error == kErrorNone) call->instrument->serviceEnable = static_cast<uint8_t>(value & ~0x40);
  return error;
}

int32_t QueryServiceEnable(ScpiCall *call) {
  AnswerWhole(call, call->instrument->serviceEnable);
  return kErrorNone;
}

// Bit 2: an error is queued; bit 5: an enabled event; bit 6: an enabled summary.
int32_t QueryStatusByte(ScpiCall *call) {
  const Instrument &instrument = *call->instrument;
  int32_t status = instrument.errorCount > 0 ? 0x04 : 0;
  if ((instrument.eventStatus & instrument.eventEnable) != 0) status |= 0x20;
  if ((status & instrument.serviceEnable) != 0) status |= 0x40;
  AnswerWhole(call, status);
  return kErrorNone;
}

// Every command has finished its writes and waits before the next one runs.
int32_t OperationComplete(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 0, 0);
  if (error == kErrorNone) call->instrument->eventStatus |= kEventOperationComplete;
  return error;
}

int32_t QueryOperationComplete(ScpiCall *call) {
  Answer(call, "1");
  return kErrorNone;
}

int32_t Wait(ScpiCall *call) {
  return CheckParamCount(call, 0, 0);
}

int32_t QuerySelfTest(ScpiCall *call) {
  Answer(call, "0");
  return kErrorNone;
}

// ---- SYSTem ----

int32_t QueryNextError(ScpiCall *call) {
  const int32_t code = TakeInstrumentError(call->instrument);
  char szText[kAnswerSize];
  snprintf(szText, std::size(szText), "%d,\"%s\"", static_cast<int>(code),
           code == 0 ? "No error" : InstrumentErrorText(code));
  Answer(call, szText);
  return kErrorNone;
}

int32_t QueryVersion(ScpiCall *call) {
  Answer(call, "1999.0");
  return kErrorNone;
}

// ---- SOURce ----

int32_t SetFunctionShape(ScpiCall *call) {
  int32_t function = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) error = ReadChoice(call, 0, kFunctionKeywords, &function);
  if (error != kErrorNone) return error;
  return ChooseInstrumentFunction(call->instrument, *call->generator, function);
}

int32_t QueryFunctionShape(ScpiCall *call) {
  const Instrument &instrument = *call->instrument;
  Answer(call, kFunctionNames[instrument.user ? kFunctionUser : instrument.settings.waveformIndex]);
  return kErrorNone;
}

// FUNCtion:USER VOLatile: the user waveform FUNC USER plays is the volatile one, the only one.
int32_t SetUserFunction(ScpiCall *call) {
  int32_t memory = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) error = ReadChoice(call, 0, kMemories, &memory);
  return error;
}

int32_t QueryUserFunction(ScpiCall *call) {
  Answer(call, "VOLATILE");
  return kErrorNone;
}

int32_t SetRampSymmetry(ScpiCall *call) {
  int32_t symmetry = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) error = ReadWhole(call, 0, 0, 100, 100, &symmetry);
  if (error != kErrorNone) return error;
  return SetInstrumentRampSymmetry(call->instrument, *call->generator, symmetry);
}

int32_t QueryRampSymmetry(ScpiCall *call) {
  AnswerWhole(call, call->instrument->rampSymmetry);
  return kErrorNone;
}

int32_t SetDutyCycle(ScpiCall *call) {
  int32_t duty = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) error = ReadWhole(call, 0, 0, 100, 50, &duty);
  if (error != kErrorNone) return error;
  return SetInstrumentDuty(call->instrument, *call->generator, duty);
}

int32_t QueryDutyCycle(ScpiCall *call) {
  AnswerWhole(call, call->instrument->settings.dutyPercent);
  return kErrorNone;
}

int32_t SetFrequencyValue(ScpiCall *call) {
  return SetFieldCommand(call, kFieldFrequency, kUnitHertz);
}

int32_t QueryFrequencyValue(ScpiCall *call) {
  const GeneratorSettings &settings = call->instrument->settings;
  AnswerReal(call, FrequencyFromCode(settings.frequencyCode, settings.spwIndex));
  return kErrorNone;
}

// 360, 180, 90, 45 or 24, or AUTO (DEFault: AUTO, as at the start).
int32_t SetSamplesPerWave(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 1, 1);
  if (error != kErrorNone) return error;
  const ScpiParam &param = Param(call, 0);
  if (ScpiKeywordIs(call->pLine, param, "AUTO") || ScpiKeywordIs(call->pLine, param, "DEFault")) {
    return ChooseInstrumentSpwAuto(call->instrument, *call->generator);
  }
  if (param.type == kParamKeyword) return kErrorIllegalParameterValue;
  int32_t samples = 0;
  error = ReadWhole(call, 0, 0, kSamplesPerWave[0], 0, &samples);
  if (error != kErrorNone) return error;
  // A number that is no mode's is out of range: kSpwModes.
  int32_t mode = 0;
  while (mode < kSpwModes && kSamplesPerWave[mode] != samples) mode++;
  return ChooseInstrumentSpw(call->instrument, *call->generator, mode);
}

int32_t QuerySamplesPerWave(ScpiCall *call) {
  AnswerWhole(call, kSamplesPerWave[call->instrument->settings.spwIndex]);
  return kErrorNone;
}

int32_t SetAmplitude(ScpiCall *call) {
  return SetFieldCommand(call, kFieldAmplitude, kUnitVpp);
}

int32_t QueryAmplitude(ScpiCall *call) {
  const GeneratorSettings &settings = call->instrument->settings;
  AnswerReal(call, AmplitudeFromCode(settings.amplitudeCode, settings.jumperIndex));
  return kErrorNone;
}

// Peak-to-peak volts are the only unit the generator is set in.
int32_t SetVoltageUnit(ScpiCall *call) {
  static const char *const kUnits[] = {"VPP", "VRMS", "DBM"};
  int32_t unit = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) error = ReadChoice(call, 0, kUnits, &unit);
  if (error == kErrorNone && unit != 0) error = kErrorSettingsConflict;
  return error;
}

int32_t QueryVoltageUnit(ScpiCall *call) {
  Answer(call, "VPP");
  return kErrorNone;
}

int32_t SetOffset(ScpiCall *call) {
  return SetFieldCommand(call, kFieldOffset, kUnitVolts);
}

int32_t QueryOffset(ScpiCall *call) {
  const GeneratorSettings &settings = call->instrument->settings;
  AnswerReal(call, OffsetFromCode(settings.offsetCode, settings.jumperIndex));
  return kErrorNone;
}

// As on the panel, the codes stay: the volts they give change with the jumper.
int32_t SetJumper(ScpiCall *call) {
  int32_t jumper = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) error = ReadChoice(call, 0, kJumperKeywords, &jumper);
  if (error != kErrorNone) return error;
  return SetInstrumentJumper(call->instrument, *call->generator, jumper);
}

int32_t QueryJumper(ScpiCall *call) {
  Answer(call, kJumperKeywords[call->instrument->settings.jumperIndex]);
  return kErrorNone;
}

// ---- OUTPut, APPLy, DATA ----

int32_t SetOutput(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 1, 1);
  if (error != kErrorNone) return error;
  const ScpiParam &param = Param(call, 0);
  int32_t on = 0;
  if (param.type == kParamKeyword) {
    static const char *const kStates[] = {"OFF", "ON"};
    error = ReadChoice(call, 0, kStates, &on);
  } else {
    // A number stands for the state only as 0 or 1.
    error = ReadWhole(call, 0, 0, 1, 0, &on);
    if (error == kErrorDataOutOfRange) error = kErrorIllegalParameterValue;
  }
  if (error != kErrorNone) return error;
  return SetInstrumentOutput(call->instrument, *call->generator, on != 0);
}

int32_t QueryOutput(ScpiCall *call) {
  Answer(call, call->instrument->outputOn ? "1" : "0");
  return kErrorNone;
}

// APPLy:<function> [<hertz>[,<vpp>[,<offset>]]]: all checked before anything changes; an omitted
// value or DEFault keeps the present one; for DC the first two only hold places.
int32_t Apply(ScpiCall *call) {
  int32_t error = CheckParamCount(call, 0, 3);
  if (error == kErrorNone) error = CheckInstrumentFunction(*call->instrument, call->argument);
  if (error != kErrorNone) return error;
  const int32_t function = call->argument;
  const int32_t count = call->unit->paramCount;
  auto given = [&](int32_t index) {
    return index < count && !ScpiKeywordIs(call->pLine, Param(call, index), "DEFault");
  };
  // Each given value read in its field's range (which the function does not change), in order.
  const InstrumentField fields[] = {kFieldFrequency, kFieldAmplitude, kFieldOffset};
  const ScpiUnitKind kinds[] = {kUnitHertz, kUnitVpp, kUnitVolts};
  InstrumentValues values = {};
  for (int32_t i = 0; i < 3; i++) {
    if (!given(i) || (function == kWaveZero && fields[i] != kFieldOffset)) continue;
    double lowest = 0.0;
    double highest = 0.0;
    InstrumentFieldRange(*call->instrument, fields[i], &lowest, &highest);
    error =
        ReadValue(call, i, kinds[i], lowest, highest,
                  InstrumentFieldDefault(*call->instrument, fields[i]), &values.aValues[fields[i]]);
    if (error != kErrorNone) return error;
    values.aGiven[fields[i]] = true;
  }
  return ApplyInstrumentFunction(call->instrument, *call->generator, function, values);
}

int32_t QueryApply(ScpiCall *call) {
  const Instrument &instrument = *call->instrument;
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
  return kErrorNone;
}

// DATA VOLATILE,<value>,...: the values the line reader read apart from the line, which stand
// just after the keyword. Another DATA unit on the same line has its values in the line: -108.
int32_t SetVolatileData(ScpiCall *call) {
  int32_t memory = 0;
  int32_t error = CheckParamCount(call, 1, 1);
  if (error == kErrorNone) error = ReadChoice(call, 0, kMemories, &memory);
  if (error != kErrorNone) return error;
  const ScpiValueList &list = *call->values;
  const ScpiParam &param = Param(call, 0);
  if (!list.present || list.dwOffset != param.dwOffset + param.dwLength) {
    return kErrorMissingParameter;
  }
  if (list.error != kErrorNone) return list.error;
  return LoadInstrumentPoints(call->instrument, *call->generator, list.pValues, list.count);
}

// DATA:ATTRibute:POINts? [VOLatile]: the values the user waveform was loaded with, 0 before one.
int32_t QueryDataPoints(ScpiCall *call) {
  int32_t memory = 0;
  int32_t error = CheckParamCount(call, 0, 1);
  if (error == kErrorNone && call->unit->paramCount == 1) {
    error = ReadChoice(call, 0, kMemories, &memory);
  }
  if (error == kErrorNone) AnswerWhole(call, call->instrument->userPoints);
  return error;
}

// DATA:DAC VOLATILE, then 360 whole numbers or one block of 720 bytes (high byte first).
int32_t SetDacData(ScpiCall *call) {
  int32_t memory = 0;
  int32_t error = CheckParamCount(call, 2, INT32_MAX);
  if (error == kErrorNone) error = ReadChoice(call, 0, kMemories, &memory);
  if (error != kErrorNone) return error;
  uint16_t samples[kWaveTableSamples];
  const int32_t values = call->unit->paramCount - 1;
  const ScpiParam &first = Param(call, 1);
  if (first.type == kParamBlock) {
    if (values > 1) return kErrorParameterNotAllowed;
    if (first.dwLength < sizeof(samples)) return kErrorMissingParameter;
    if (first.dwLength > sizeof(samples)) return kErrorTooMuchData;
    const uint8_t *pBytes = reinterpret_cast<const uint8_t *>(call->pLine + first.dwOffset);
    for (int32_t i = 0; i < kWaveTableSamples; i++) {
      samples[i] = static_cast<uint16_t>(pBytes[2 * i] << 8 | pBytes[2 * i + 1]);
    }
  } else {
    if (values < kWaveTableSamples) return kErrorMissingParameter;
    if (values > kWaveTableSamples) return kErrorTooMuchData;
    for (int32_t i = 0; i < kWaveTableSamples; i++) {
      const ScpiParam &param = Param(call, i + 1);
      if (param.type != kParamNumber) return kErrorDataType;
      double value = 0.0;
      error = ScpiNumberValue(call->pLine, param, kUnitNone, &value);
      if (error != kErrorNone) return error;
      if (!(value >= 0.0 && value <= 65535.0) || value != std::floor(value)) {
        return kErrorDataOutOfRange;
      }
      samples[i] = static_cast<uint16_t>(value);
    }
  }
  return LoadInstrumentTable(call->instrument, *call->generator, samples);
}

struct Command {
  const char *szPattern;
  Handler set;
  Handler query;
  int32_t argument;
  bool queryTakesParams = false;  // else a query with parameters is -108
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
    {"[SOURce:]FUNCtion:USER", SetUserFunction, QueryUserFunction, 0},
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
    {"DATA", SetVolatileData, nullptr, 0},
    {"DATA:ATTRibute:POINts", nullptr, QueryDataPoints, 0, true},
};

const Command *FindCommand(const char *pHeader, size_t dwLength) {
  for (const Command &command : kCommands) {
    if (ScpiHeaderMatches(command.szPattern, pHeader, dwLength)) return &command;
  }
  return nullptr;
}

}  // namespace

void RunScpiLine(Instrument *instrument, const InstrumentGenerator &generator, const char *pLine,
                 size_t dwLength, const ScpiValueList &values, std::string *pAnswer) {
  ScpiUnit unit;
  char szPath[kHeaderPathSize];
  size_t dwPath = 0;  // the previous header's mnemonics but its last, each with its ':'
  size_t position = 0;
  while (position < dwLength) {
    int32_t error = ParseScpiUnit(pLine, dwLength, &position, &unit);
    if (error != kErrorNone) {
      QueueInstrumentError(instrument, error);
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
      QueueInstrumentError(instrument, kErrorUndefinedHeader);
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
    ScpiCall call = {instrument, &generator, pLine, &unit, &values, command->argument, pAnswer};
    const bool paramsRefused = unit.query && unit.paramCount > 0 && !command->queryTakesParams;
    error = paramsRefused ? kErrorParameterNotAllowed : handler(&call);
    if (error != kErrorNone) {
      QueueInstrumentError(instrument, error);
      if (error <= -100 && error > -200) return;
    }
  }
}
