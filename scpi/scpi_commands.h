#pragma once
// The instrument that `varnoltctl serve` plays: its state, one table of SCPI headers with their
// handlers, and the run of one command line. Nothing here touches a port or a socket: the
// generator is reached through ScpiGeneratorActions, so every command runs the same in a test.
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/report_wait.h"
#include "link/start_writes.h"
#include "link/wire_format.h"
#include "signal/settings.h"

enum : int32_t {
  kScpiErrorQueueSize = 16,
  kScpiReportWaitMs = 2000,  // a start or a stop without its report by then: -240
  kScpiIdentitySize = 160,
};

// How the commands reach the generator. context is the caller's.
struct ScpiGeneratorActions {
  void *context;
  // Makes sure the port is open, opening it again (the search of a start) when it was lost.
  bool (*ensureOpen)(void *context);
  // Writes the whole sequence; false when the device went away (the port is closed then).
  bool (*write)(void *context, const WriteSequence &sequence);
  // Waits for a read that returns reportByte alone (report_wait.h's rule).
  WaitOutcome (*waitReport)(void *context, uint8_t reportByte, int32_t timeoutMs);
};

struct ScpiInstrument {
  GeneratorSettings settings;  // the codes the generator gets
  bool user;                   // FUNC USER: the user table instead of settings.waveformIndex's
  bool spwAuto;                // FREQ chooses the samples-per-wave mode
  int32_t rampSymmetry;        // 0, 50 or 100: which member of the ramp family FUNC RAMP means
  double askedHz;              // the frequency last asked for, kept across mode changes
  int32_t resetJumper;         // the jumper that *RST goes back to (--jumper)
  bool userTableLoaded;
  uint16_t aUserTable[kWaveTableSamples];
  bool outputOn;  // from the generator's last report
  int32_t aErrors[kScpiErrorQueueSize];
  int32_t errorCount;
  uint8_t eventStatus;                 // *ESR
  uint8_t eventEnable;                 // *ESE
  uint8_t serviceEnable;               // *SRE
  char szIdentity[kScpiIdentitySize];  // *IDN?'s answer
};

// The state at power-on: the panel's defaults with this jumper, output off, no user table, the
// error queue empty, the power-on bit of *ESR set. serial is the generator's USB serial number
// (empty: unknown, "0" is answered); version is the program's.
void ResetScpiInstrument(ScpiInstrument *instrument, int32_t jumperIndex, const char *szSerial,
                         const char *szVersion);

// Runs one line (without its LF): its program units in order until the end or a command error
// (-100 to -199), which drops the rest of the line. Errors go to the queue; the answers of the
// queries are appended to *pAnswer joined by ';' (nothing when the line asked nothing).
void RunScpiLine(ScpiInstrument *instrument, const ScpiGeneratorActions &actions, const char *pLine,
                 size_t dwLength, std::string *pAnswer);

// Queues an error and sets its bit in *ESR; a full queue's newest entry becomes -350.
void QueueScpiError(ScpiInstrument *instrument, int32_t code);

// A lone report byte read while no command waited for one.
void NoteGeneratorReport(ScpiInstrument *instrument, ReceivedReport report);

// The generator went away while nothing was sent: -241 once, the output off.
void NoteGeneratorGone(ScpiInstrument *instrument);

// The panel's actions (the web page's): the rules of the commands, without a command line. Each
// returns 0 or the error that the matching command would queue, and queues nothing itself.
enum PanelField : int32_t { kPanelFrequency = 0, kPanelOffset = 1, kPanelAmplitude = 2 };

// A +/- button: the code rules of the panel's steppers (coarse only for frequency and amplitude).
int32_t StepPanelField(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                       PanelField field, bool up, bool coarse);
// A typed value in hertz, volts or volts peak to peak: FREQ's, VOLT:OFFS's or VOLT's range and
// nearest code.
int32_t SetPanelValue(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                      PanelField field, double value);
// A waveform list entry, 0..6, or 7 for the user table once loaded.
int32_t ChoosePanelWave(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                        int32_t wave);
// A samples-per-wave list entry: fixes that mode, as FREQ:SPW does.
int32_t ChoosePanelSpw(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                       int32_t mode);
int32_t SetPanelDuty(ScpiInstrument *instrument, const ScpiGeneratorActions &actions, int32_t duty);
int32_t SetPanelJumper(ScpiInstrument *instrument, const ScpiGeneratorActions &actions,
                       int32_t jumper);
// START while the output is off, STOP while it is on.
int32_t PressPanelRun(ScpiInstrument *instrument, const ScpiGeneratorActions &actions);

// SCPI's text of an error number ("Undefined header"); "Unknown error" for one not used here.
const char *ScpiErrorText(int32_t code);
