#pragma once
// The generator as an instrument: its state (the settings, the output, the user waveform, the error
// queue, the status bytes), its rules (ranges, nearest codes, steppers, the samples-per-wave mode,
// a change applied at once while the output is on) and its verbs, which every front end on the
// network calls: the SCPI commands and the web panel's actions. Nothing here touches a port or a
// socket: the generator is reached through InstrumentGenerator, so every verb runs the same in a
// test.
//
// Each verb returns 0 or the error number the matching SCPI command gives, and queues nothing: the
// SCPI command table queues it, the web panel answers it to its page. Only what no caller waits
// for (a generator gone while nothing was sent) is queued here.
#include <cstddef>
#include <cstdint>

#include "instrument/instrument_errors.h"
#include "link/report_wait.h"
#include "link/start_writes.h"
#include "link/wire_format.h"
#include "signal/settings.h"

enum : int32_t {
  kInstrumentErrorQueueSize = 16,
  kInstrumentReportWaitMs = 2000,  // a start or a stop without its report by then: -240
  kInstrumentIdentitySize = 160,
  kInstrumentMaxPoints = 65536,  // the values of one period a client may send
};

// The bits of the standard event status register (*ESR).
enum : uint8_t {
  kEventOperationComplete = 0x01,
  kEventQueryError = 0x04,
  kEventDeviceError = 0x08,
  kEventExecutionError = 0x10,
  kEventCommandError = 0x20,
  kEventPowerOn = 0x80,
};

