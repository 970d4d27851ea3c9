// The instrument without a port, a socket or a command line: its verbs in, its state, their
// results and the generator's writes out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "instrument/instrument.h"
#include "signal/nearest_code.h"
#include "tests/instrument/fake_generator.h"

namespace {

struct Bench {
  Instrument instrument;
  FakeGenerator generator;
  InstrumentGenerator link = FakeInstrumentGenerator(&generator);

  explicit Bench(int32_t jumper = 0) { ResetInstrument(&instrument, jumper, "SN0001", "1.2.3"); }
};

using Verb = std::function<int32_t(Instrument *, const InstrumentGenerator &)>;

Verb Value(InstrumentField field, double value) {
  return [=](Instrument *i, const InstrumentGenerator &g) {
    return SetInstrumentValue(i, g, field, value);
  };
}
Verb Wave(int32_t wave) {
  return
      [=](Instrument *i, const InstrumentGenerator &g) { return ChooseInstrumentWave(i, g, wave); };
}
Verb Function(int32_t function) {
  return [=](Instrument *i, const InstrumentGenerator &g) {
    return ChooseInstrumentFunction(i, g, function);
  };
}
Verb Symmetry(int32_t symmetry) {
  return [=](Instrument *i, const InstrumentGenerator &g) {
    return SetInstrumentRampSymmetry(i, g, symmetry);
  };
}
Verb Spw(int32_t mode) {
  return
      [=](Instrument *i, const InstrumentGenerator &g) { return ChooseInstrumentSpw(i, g, mode); };
}
Verb SpwAuto() {
  return [](Instrument *i, const InstrumentGenerator &g) { return ChooseInstrumentSpwAuto(i, g); };
}
Verb Duty(int32_t duty) {
  return [=](Instrument *i, const InstrumentGenerator &g) { return SetInstrumentDuty(i, g, duty); };
}
Verb Jumper(int32_t jumper) {
  return [=](Instrument *i, const InstrumentGenerator &g) {
    return SetInstrumentJumper(i, g, jumper);
  };
}
Verb Output(bool on) {
  return [=](Instrument *i, const InstrumentGenerator &g) { return SetInstrumentOutput(i, g, on); };
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
    InstrumentValues values = {};
    const double aGiven[kFields] = {hertz, offset, vpp};
    for (int32_t field = 0; field < kFields; field++) {
      values.aGiven[field] = !std::isnan(aGiven[field]);
      values.aValues[field] = aGiven[field];
    }
    return ApplyInstrumentFunction(i, g, function, values);
  };
}

