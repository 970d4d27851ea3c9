// The instrument without a port, a socket or a command line: its verbs in, its state, their
// results and the generator's writes out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "instrument/instrument.h"
#include "signal/nearest_code.h"
#include "signal/shape.h"
#include "tests/instrument/fake_generator.h"

namespace {

struct Bench {
  Instrument instrument;
  FakeGenerator generator;
  InstrumentGenerator link = FakeInstrumentGenerator(&generator);

  explicit Bench(int32_t jumper = 0) { ResetInstrument(&instrument, jumper, "SN0001", "1.2.3"); }
};

using Verb = std::function<int32_t(Instrument *, const InstrumentGenerator &)>;
using IntVerb = int32_t (*)(Instrument *, const InstrumentGenerator &, int32_t);

Verb Call(IntVerb verb, int32_t argument) {
  return [=](Instrument *i, const InstrumentGenerator &g) { return verb(i, g, argument); };
}
const auto Wave = [](int32_t wave) { return Call(ChooseInstrumentWave, wave); };
const auto Function = [](int32_t function) { return Call(ChooseInstrumentFunction, function); };
const auto Symmetry = [](int32_t symmetry) { return Call(SetInstrumentRampSymmetry, symmetry); };
const auto Spw = [](int32_t mode) { return Call(ChooseInstrumentSpw, mode); };
const auto Duty = [](int32_t duty) { return Call(SetInstrumentDuty, duty); };
const auto Jumper = [](int32_t jumper) { return Call(SetInstrumentJumper, jumper); };
Verb Output(bool on) {
  return [=](Instrument *i, const InstrumentGenerator &g) { return SetInstrumentOutput(i, g, on); };
}
Verb Value(InstrumentField field, double value) {
  return [=](Instrument *i, const InstrumentGenerator &g) {
    return SetInstrumentValue(i, g, field, value);
  };
}
Verb SpwAuto() {
  return [](Instrument *i, const InstrumentGenerator &g) { return ChooseInstrumentSpwAuto(i, g); };
}
Verb Reset() {
  return [](Instrument *i, const InstrumentGenerator &g) { return ResetInstrumentSettings(i, g); };
}
// A table of one sample value throughout.
Verb Table(uint16_t sample) {
  return [=](Instrument *i, const InstrumentGenerator &g) {
    uint16_t aSamples[kWaveTableSamples];
    std::fill(std::begin(aSamples), std::end(aSamples), sample);
    return LoadInstrumentTable(i, g, aSamples);
  };
}
// NAN: a value not given.
Verb Apply(int32_t function, double hertz, double vpp, double offset) {
  return [=](Instrument *i, const InstrumentGenerator &g) {
    const InstrumentValues values = {{!std::isnan(hertz), !std::isnan(offset), !std::isnan(vpp)},
                                     {hertz, offset, vpp}};
    return ApplyInstrumentFunction(i, g, function, values);
  };
}
Verb Step(InstrumentField field, bool up, bool coarse) {
  return [=](Instrument *i, const InstrumentGenerator &g) {
    return StepInstrumentField(i, g, field, up, coarse);
  };
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
  std::vector<Verb> verbs;
  const char *szResults;  // each verb's, joined by ','
  const char *szState;    // after the last
  std::string log = "";   // the generator's: nothing sent unless a case says so
};

void RunCases(const std::vector<VerbCase> &cases) {
  for (size_t i = 0; i < cases.size(); i++) {
    Bench bench;
    std::string results;
    for (const Verb &verb : cases[i].verbs) {
      results += (results.empty() ? "" : ",") + std::to_string(verb(&bench.instrument, bench.link));
    }
    EXPECT_EQ(results, cases[i].szResults) << "case " << i;
    EXPECT_EQ(State(bench.instrument), cases[i].szState) << "case " << i;
    EXPECT_EQ(bench.generator.log, cases[i].log) << "case " << i;
    // A verb's error is its caller's to queue or to answer.
    EXPECT_EQ(bench.instrument.errorCount, 0) << "case " << i;
  }
}

TEST(InstrumentVerbs, TheRulesOfTheSettings) {
  RunCases({
      {{}, "", ""},
      // the ramp family: "ramp" is the member of the symmetry in use, which a triangle or a
      // reversed saw sets, and which a ramp in use follows
      {{Function(kWaveSaw), Symmetry(0)}, "0,0", "NSAW r0"},
      {{Function(kWaveSaw), Symmetry(50)}, "0,0", "TRI r50"},
      {{Function(kWaveTriangle), Function(kWaveSaw)}, "0,0", "TRI r50"},
      {{Function(kWaveReversedSaw), Function(kWaveSaw)}, "0,0", "NSAW r0"},
      {{Symmetry(0)}, "0", "r0"},
      {{Symmetry(0), Function(kWaveSaw)}, "0,0", "NSAW r0"},
      {{Symmetry(25)}, "-222", ""},
      // the waveform list's entry is itself, whatever the symmetry, which follows it
      {{Symmetry(0), Wave(kWaveSaw)}, "0,0", "SAW"},
      {{Wave(kWaveReversedSaw)}, "0", "NSAW r0"},
      {{Wave(kWaveTriangle)}, "0", "TRI r50"},
      {{Wave(kWaveZero), Wave(-1), Wave(kFunctions), Function(kFunctions)},
       "0,-224,-224,-224",
       "DC"},
      // the user table only once one is loaded
      {{Function(kFunctionUser), Wave(kFunctionUser)}, "-221,-221", ""},
      // the frequency chooses the mode, or keeps to a fixed one; a mode keeps the frequency last
      // asked for, and one that cannot reach it changes nothing
      {{Value(kFieldFrequency, 20000), Spw(0)}, "0,-222", "20000Hz 180a"},
      {{Spw(4), Value(kFieldFrequency, 2)}, "0,-222", "24"},
      {{Spw(4), SpwAuto(), Value(kFieldFrequency, 2)}, "0,0,0", "2Hz"},
      {{Value(kFieldFrequency, 20000), Spw(4), SpwAuto()}, "0,0,0", "20000Hz 180a"},
      {{Spw(-1), Spw(kSpwModes)}, "-222,-222", ""},
      // the jumper keeps the codes: the volts, and so the range, change with it
      {{Jumper(3), Value(kFieldAmplitude, 6), Jumper(4)}, "0,-222,-224", "J4"},
      {{Value(kFieldAmplitude, 7), Value(kFieldOffset, -3.5)}, "-222,-222", ""},
      {{Duty(0), Duty(101), Duty(-1)}, "0,-222,-222", "0%"},
  });
}

// The packets: frequency code, amplitude code, offset code, duty, mode, jumper.
TEST(InstrumentVerbs, WhatReachesTheGenerator) {
  const char *const kStart = "start:00647fff1f320000 wait:55 ";
  const std::string kStartStop = kStart + std::string("stop wait:aa ");
  RunCases({
      {{Output(false), Output(true), Output(true)}, "0,0,0", "on", kStart},
      // a change while on: the stop, then the start with it; one that changes nothing sends
      // nothing
      {{Output(true), Jumper(2)}, "0,0", "J3 on", (kStartStop + "start:00647fff1f320002 wait:55 ")},
      {{Output(true), Duty(10)}, "0,0", "10% on", (kStartStop + "start:00647fff1f0a0000 wait:55 ")},
      {{Output(true), Value(kFieldFrequency, 1000), Duty(50), Symmetry(0)},
       "0,0,0,0",
       "r0 on",
       kStart},
      {{Output(true), Reset()}, "0,0", "", kStartStop},
      // the same table again sends nothing, another one goes out at once
      {{Table(7), Function(kFunctionUser), Output(true), Table(7), Table(8)},
       "0,0,0,0,0",
       "USER on",
       (kStartStop + "start:00647fff1f320000 wait:55 ")},
      // a function with its values, all checked before anything changes or is sent, then
      // started; a DC level takes only its offset
      {{Apply(kWaveZero, 9e9, -5, 1)}, "0", "DC O41 on", "start:00647fff29320000 wait:55 "},
      {{Apply(kWaveSquare, 1000, 1, 9)}, "-222", ""},
      // each field steps its own way: up is a higher frequency (a lower code); coarse only
      // for frequency and amplitude; a running output takes the new code at once, and a later
      // change of mode keeps the frequency stepped to
      {{Step(kFieldFrequency, true, false), Step(kFieldFrequency, true, true)}, "0,0", "1190.48Hz"},
      {{Output(true), Step(kFieldFrequency, false, true), Spw(1)},
       "0,0,0",
       "869.565Hz 180 on",
       kStartStop + "start:00737fff1f320000 wait:55 stop wait:aa start:00e67fff1f320100 wait:55 "},
      {{Step(kFieldOffset, true, true), Step(kFieldOffset, false, false),
        Step(kFieldOffset, false, false)},
       "0,0,0",
       "O30"},
      {{Step(kFieldAmplitude, false, true), Step(kFieldAmplitude, false, true),
        Step(kFieldAmplitude, true, true), Step(kFieldAmplitude, true, false)},
       "0,0,0,0",
       "A31871"},
  });
}

// A generator that goes away during a start (in the writes or in the wait) or stays silent, the
// generator's own reports, and one gone while nothing was sent.
TEST(InstrumentVerbs, AGeneratorLostOrSilentAndItsOwnReports) {
  for (bool writesFail : {true, false}) {
    Bench lost;
    lost.generator.writesFail = writesFail;
    lost.generator.outcome = kWaitGone;
    lost.instrument.outputOn = true;  // as a report said
    EXPECT_EQ(ChooseInstrumentWave(&lost.instrument, lost.link, kWaveSquare),
              kErrorHardwareMissing);
    EXPECT_FALSE(lost.instrument.outputOn);
  }
  Bench silent;
  silent.generator.outcome = kWaitTimedOut;
  EXPECT_EQ(SetInstrumentOutput(&silent.instrument, silent.link, true), kErrorHardware);
  EXPECT_FALSE(silent.instrument.outputOn);
  EXPECT_EQ(silent.instrument.errorCount, 0);

  Bench bench;
  NoteGeneratorReport(&bench.instrument, kReportRunning);
  EXPECT_TRUE(bench.instrument.outputOn);
  NoteGeneratorReport(&bench.instrument, kReportNone);
  EXPECT_TRUE(bench.instrument.outputOn);
  NoteGeneratorReport(&bench.instrument, kReportStopped);
  EXPECT_FALSE(bench.instrument.outputOn);
  NoteGeneratorReport(&bench.instrument, kReportRunning);
  NoteGeneratorGone(&bench.instrument);
  EXPECT_FALSE(bench.instrument.outputOn);
  EXPECT_EQ(TakeInstrumentError(&bench.instrument), kErrorHardwareMissing);
  EXPECT_EQ(TakeInstrumentError(&bench.instrument), kErrorNone);
}

// A reset goes back to the jumper the instrument started with and keeps the user table; the
// identity's serial number cannot split *IDN?'s fields, and no serial number is 0.
TEST(InstrumentState, AResetAndTheIdentity) {
  Bench bench(2);
  for (const Verb &verb : {Table(5), Jumper(0), Value(kFieldFrequency, 50), Function(kFunctionUser),
                           Spw(4), Output(true)}) {
    EXPECT_EQ(verb(&bench.instrument, bench.link), 0);
  }
  EXPECT_EQ(State(bench.instrument), "USER 50Hz 24 on");
  EXPECT_EQ(ResetInstrumentSettings(&bench.instrument, bench.link), 0);
  EXPECT_EQ(State(bench.instrument), "J3");
  EXPECT_EQ(ChooseInstrumentFunction(&bench.instrument, bench.link, kFunctionUser), 0);

  EXPECT_STREQ(bench.instrument.szIdentity, "VARNOLT,DDS generator,SN0001,1.2.3");
  ResetInstrument(&bench.instrument, 0, "A,B;C\"D", "1");
  EXPECT_STREQ(bench.instrument.szIdentity, "VARNOLT,DDS generator,A_B_C_D,1");
  ResetInstrument(&bench.instrument, 0, "", "1");
  EXPECT_STREQ(bench.instrument.szIdentity, "VARNOLT,DDS generator,0,1");
}

}  // namespace

