// The instrument without a port, a socket or a command line: its verbs in, its state, their
// results and the generator's writes out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>

#include "instrument/instrument.h"
#include "signal/nearest_code.h"
#include "signal/shape.h"
#include "tests/instrument/fake_generator.h"

namespace {

// The user shape of the tests: a falling ramp over the first quarter, then -0.25.
const double *TestShape() {
  static double aShape[kWaveTableSamples];
  for (int32_t i = 0; i < kWaveTableSamples; i++) aShape[i] = i < 90 ? 1.0 - i / 45.0 : -0.25;
  return aShape;
}

// One verb, a letter and its number: w wave (the panel's list), f function, r ramp symmetry,
// s samples per wave (a: chosen by the frequency), d duty, j jumper, o output, H/O/V a value of
// frequency/offset/amplitude, +/- a step of h/o/v (capital: coarse), t a table of one sample
// value, S<n> the test shape's first n points (none: all), A<function>:<hertz>:<offset>:<vpp>
// (_: not given), * a reset.
int32_t RunVerb(Bench *bench, const std::string &verb) {
  Instrument *i = &bench->instrument;
  const InstrumentGenerator &g = bench->link;
  char *pEnd = nullptr;
  const double number = strtod(verb.c_str() + 1, &pEnd);
  const int32_t n = static_cast<int32_t>(number);
  switch (verb[0]) {
    case 'w': return ChooseInstrumentWave(i, g, n);
    case 'f': return ChooseInstrumentFunction(i, g, n);
    case 'r': return SetInstrumentRampSymmetry(i, g, n);
    case 's': return ChooseInstrumentSpw(i, g, n);
    case 'a': return ChooseInstrumentSpwAuto(i, g);
    case 'd': return SetInstrumentDuty(i, g, n);
    case 'j': return SetInstrumentJumper(i, g, n);
    case 'o': return SetInstrumentOutput(i, g, n != 0);
    case 'H': return SetInstrumentValue(i, g, kFieldFrequency, number);
    case 'O': return SetInstrumentValue(i, g, kFieldOffset, number);
    case 'V': return SetInstrumentValue(i, g, kFieldAmplitude, number);
    case '*': return ResetInstrumentSettings(i, g);
    case 'S': return LoadInstrumentPoints(i, g, TestShape(), n > 0 ? n : kWaveTableSamples);
    case 't': {
      uint16_t aSamples[kWaveTableSamples];
      std::fill(std::begin(aSamples), std::end(aSamples), static_cast<uint16_t>(n));
      return LoadInstrumentTable(i, g, aSamples);
    }
    case '+':
    case '-': {
      const char field = static_cast<char>(tolower(verb[1]));
      return StepInstrumentField(i, g,
                                 field == 'h'   ? kFieldFrequency
                                 : field == 'o' ? kFieldOffset
                                                : kFieldAmplitude,
                                 verb[0] == '+', isupper(verb[1]) != 0);
    }
    case 'A': {
      InstrumentValues values = {};
      for (int32_t k = 0; k < kFields; k++) {  // in the order of the fields
        values.aGiven[k] = pEnd[1] != '_';
        values.aValues[k] = strtod(pEnd + 1, &pEnd);
        if (!values.aGiven[k]) pEnd++;  // past the '_', which strtod leaves
      }
      return ApplyInstrumentFunction(i, g, n, values);
    }
  }
  ADD_FAILURE() << "no verb " << verb;
  return 0;
}

std::string RunVerbs(Bench *bench, const char *szVerbs) {
  std::istringstream verbs(szVerbs);
  std::string verb, results;
  while (verbs >> verb) {
    results += (results.empty() ? "" : ",") + std::to_string(RunVerb(bench, verb));
  }
  return results;
}

// The state as the tokens that differ from the power-on state's: the function, the frequency in
// hertz, its mode ("a": chosen by the frequency), the amplitude and offset codes, the duty, the
// jumper, the ramp's symmetry, the output.
std::string State(const Instrument &instrument) {
  static const char *const kNames[] = {"SIN", "SQU", "TRI", "SAW", "NSAW", "NOIS", "DC"};
  const GeneratorSettings &settings = instrument.settings;
  char szState[160];
  snprintf(szState, std::size(szState), "%s %.6gHz %d%s A%d O%d %d%% J%d r%d %s",
           instrument.user ? "USER" : kNames[settings.waveformIndex],
           FrequencyFromCode(settings.frequencyCode, settings.spwIndex),
           static_cast<int>(kSamplesPerWave[settings.spwIndex]), instrument.spwAuto ? "a" : "",
           settings.amplitudeCode, settings.offsetCode, settings.dutyPercent,
           static_cast<int>(settings.jumperIndex + 1), static_cast<int>(instrument.rampSymmetry),
           instrument.outputOn ? "on" : "off");
  std::istringstream tokens(szState), powerOn("SIN 1000Hz 360a A32767 O31 50% J1 r100 off");
  std::string token, original, changed;
  while (tokens >> token && powerOn >> original) {
    if (token != original) changed += (changed.empty() ? "" : " ") + token;
  }
  return changed;
}

struct VerbCase {
  const char *szVerbs, *szResults, *szState;  // the state after the last verb
  std::string log = "";                       // the generator's: nothing sent unless a case says so
};

void RunCases(const std::vector<VerbCase> &cases) {
  for (const VerbCase &c : cases) {
    Bench bench;
    EXPECT_EQ(RunVerbs(&bench, c.szVerbs), c.szResults) << c.szVerbs;
    EXPECT_EQ(State(bench.instrument), c.szState) << c.szVerbs;
    EXPECT_EQ(bench.generator.log, c.log) << c.szVerbs;
    // A verb's error is its caller's to queue or to answer.
    EXPECT_EQ(bench.instrument.errorCount, 0) << c.szVerbs;
  }
}

// Functions: 1 square, 2 triangle, 3 saw ("ramp"), 4 reversed saw, 6 DC, 7 user.
TEST(InstrumentVerbs, TheRulesOfTheSettings) {
  // clang-format off
  RunCases({
      // the ramp family: "ramp" is the member of the symmetry in use, which a triangle or a
      // reversed saw sets, and which a ramp in use follows
      {"f3 r0", "0,0", "NSAW r0"}, {"f3 r50", "0,0", "TRI r50"}, {"f2 f3", "0,0", "TRI r50"},
      {"f4 f3", "0,0", "NSAW r0"}, {"r0", "0", "r0"}, {"w2 r100", "0,0", "SAW"}, {"r25", "-222", ""},
      // the waveform list's entry is itself, whatever the symmetry, which follows it
      {"r0 w3", "0,0", "SAW"}, {"w4", "0", "NSAW r0"}, {"w2", "0", "TRI r50"},
      {"w6 w-1 w8 f8", "0,-224,-224,-224", "DC"},
      // the user table only once one is loaded
      {"f7 w7", "-221,-221", ""},
      // the frequency chooses the mode, or keeps to a fixed one; a mode keeps the frequency last
      // asked for, and one that cannot reach it changes nothing
      {"H20000 s0", "0,-222", "20000Hz 180a"}, {"s4 H2", "0,-222", "24"},
      {"s4 a H2", "0,0,0", "2Hz"}, {"H20000 s4 a", "0,0,0", "20000Hz 180a"},
      {"s-1 s5", "-222,-222", ""},
      // the jumper keeps the codes: the volts, and so the ranges and the nearest codes, change
      {"j3 V6 j4", "0,-222,-224", "J4"}, {"j3 O0.81", "0,0", "O62 J4"},
      {"V7 O-3.5", "-222,-222", ""}, {"d0 d101 d-1", "0,-222,-222", "0%"},
  });
  // clang-format on
}

// The packets: frequency code, amplitude code, offset code, duty, mode, jumper.
TEST(InstrumentVerbs, WhatReachesTheGenerator) {
  const char *const kStart = "start:00647fff1f320000 wait:55 ";
  const std::string kStartStop = kStart + std::string("stop wait:aa ");
  // clang-format off
  RunCases({
      {"o0 o1 o1", "0,0,0", "on", kStart},
      // a change while on: the stop, then the start with it; one that changes nothing sends
      // nothing
      {"o1 j2", "0,0", "J3 on", kStartStop + "start:00647fff1f320002 wait:55 "},
      {"o1 d10", "0,0", "10% on", kStartStop + "start:00647fff1f0a0000 wait:55 "},
      {"o1 H1000 d50 r0", "0,0,0,0", "r0 on", kStart}, {"o1 *", "0,0", "", kStartStop},
      // the same table again sends nothing, another one goes out at once
      {"t7 f7 o1 t7 t8", "0,0,0,0,0", "USER on", kStartStop + "start:00647fff1f320000 wait:55 "},
      // a function with its values, all checked before anything changes or is sent, then
      // started; a DC level takes only its offset
      {"A6:9e9:1:-5", "0", "DC O41 on", "start:00647fff29320000 wait:55 "},
      {"A1:1000:9:1", "-222", ""},
      // each field steps its own way: up is a higher frequency (a lower code); coarse only
      // for frequency and amplitude; a running output takes the new code at once, and a later
      // change of mode keeps the frequency stepped to
      {"+h +H", "0,0", "1190.48Hz"},
      {"o1 -H s1", "0,0,0", "869.565Hz 180 on",
       kStartStop + "start:00737fff1f320000 wait:55 stop wait:aa start:00e67fff1f320100 wait:55 "},
      {"+O -o -o", "0,0,0", "O30"}, {"-V -V +V +v", "0,0,0,0", "A31871"},
  });
  // clang-format on
}

// A generator that goes away during a start (in the writes or in the wait) or stays silent, and
// its own reports (the silent one's error, and one gone while idle: ../serving/serve_test.py).
TEST(InstrumentVerbs, AGeneratorLostOrSilentAndItsOwnReports) {
  for (bool writesFail : {true, false}) {
    Bench lost;
    lost.generator.writesFail = writesFail;
    lost.generator.outcome = kWaitGone;
    lost.instrument.outputOn = lost.instrument.user = true;  // as a report said
    // a wave chosen, or 90 points of a shape: loaded all the same, for the next start
    EXPECT_EQ(RunVerbs(&lost, writesFail ? "w1" : "S90"), std::to_string(kErrorHardwareMissing));
    EXPECT_FALSE(lost.instrument.outputOn);
    EXPECT_EQ(lost.instrument.userPoints, writesFail ? 0 : 90);
  }
  Bench silent;
  silent.generator.outcome = kWaitTimedOut;
  RunVerbs(&silent, "o1");
  EXPECT_EQ(silent.instrument.errorCount, 0);  // the caller queues the error

  Bench bench;
  std::string outputs;  // after each report
  for (ReceivedReport report :
       {kReportRunning, kReportNone, kReportStopped, kReportNone, kReportRunning}) {
    NoteGeneratorReport(&bench.instrument, report);
    outputs += bench.instrument.outputOn ? '1' : '0';
  }
  EXPECT_EQ(outputs, "11001");
}

// A reset goes back to the power-on settings and the jumper the instrument started with, and
// keeps the user table; the identity's serial number cannot split *IDN?'s fields, and no serial
// number is 0.
TEST(InstrumentState, AResetAndTheIdentity) {
  Bench bench(2);
  EXPECT_EQ(RunVerbs(&bench, "t5 j0 H50 f7 s4 r0 o1"), "0,0,0,0,0,0,0");
  EXPECT_EQ(State(bench.instrument), "USER 50Hz 24 r0 on");
  EXPECT_EQ(RunVerbs(&bench, "*"), "0");
  EXPECT_EQ(State(bench.instrument), "J3");
  EXPECT_EQ(RunVerbs(&bench, "s4 f7"), "0,0");  // at the frequency of the power-on
  EXPECT_EQ(State(bench.instrument), "USER 24 J3");

  ResetInstrument(&bench.instrument, 0, "A,B;C\"D", "1");
  EXPECT_STREQ(bench.instrument.szIdentity, "VARNOLT,DDS generator,A_B_C_D,1");
  ResetInstrument(&bench.instrument, 0, "", "1");
  EXPECT_STREQ(bench.instrument.szIdentity, "VARNOLT,DDS generator,0,1");
  // A serial number too long for the answer fills it to its last byte.
  ResetInstrument(&bench.instrument, 0, std::string(300, 'S').c_str(), "1");
  EXPECT_EQ(strlen(bench.instrument.szIdentity), size_t{kInstrumentIdentitySize - 1});
}

// The user waveform as a shape: the table a start sends is the shape scaled by the amplitude code
// in use, made again after each change of it (while the output runs and for the next start); a
// raw table loaded after it replaces it, and a shape after a table replaces that.
TEST(InstrumentShape, FollowsTheAmplitudeAndGivesWayToATable) {
  Bench bench;
  const Instrument &instrument = bench.instrument;
  // (the verb, whether the shape is the user waveform after it, whether it changes the amplitude)
  const struct {
    const char *szVerb;
    bool shape, changes;
  } kSteps[] = {{"o1", true, false},        {"V1", true, true},  {"o0", true, false},
                {"-V", true, true},         {"o1", true, false}, {"t1234", false, false},
                {"V2", false, true},        {"S", true, false},  {"o0", true, false},
                {"A7:_:_:0.5", true, true}, {"*", true, true}};
  ASSERT_EQ(RunVerbs(&bench, "S f7"), "0,0");
  int32_t previousCode = instrument.settings.amplitudeCode;
  for (const auto &step : kSteps) {
    bench.generator.lastStart = {};
    EXPECT_EQ(RunVerbs(&bench, step.szVerb), "0") << step.szVerb;
    EXPECT_EQ(instrument.settings.amplitudeCode != previousCode, step.changes) << step.szVerb;
    previousCode = instrument.settings.amplitudeCode;
    uint16_t aTable[kWaveTableSamples];  // the shape scaled by the code in use, or the 1234s
    std::fill(std::begin(aTable), std::end(aTable), 1234);
    if (step.shape) ScaleShape(TestShape(), instrument.settings.amplitudeCode, aTable);
    const WriteSequence expected = StartSequence(instrument.settings, aTable);
    EXPECT_TRUE(!instrument.outputOn ||
                std::memcmp(bench.generator.lastStart.aWrites, expected.aWrites,
                            sizeof(PortWrite) * kTableBlocks) == 0)
        << step.szVerb;
    // The table the preview draws is the one the next start sends, also while stopped.
    EXPECT_EQ(std::memcmp(instrument.aUserTable, aTable, sizeof(aTable)), 0) << step.szVerb;
  }
  // A sample outside -1..+1 is refused and changes nothing.
  for (double bad : {1.5, -1.0001, static_cast<double>(NAN)}) {
    double aBad[kWaveTableSamples] = {};
    aBad[200] = bad;
    const std::string log = bench.generator.log;
    EXPECT_EQ(LoadInstrumentShape(&bench.instrument, bench.link, aBad), kErrorDataOutOfRange);
    EXPECT_EQ(instrument.aUserShape[200], TestShape()[200]);
    EXPECT_EQ(bench.generator.log, log);
  }
}

}  // namespace