// The state as one text: the function, the frequency in hertz and its mode ("a": chosen by the
// frequency), the amplitude and offset codes, the duty, the jumper, the ramp's symmetry, the
// output.
std::string State(const Instrument &instrument) {
  static const char *const kNames[] = {"SIN", "SQU", "TRI", "SAW", "NSAW", "NOIS", "DC"};
  const GeneratorSettings &settings = instrument.settings;
  char szState[160];
  snprintf(szState, std::size(szState), "%s %.6gHz/%d%s %d %d %d%% J%d r%d %s",
           instrument.user ? "USER" : kNames[settings.waveformIndex],
           FrequencyFromCode(settings.frequencyCode, settings.spwIndex),
           static_cast<int>(kSamplesPerWave[settings.spwIndex]), instrument.spwAuto ? "a" : "",
           settings.amplitudeCode, settings.offsetCode, settings.dutyPercent,
           static_cast<int>(settings.jumperIndex + 1), static_cast<int>(instrument.rampSymmetry),
           instrument.outputOn ? "on" : "off");
  return szState;
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
      {{}, "", "SIN 1000Hz/360a 32767 31 50% J1 r100 off"},
      // the ramp family: "ramp" is the member of the symmetry in use, which a triangle or a
      // reversed saw sets, and which a ramp in use follows
      {{Function(kWaveSaw)}, "0", "SAW 1000Hz/360a 32767 31 50% J1 r100 off"},
      {{Function(kWaveSaw), Symmetry(0)}, "0,0", "NSAW 1000Hz/360a 32767 31 50% J1 r0 off"},
      {{Function(kWaveSaw), Symmetry(50)}, "0,0", "TRI 1000Hz/360a 32767 31 50% J1 r50 off"},
      {{Function(kWaveTriangle), Function(kWaveSaw)},
       "0,0",
       "TRI 1000Hz/360a 32767 31 50% J1 r50 off"},
      {{Function(kWaveReversedSaw), Function(kWaveSaw)},
       "0,0",
       "NSAW 1000Hz/360a 32767 31 50% J1 r0 off"},
      {{Symmetry(0)}, "0", "SIN 1000Hz/360a 32767 31 50% J1 r0 off"},
      {{Symmetry(0), Function(kWaveSaw)}, "0,0", "NSAW 1000Hz/360a 32767 31 50% J1 r0 off"},
      {{Symmetry(25)}, "-222", "SIN 1000Hz/360a 32767 31 50% J1 r100 off"},
      // the waveform list's entry is itself, whatever the symmetry, which follows it
      {{Symmetry(0), Wave(kWaveSaw)}, "0,0", "SAW 1000Hz/360a 32767 31 50% J1 r100 off"},
      {{Wave(kWaveReversedSaw)}, "0", "NSAW 1000Hz/360a 32767 31 50% J1 r0 off"},
      {{Wave(kWaveTriangle)}, "0", "TRI 1000Hz/360a 32767 31 50% J1 r50 off"},
      {{Wave(kWaveZero), Wave(-1), Wave(kFunctions), Function(kFunctions)},
       "0,-224,-224,-224",
       "DC 1000Hz/360a 32767 31 50% J1 r100 off"},
      // the user table only once one is loaded
      {{Function(kFunctionUser), Wave(kFunctionUser), Apply(kFunctionUser, NAN, NAN, NAN)},
       "-221,-221,-221",
       "SIN 1000Hz/360a 32767 31 50% J1 r100 off"},
      {{Table(1), Function(kFunctionUser)}, "0,0", "USER 1000Hz/360a 32767 31 50% J1 r100 off"},
      // the frequency chooses the mode, or keeps to a fixed one; a mode keeps the frequency last
      // asked for, and one that cannot reach it changes nothing
      {{Value(kFieldFrequency, 20000)}, "0", "SIN 20000Hz/180a 32767 31 50% J1 r100 off"},
      {{Value(kFieldFrequency, 20000), Spw(0)},
       "0,-222",
       "SIN 20000Hz/180a 32767 31 50% J1 r100 off"},
      {{Spw(4), Value(kFieldFrequency, 2)}, "0,-222", "SIN 1000Hz/24 32767 31 50% J1 r100 off"},
      {{Spw(4), SpwAuto(), Value(kFieldFrequency, 2)},
       "0,0,0",
       "SIN 2Hz/360a 32767 31 50% J1 r100 off"},
      {{Value(kFieldFrequency, 20000), Spw(4), SpwAuto()},
       "0,0,0",
       "SIN 20000Hz/180a 32767 31 50% J1 r100 off"},
      {{Spw(-1), Spw(kSpwModes)}, "-222,-222", "SIN 1000Hz/360a 32767 31 50% J1 r100 off"},
      // the jumper keeps the codes: the volts, and so the range, change with it
      {{Jumper(3), Value(kFieldAmplitude, 6), Jumper(4)},
       "0,-222,-224",
       "SIN 1000Hz/360a 32767 31 50% J4 r100 off"},
      {{Value(kFieldAmplitude, 7), Value(kFieldOffset, -3.5)},
       "-222,-222",
       "SIN 1000Hz/360a 32767 31 50% J1 r100 off"},
      {{Duty(0), Duty(101), Duty(-1)}, "0,-222,-222", "SIN 1000Hz/360a 32767 31 0% J1 r100 off"},
  });
}