// The user waveform as a shape: the table a start sends is the shape scaled by the amplitude code
// in use, made again after each change of it (while the output runs and for the next start); a
// raw table loaded after it replaces it, and a shape after a table replaces that.
TEST(InstrumentShape, FollowsTheAmplitudeAndGivesWayToATable) {
  double aShape[kWaveTableSamples];
  for (int32_t i = 0; i < kWaveTableSamples; i++) aShape[i] = i < 90 ? 1.0 - i / 45.0 : -0.25;
  uint16_t aRaw[kWaveTableSamples];
  std::fill(std::begin(aRaw), std::end(aRaw), 1234);
  Bench bench;
  Instrument *instrument = &bench.instrument;
  // The blocks of the last start, and the table they should carry: the shape scaled by the code
  // in use, or the raw table.
  auto table = [&](bool shape, uint16_t aTable[kWaveTableSamples]) {
    if (shape) {
      ScaleShape(aShape, instrument->settings.amplitudeCode, aTable);
    } else {
      std::copy(std::begin(aRaw), std::end(aRaw), aTable);
    }
  };
  auto sent = [&](bool shape) {
    uint16_t aTable[kWaveTableSamples];
    table(shape, aTable);
    const WriteSequence expected = StartSequence(instrument->settings, aTable);
    return std::memcmp(bench.generator.lastStart.aWrites, expected.aWrites,
                       sizeof(PortWrite) * kTableBlocks) == 0;
  };
  // (the verb, whether the shape is the user waveform after it, whether it changes the amplitude)
  const std::vector<std::tuple<Verb, bool, bool>> steps = {
      {Output(true), true, false},
      {Value(kFieldAmplitude, 1.0), true, true},
      {Output(false), true, false},
      {Step(kFieldAmplitude, false, true), true, true},
      {Output(true), true, false},
      {[&](Instrument *i, const InstrumentGenerator &g) { return LoadInstrumentTable(i, g, aRaw); },
       false, false},
      {Value(kFieldAmplitude, 2.0), false, true},
      {[&](Instrument *i, const InstrumentGenerator &g) {
         return LoadInstrumentShape(i, g, aShape);
       },
       true, false},
      {Output(false), true, false},
      {Apply(kFunctionUser, NAN, 0.5, NAN), true, true},
  };
  ASSERT_EQ(LoadInstrumentShape(instrument, bench.link, aShape), 0);
  ASSERT_EQ(ChooseInstrumentFunction(instrument, bench.link, kFunctionUser), 0);
  int32_t previousCode = instrument->settings.amplitudeCode;
  for (size_t i = 0; i < steps.size(); i++) {
    const auto &[verb, shape, changes] = steps[i];
    bench.generator.lastStart = {};
    EXPECT_EQ(verb(instrument, bench.link), 0) << "step " << i;
    EXPECT_EQ(instrument->settings.amplitudeCode != previousCode, changes) << "step " << i;
    previousCode = instrument->settings.amplitudeCode;
    EXPECT_TRUE(!instrument->outputOn || sent(shape)) << "step " << i;
    // The table the preview draws is the one the next start sends, also while stopped.
    uint16_t aTable[kWaveTableSamples];
    table(shape, aTable);
    EXPECT_EQ(std::memcmp(instrument->aUserTable, aTable, sizeof(aTable)), 0) << "step " << i;
  }
  // A sample outside -1..+1 is refused and changes nothing.
  for (double bad : {1.5, -1.0001, static_cast<double>(NAN)}) {
    double aBad[kWaveTableSamples];
    std::fill(std::begin(aBad), std::end(aBad), 0.0);
    aBad[200] = bad;
    const std::string log = bench.generator.log;
    EXPECT_EQ(LoadInstrumentShape(instrument, bench.link, aBad), kErrorDataOutOfRange) << bad;
    EXPECT_EQ(instrument->aUserShape[200], aShape[200]);
    EXPECT_EQ(bench.generator.log, log);
  }
}