// The waveform list's positions, and the user waveform after them.
enum InstrumentFunction : int32_t {
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

// The fields set in hertz, volts and volts peak to peak.
enum InstrumentField : int32_t {
  kFieldFrequency = 0,
  kFieldOffset = 1,
  kFieldAmplitude = 2,
  kFields = 3,
};

// How the instrument reaches the generator. context is the caller's.
struct InstrumentGenerator {
  void *context;
  // Makes sure the port is open, opening it again (the search of a start) when it was lost.
  bool (*ensureOpen)(void *context);
  // Writes the whole sequence; false when the device went away (the port is closed then).
  bool (*write)(void *context, const WriteSequence &sequence);
  // Waits for a read that returns reportByte alone (report_wait.h's rule).
  WaitOutcome (*waitReport)(void *context, uint8_t reportByte, int32_t timeoutMs);
};

struct Instrument {
  GeneratorSettings settings;  // the codes the generator gets
  bool user;                   // the user waveform instead of settings.waveformIndex's
  bool spwAuto;                // a frequency chooses the samples-per-wave mode
  int32_t rampSymmetry;        // 0, 50 or 100: which member of the ramp family "ramp" means
  double askedHz;              // the frequency last asked for, kept across mode changes
  int32_t resetJumper;         // the jumper that a reset goes back to (--jumper)
  // The user waveform: the last one loaded, a raw table or a shape. Its table is what the
  // generator gets; a shape's is made again from the shape whenever the amplitude changes.
  bool userTableLoaded;
  uint16_t aUserTable[kWaveTableSamples];
  bool userShape;                        // aUserShape is the user waveform
  double aUserShape[kWaveTableSamples];  // -1..+1
  int32_t userPoints;                    // the values the user waveform was given as; 0: none
  bool outputOn;                         // from the generator's last report
  int32_t aErrors[kInstrumentErrorQueueSize];
  int32_t errorCount;
  uint8_t eventStatus;                       // *ESR
  uint8_t eventEnable;                       // *ESE
  uint8_t serviceEnable;                     // *SRE
  char szIdentity[kInstrumentIdentitySize];  // *IDN?'s answer
};

// The state at power-on: the panel's defaults with this jumper, output off, no user table, the
// error queue empty, the power-on bit of *ESR set. serial is the generator's USB serial number
// (empty: unknown, "0" is answered); version is the program's.
void ResetInstrument(Instrument *instrument, int32_t jumperIndex, const char *szSerial,
                     const char *szVersion);

// Queues an error and sets its class's bit in *ESR; a full queue's newest entry becomes -350.
void QueueInstrumentError(Instrument *instrument, int32_t code);
// The oldest error, taken off the queue; 0 when it is empty.
int32_t TakeInstrumentError(Instrument *instrument);

// A lone report byte read while no verb waited for one.
void NoteGeneratorReport(Instrument *instrument, ReceivedReport report);
// The generator went away while nothing was sent: -241 queued once, the output off.
void NoteGeneratorGone(Instrument *instrument);

// The values a field may be set to, under the mode and the jumper in use (every mode's
// frequencies while the mode is chosen by the frequency).
void InstrumentFieldRange(const Instrument &instrument, InstrumentField field, double *pLowest,
                          double *pHighest);
// A field's value at power-on (the amplitude's is the highest of the jumper in use).
double InstrumentFieldDefault(const Instrument &instrument, InstrumentField field);
// 0, or -221 for the user table before one is loaded (-224 for no function at all).
int32_t CheckInstrumentFunction(const Instrument &instrument, int32_t function);

// ---- The verbs ----

// A value in hertz, volts or volts peak to peak: its range (-222), then its nearest code.
int32_t SetInstrumentValue(Instrument *instrument, const InstrumentGenerator &generator,
                           InstrumentField field, double value);
// A +/- button: the code rules of the panel's steppers (coarse only for frequency and amplitude).
int32_t StepInstrumentField(Instrument *instrument, const InstrumentGenerator &generator,
                            InstrumentField field, bool up, bool coarse);
// A waveform list entry, 0..6, or 7 for the user table once loaded; the ramp's symmetry follows.
int32_t ChooseInstrumentWave(Instrument *instrument, const InstrumentGenerator &generator,
                             int32_t wave);
// A function, where kWaveSaw is the ramp of the symmetry in use; a triangle or a reversed saw sets
// the symmetry.
int32_t ChooseInstrumentFunction(Instrument *instrument, const InstrumentGenerator &generator,
                                 int32_t function);
// 0, 50 or 100 (else -222): the ramp in use, if one is, becomes that member of the family.
int32_t SetInstrumentRampSymmetry(Instrument *instrument, const InstrumentGenerator &generator,
                                  int32_t symmetry);
// A samples-per-wave mode, fixed: the frequency last asked for, which must lie within the mode's
// range (else -222), goes to its nearest code there.
int32_t ChooseInstrumentSpw(Instrument *instrument, const InstrumentGenerator &generator,
                            int32_t mode);
// The frequency chooses the mode again, from the frequency last asked for.
int32_t ChooseInstrumentSpwAuto(Instrument *instrument, const InstrumentGenerator &generator);
int32_t SetInstrumentDuty(Instrument *instrument, const InstrumentGenerator &generator,
                          int32_t duty);
// The codes stay: the volts they give change with the jumper.
int32_t SetInstrumentJumper(Instrument *instrument, const InstrumentGenerator &generator,
                            int32_t jumper);
// Starts or stops the output; nothing is sent when it already is so.
int32_t SetInstrumentOutput(Instrument *instrument, const InstrumentGenerator &generator, bool on);
// START while the output is off, STOP while it is on.
int32_t ToggleInstrumentOutput(Instrument *instrument, const InstrumentGenerator &generator);
// The power-on settings with the reset jumper, the output stopped; the user table stays.
int32_t ResetInstrumentSettings(Instrument *instrument, const InstrumentGenerator &generator);
// A table of 360 samples for the user function, replacing a shape; the output takes it at once
// while it plays it.
int32_t LoadInstrumentTable(Instrument *instrument, const InstrumentGenerator &generator,
                            const uint16_t aSamples[kWaveTableSamples]);
// Loads a shape (normalised samples, -1..+1) as the user waveform, replacing a raw table; it is
// scaled by the amplitude code at every change. 0 or the error the matching command would give
// (-222 for a sample outside -1..+1, nothing changed then).
int32_t LoadInstrumentShape(Instrument *instrument, const InstrumentGenerator &generator,
                            const double aSamples[kWaveTableSamples]);

// One period of count values (1..kInstrumentMaxPoints, else -223; each -1..+1, else -222) as
// the user waveform, replacing a table or a shape: resampled to 360 as a shape is, but not
// normalised, since the values already say how far the output swings; scaled by the amplitude code
// at every change. Nothing changes on an error.
int32_t LoadInstrumentPoints(Instrument *instrument, const InstrumentGenerator &generator,
                             const double *pValues, int32_t count);

// The values that come with a function, each in its field's range; the rest keep theirs.
struct InstrumentValues {
  bool aGiven[kFields];
  double aValues[kFields];
};
// A function and its values at once, all checked before anything changes, then the output
// started (or changed while it is on). A DC level takes only its offset.
int32_t ApplyInstrumentFunction(Instrument *instrument, const InstrumentGenerator &generator,
                                int32_t function, const InstrumentValues &values);