// The packets: frequency code, amplitude code, offset code, duty, mode, jumper.
TEST(InstrumentVerbs, WhatReachesTheGenerator) {
  const char *const kStart = "start:00647fff1f320000 wait:55 ";
  const std::string kStartStop = kStart + std::string("stop wait:aa ");
  RunCases({
      {{Output(false), Output(true), Output(true)},
       "0,0,0",
       "SIN 1000Hz/360a 32767 31 50% J1 r100 on",
       kStart},
      {{Output(true), Output(false)},
       "0,0",
       "SIN 1000Hz/360a 32767 31 50% J1 r100 off",
       kStartStop},
      // a change while on: the stop, then the start with it; one that changes nothing sends
      // nothing
      {{Output(true), Jumper(2)},
       "0,0",
       "SIN 1000Hz/360a 32767 31 50% J3 r100 on",
       (kStartStop + "start:00647fff1f320002 wait:55 ")},
      {{Output(true), Duty(10)},
       "0,0",
       "SIN 1000Hz/360a 32767 31 10% J1 r100 on",
       (kStartStop + "start:00647fff1f0a0000 wait:55 ")},
      {{Output(true), Value(kFieldFrequency, 1000), Duty(50), Symmetry(0)},
       "0,0,0,0",
       "SIN 1000Hz/360a 32767 31 50% J1 r0 on",
       kStart},
      {{Output(true), Reset()}, "0,0", "SIN 1000Hz/360a 32767 31 50% J1 r100 off", kStartStop},
      // the same table again sends nothing, another one goes out at once
      {{Table(7), Function(kFunctionUser), Output(true), Table(7), Table(8)},
       "0,0,0,0,0",
       "USER 1000Hz/360a 32767 31 50% J1 r100 on",
       (kStartStop + "start:00647fff1f320000 wait:55 ")},
      // a function with its values: all in one start, the values not given kept; a DC level
      // takes only its offset
      {{Apply(kWaveSquare, 2000, 1, -0.5)},
       "0",
       "SQU 2000Hz/360a 4965 26 50% J1 r100 on",
       "start:003213651a320000 wait:55 "},
      {{Value(kFieldAmplitude, 1), Apply(kWaveSine, NAN, NAN, NAN)},
       "0,0",
       "SIN 1000Hz/360a 4965 31 50% J1 r100 on",
       "start:006413651f320000 wait:55 "},
      {{Apply(kWaveZero, 9e9, -5, 1)},
       "0",
       "DC 1000Hz/360a 32767 41 50% J1 r100 on",
       "start:00647fff29320000 wait:55 "},
      {{Apply(kWaveReversedSaw, 2000, 1, 0)},
       "0",
       "NSAW 2000Hz/360a 4965 31 50% J1 r0 on",
       "start:003213651f320000 wait:55 "},
      {{Apply(kWaveSine, 1000, NAN, NAN), Apply(kWaveSine, 1000, NAN, NAN),
        Apply(kWaveSine, 2000, NAN, NAN)},
       "0,0,0",
       "SIN 2000Hz/360a 32767 31 50% J1 r100 on",
       (kStartStop + "start:00327fff1f320000 wait:55 ")},
      // all values are checked before anything changes or is sent
      {{Apply(kWaveSquare, 1000, 1, 9)}, "-222", "SIN 1000Hz/360a 32767 31 50% J1 r100 off"},
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
  EXPECT_EQ(State(bench.instrument), "USER 50Hz/24 32767 31 50% J1 r100 on");
  EXPECT_EQ(ResetInstrumentSettings(&bench.instrument, bench.link), 0);
  EXPECT_EQ(State(bench.instrument), "SIN 1000Hz/360a 32767 31 50% J3 r100 off");
  EXPECT_EQ(ChooseInstrumentFunction(&bench.instrument, bench.link, kFunctionUser), 0);

  EXPECT_STREQ(bench.instrument.szIdentity, "VARNOLT,DDS generator,SN0001,1.2.3");
  ResetInstrument(&bench.instrument, 0, "A,B;C\"D", "1");
  EXPECT_STREQ(bench.instrument.szIdentity, "VARNOLT,DDS generator,A_B_C_D,1");
  ResetInstrument(&bench.instrument, 0, "", "1");
  EXPECT_STREQ(bench.instrument.szIdentity, "VARNOLT,DDS generator,0,1");
}

// The steppers' code rules are the signal model's; here: each field steps, a running output takes
// the new code at once, and a later change of mode keeps the frequency stepped to.
TEST(InstrumentSteps, StepsChangeTheirFieldAndRestartARunningOutput) {
  Bench bench;
  Instrument *instrument = &bench.instrument;
  EXPECT_EQ(StepInstrumentField(instrument, bench.link, kFieldFrequency, true, false), 0);
  EXPECT_EQ(instrument->settings.frequencyCode, 99);
  EXPECT_EQ(StepInstrumentField(instrument, bench.link, kFieldOffset, false, false), 0);
  EXPECT_EQ(instrument->settings.offsetCode, 30);
  EXPECT_EQ(StepInstrumentField(instrument, bench.link, kFieldAmplitude, false, true), 0);
  EXPECT_LT(instrument->settings.amplitudeCode, 32767);
  EXPECT_EQ(bench.generator.log, "");
  EXPECT_EQ(SetInstrumentOutput(instrument, bench.link, true), 0);
  bench.generator.log.clear();
  EXPECT_EQ(StepInstrumentField(instrument, bench.link, kFieldFrequency, false, true), 0);
  EXPECT_EQ(bench.generator.log.substr(0, 13), "stop wait:aa ");
  const double stepped = FrequencyFromCode(instrument->settings.frequencyCode, 0);
  EXPECT_EQ(ChooseInstrumentSpw(instrument, bench.link, 1), 0);
  EXPECT_DOUBLE_EQ(FrequencyFromCode(instrument->settings.frequencyCode, 1), stepped);
  EXPECT_EQ(instrument->errorCount, 0);
}

// A coarse step moves a field further than a fine one, in the same direction. Near an end of the
// range, where a step is clamped: a coarse step that would pass the end stops at it, still further
// than the fine one; where the fine step reaches the end too, both end there ("as far"); at the
// end itself neither moves. The highest frequencies' coarse step is one code, as far as the fine
// one.
TEST(InstrumentSteps, ACoarseStepGoesFurtherThanAFineOne) {
  enum Reach { kFurther, kAsFar, kNeither };
  const struct {
    InstrumentField field;
    bool up;
    uint16_t code;
    Reach reach;
  } kCases[] = {
      {kFieldFrequency, true, 100, kFurther},    {kFieldFrequency, true, 5000, kFurther},
      {kFieldFrequency, true, 22, kFurther},     {kFieldFrequency, true, 15, kAsFar},
      {kFieldFrequency, true, 8, kAsFar},        {kFieldFrequency, true, 7, kNeither},
      {kFieldFrequency, false, 100, kFurther},   {kFieldFrequency, false, 5000, kFurther},
      {kFieldFrequency, false, 65000, kFurther}, {kFieldFrequency, false, 65534, kAsFar},
      {kFieldFrequency, false, 65535, kNeither}, {kFieldAmplitude, true, 10000, kFurther},
      {kFieldAmplitude, true, 32000, kFurther},  {kFieldAmplitude, true, 32700, kAsFar},
      {kFieldAmplitude, true, 32767, kNeither},  {kFieldAmplitude, false, 10000, kFurther},
      {kFieldAmplitude, false, 1000, kFurther},  {kFieldAmplitude, false, 300, kAsFar},
      {kFieldAmplitude, false, 255, kNeither},
  };
  // The field's value in hertz or volts peak to peak after one step from the case's code.
  auto stepped = [](const auto &c, bool step, bool coarse) {
    Bench bench;
    GeneratorSettings &settings = bench.instrument.settings;
    (c.field == kFieldFrequency ? settings.frequencyCode : settings.amplitudeCode) = c.code;
    if (step) {
      EXPECT_EQ(StepInstrumentField(&bench.instrument, bench.link, c.field, c.up, coarse), 0);
    }
    return c.field == kFieldFrequency ? FrequencyFromCode(settings.frequencyCode, 0)
                                      : AmplitudeFromCode(settings.amplitudeCode, 0);
  };
  for (const auto &c : kCases) {
    const double before = stepped(c, false, false);
    const double fine = stepped(c, true, false);
    const double coarse = stepped(c, true, true);
    const std::string where = (c.field == kFieldFrequency ? "frequency " : "amplitude ") +
                              std::string(c.up ? "up from " : "down from ") +
                              std::to_string(c.code);
    // Up is a higher frequency (a lower code) and a larger amplitude.
    EXPECT_TRUE(c.up ? fine >= before && coarse >= before : fine <= before && coarse <= before)
        << where;
    switch (c.reach) {
      case kFurther:
        EXPECT_NE(fine, before) << where;
        EXPECT_GT(std::fabs(coarse - before), std::fabs(fine - before)) << where;
        break;
      case kAsFar:
        EXPECT_NE(fine, before) << where;
        EXPECT_EQ(coarse, fine) << where;
        break;
      case kNeither:
        EXPECT_EQ(fine, before) << where;
        EXPECT_EQ(coarse, before) << where;
        break;
    }
  }
}

}  // namespace
