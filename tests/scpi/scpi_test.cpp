// The SCPI instrument of `varnoltctl serve` without a port or a socket: command lines in, answers,
// errors and the generator's writes out; the line reader; NR3.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "scpi/scpi_commands.h"
#include "scpi/scpi_line_reader.h"
#include "scpi/scpi_parser.h"

namespace {

// The generator as the commands see it: what write and waitReport answer (ensureOpen finds it
// there; one that is not: the PyVISA test), and a log of the writes ("start:<settings packet>" or
// "stop") and waits ("wait:55").
struct FakeGenerator {
  bool writesFail = false;
  WaitOutcome outcome = kWaitReport;
  std::string log;
};

bool FakeEnsureOpen(void *) {
  return true;
}

bool FakeWrite(void *context, const WriteSequence &sequence) {
  FakeGenerator *generator = static_cast<FakeGenerator *>(context);
  if (generator->writesFail) return false;
  if (sequence.count == 1) {
    generator->log += "stop ";
    return true;
  }
  char szHex[kWriteHexSize];
  WriteHexText(sequence.aWrites[kTableBlocks], szHex, std::size(szHex));
  std::string packet = szHex;
  packet.erase(std::remove(packet.begin(), packet.end(), ' '), packet.end());
  generator->log += "start:" + packet + " ";
  return true;
}

WaitOutcome FakeWait(void *context, uint8_t reportByte, int32_t timeoutMs) {
  FakeGenerator *generator = static_cast<FakeGenerator *>(context);
  char szByte[16];
  snprintf(szByte, std::size(szByte), "wait:%02x ", reportByte);
  generator->log += szByte;
  EXPECT_EQ(timeoutMs, 2000);
  return generator->outcome;
}

struct Bench {
  Instrument instrument;
  FakeGenerator generator;
  InstrumentGenerator actions = {&generator, FakeEnsureOpen, FakeWrite, FakeWait};

  Bench() { ResetInstrument(&instrument, 0, "SN0001", "1.2.3"); }

  // Runs the lines (separated by '\n'); the answers of those that answered, joined by '|'.
  std::string Run(const std::string &lines) {
    std::string answers;
    size_t start = 0;
    while (start <= lines.size()) {
      size_t end = lines.find('\n', start);
      if (end == std::string::npos) end = lines.size();
      std::string answer = RunLine(lines.substr(start, end - start));
      if (!answer.empty()) answers += (answers.empty() ? "" : "|") + answer;
      start = end + 1;
    }
    return answers;
  }

  // One line as it is, LF included (a block may hold one).
  std::string RunLine(const std::string &line) {
    std::string answer;
    RunScpiLine(&instrument, actions, line.data(), line.size(), &answer);
    return answer;
  }

  // The queued error numbers, oldest first, emptying the queue.
  std::string Errors() {
    std::string codes;
    for (int32_t i = 0; i < instrument.errorCount; i++) {
      codes += (i > 0 ? "," : "") + std::to_string(instrument.aErrors[i]);
    }
    instrument.errorCount = 0;
    return codes;
  }
};

struct LineCase {
  const char *szLines;
  const char *szAnswers;
  const char *szErrors;
  const char *szLog = "";  // the generator's: nothing sent unless a case says so
};

void RunCases(const LineCase *pCases, size_t count) {
  for (size_t i = 0; i < count; i++) {
    Bench bench;
    EXPECT_EQ(bench.Run(pCases[i].szLines), pCases[i].szAnswers) << pCases[i].szLines;
    EXPECT_EQ(bench.Errors(), pCases[i].szErrors) << pCases[i].szLines;
    EXPECT_EQ(bench.generator.log, pCases[i].szLog) << pCases[i].szLines;
  }
}

// One line for each error class, the queue's order and its overflow: scpi_serve_test.py.
TEST(ScpiCommands, HeadersPathsAndTheLineAfterAnError) {
  const LineCase kCases[] = {
      // long and short forms, optional parts, a ':' in front (any case: "hz", "minimum" below)
      {"FUNC:SHAP SQU;:FUNCTION:SHAPE?;:VOLT:AMPL 1;:VOLTAGE?", "SQU;+1.00006103701895E+00", ""},
      // after ';' a header is looked up below the previous path first, then from the root
      {"FUNC:SQU:DCYC 20;DCYC?;:FREQ:SPW 90;FREQ?", "20;+1.00000000000000E+03", ""},
      {"SOUR:FREQ 2000;VOLT 1;VOLT?", "+1.00006103701895E+00", ""},
      // a common command leaves the path as it was
      {"FUNC:SQU:DCYC 30;*OPC;DCYC?", "30", ""},
      // VOLT's path is the root, where OFFS is unknown: the rest of the line is dropped
      {"VOLT 1;OFFS -1;VOLT:OFFS?\nVOLT:OFFS?", "+0.00000000000000E+00", "-113"},
      // a command error drops the rest of the line (an execution error does not: see the
      // settings)
      {"FUNC 5;FUNC?", "", "-104"},
      // a query of a setting without one, more mnemonics than any header has, empty units
      {"*RST?", "", "-113"},
      {"A:B:C:D:E:F:G:H:I?", "", "-113"},
      {"  ;; *TST? ; ", "0", ""},
  };
  RunCases(kCases, std::size(kCases));
}

TEST(ScpiCommands, NumbersUnitsAndKeywords) {
  const LineCase kCases[] = {
      // NR1, NR2, NR3 and the units, with or without a blank before them
      {"FREQ 2.5E3;FREQ?;FREQ 2.5 KHZ;FREQ?;FREQ .0025MHZ;FREQ?;FREQ 2500hz;FREQ?",
       "+2.50000000000000E+03;+2.50000000000000E+03;+2.50000000000000E+03;+2.50000000000000E+03",
       ""},
      {"VOLT 500MV;VOLT?;VOLT 1VPP;VOLT?;VOLT:OFFS -500 mV;:VOLT:OFFS?",
       "+4.99929807428205E-01;+1.00006103701895E+00;-5.23809523809524E-01", ""},
      // MINimum, MAXimum, DEFault
      {"FREQ MAX;FREQ?;:FREQ:SPW?;:FREQ minimum;FREQ?;FREQ DEF;FREQ?",
       "+2.14285714285714E+05;24;+1.52590218966964E+00;+1.00000000000000E+03", ""},
      {"VOLT MIN;VOLT?;VOLT:OFFS MAX;OFFS?", "+5.13626514481033E-02;+3.24761904761905E+00", ""},
      // a wrong type (a doubled quote stands for one), a keyword no number stands for
      {"FUNC \"SI\"\"N\"", "", "-104"},
      {"FREQ BOGUS;FREQ \"1000\"", "", "-224,-104"},
      // a string the line ends in (here, unlike in the server's buffer, the byte past it is 0)
      {"FUNC \"SIN", "", "-151"},
  };
  RunCases(kCases, std::size(kCases));
}

TEST(ScpiCommands, SettingsAndTheirRanges) {
  const LineCase kCases[] = {
      {"FUNC?;:FUNC:RAMP:SYMM?;:FUNC:SQU:DCYC?;:FREQ:SPW?;:VOLT:UNIT?;JUMP?;:OUTP?",
       "SIN;100;50;360;VPP;J1;0", ""},
      // duty: any number form, rounded to the nearest whole percent, .5 up
      {"FUNC:SQU:DCYC 25.400000;DCYC?;DCYC 25.5;DCYC?;DCYC MAX;DCYC 100.5;DCYC -0.6;DCYC?",
       "25;26;100", "-222,-222"},
      // the ramp family
      {"FUNC RAMP;FUNC?;:FUNC:RAMP:SYMM 0;:FUNC?;:FUNC:RAMP:SYMM 50;:FUNC?", "RAMP;NRAM;TRI", ""},
      {"FUNC TRI;FUNC:RAMP:SYMM?;:FUNC NRAM;FUNC:RAMP:SYMM?;:FUNC RAMP;FUNC?", "50;0;NRAM", ""},
      {"FUNC:RAMP:SYMM 0;:FUNC?;:FUNC RAMP;FUNC?", "SIN;NRAM", ""},
      {"FUNC:RAMP:SYMM 25;SYMM?", "100", "-222"},
      {"FUNC NOIS;FUNC?;:FUNC DC;FUNC?;:FUNC SQUARE;FUNC?", "NOIS;DC;SQU", ""},
      // a mode keeps the frequency last asked for (SPW 90 above); one it cannot reach changes
      // nothing
      {"FREQ 20000;:FREQ:SPW 360;:FREQ:SPW?;:FREQ?", "180;+2.00000000000000E+04", "-222"},
      {"FREQ:SPW 24;:FREQ 2;FREQ?", "+1.00000000000000E+03", "-222"},
      {"FREQ:SPW 24;:FREQ:SPW AUTO;:FREQ 2;FREQ?;:FREQ:SPW?", "+2.00000000000000E+00;360", ""},
      {"FREQ:SPW 100;SPW FAST", "", "-222,-224"},
      // the jumper keeps the codes: the volts change with it
      {"VOLT:JUMP J4;JUMP?;:VOLT?", "J4;+1.65000000000000E+00", ""},
      {"VOLT:JUMP J4;:VOLT 6;:OUTP 2", "", "-222,-224"},
      {"VOLT:UNIT VPP;UNIT VRMS;UNIT DBM;UNIT AMPS;UNIT?", "VPP", "-221,-221,-224"},
  };
  RunCases(kCases, std::size(kCases));
}

TEST(ScpiCommands, StatusAndTheErrorQueue) {
  Bench bench;
  EXPECT_EQ(bench.Run("*IDN?;*TST?;*OPC?;SYST:VERS?"),
            "VARNOLT,DDS generator,SN0001,1.2.3;0;1;1999.0");
  // Power-on, then a command error and an execution error; *ESR? reads and clears.
  EXPECT_EQ(bench.Run("*ESR?;*ESR?;FREQU\nFREQ 1E6\n*ESR?"), "128;0|48");
  // *STB?: an error queued (4), an enabled event (32), and with *SRE the summary (64).
  EXPECT_EQ(bench.Run("*ESE 16;*ESE?;*SRE 36;*SRE?;*STB?"), "16;36;68");
  EXPECT_EQ(bench.Run("FREQ 1E6\n*STB?"), "100");
  EXPECT_EQ(bench.Run("*CLS;*STB?;*ESR?;SYST:ERR?"), "0;0;0,\"No error\"");
  EXPECT_EQ(bench.Run("*ESE 256"), "");
  EXPECT_EQ(bench.Errors(), "-222");

  // *RST: the panel's defaults with the jumper the server started with; the user table is kept.
  ResetInstrument(&bench.instrument, 2, "", "1");
  bench.instrument.userTableLoaded = true;
  EXPECT_EQ(bench.Run("VOLT:JUMP?;JUMP J1;:FREQ 50;:FUNC USER;:FREQ:SPW 24\n*RST;:VOLT:JUMP?;"
                      ":FREQ?;:FUNC?;:FREQ 20000;:FREQ:SPW?;:FUNC USER;FUNC?"),
            "J3|J3;+1.00000000000000E+03;SIN;180;USER");

  // A serial number's separators would split *IDN?'s fields; no serial answers 0.
  ResetInstrument(&bench.instrument, 0, "A,B;C\"D", "1");
  EXPECT_EQ(bench.Run("*IDN?"), "VARNOLT,DDS generator,A_B_C_D,1");
  ResetInstrument(&bench.instrument, 0, "", "1");
  EXPECT_EQ(bench.Run("*IDN?"), "VARNOLT,DDS generator,0,1");
}

// The packets: frequency code, amplitude code, offset code, duty, mode, jumper. OUTP ON's start,
// a change of frequency while on and one that changes nothing: the PyVISA test.
TEST(ScpiCommands, WhatReachesTheGenerator) {
  const LineCase kCases[] = {
      // a change while on: the stop, then the start with it
      {"OUTP ON\nVOLT:JUMP J3", "", "",
       "start:00647fff1f320000 wait:55 stop wait:aa start:00647fff1f320002 wait:55 "},
      {"OUTP ON\nFUNC:SQU:DCYC 10", "", "",
       "start:00647fff1f320000 wait:55 stop wait:aa start:00647fff1f0a0000 wait:55 "},
      {"OUTP ON;OUTP OFF;OUTP?", "0", "", "start:00647fff1f320000 wait:55 stop wait:aa "},
      {"OUTP ON\n*RST;OUTP?", "0", "", "start:00647fff1f320000 wait:55 stop wait:aa "},
      // APPLy: all in one start; DEF and omitted values keep what is set; DC's first two hold
      // places
      {"APPL:SQU 2000,1,-0.5", "", "", "start:003213651a320000 wait:55 "},
      {"VOLT 1;APPL:SIN DEF,DEF", "", "", "start:006413651f320000 wait:55 "},
      {"APPL:DC 9E9,-5,1", "", "", "start:00647fff29320000 wait:55 "},
      {"APPL:NRAM 2000,1,0;APPL?",
       "\"NRAM +2.00000000000000E+03,+1.00006103701895E+00,+0.00000000000000E+00\"", "",
       "start:003213651f320000 wait:55 "},
      {"APPL:SIN 1000\nAPPL:SIN 1000\nAPPL:SIN 2000", "", "",
       "start:00647fff1f320000 wait:55 stop wait:aa start:00327fff1f320000 wait:55 "},
      // all values are checked before anything is sent
      {"APPL:SIN 1000,1,9;APPL?",
       "\"SIN +1.00000000000000E+03,+6.60000000000000E+00,+0.00000000000000E+00\"", "-222"},
      {"APPL:SIN 1000,1,2,3", "", "-108"},
  };
  RunCases(kCases, std::size(kCases));
}

// A silent generator, and one that goes away while idle and comes back: the PyVISA test.
TEST(ScpiCommands, AGeneratorLostDuringAStartAndItsOwnReports) {
  // The device goes away during the writes or the wait.
  for (bool writesFail : {true, false}) {
    Bench lost;
    lost.generator.writesFail = writesFail;
    lost.generator.outcome = kWaitGone;
    EXPECT_EQ(lost.Run("OUTP ON;OUTP?"), "0");
    EXPECT_EQ(lost.Errors(), "-241");
  }

  // The generator's own reports set the output state.
  Bench bench;
  NoteGeneratorReport(&bench.instrument, kReportRunning);
  EXPECT_EQ(bench.Run("OUTP?"), "1");
  NoteGeneratorReport(&bench.instrument, kReportNone);
  EXPECT_EQ(bench.Run("OUTP?"), "1");
  NoteGeneratorReport(&bench.instrument, kReportStopped);
  EXPECT_EQ(bench.Run("OUTP?"), "0");
}

TEST(ScpiCommands, TheUserTable) {
  std::string values;
  std::string block = "#3720";
  for (int32_t i = 0; i < 360; i++) {
    // Samples whose bytes include LF, CR, ';' and '#'.
    uint16_t sample = static_cast<uint16_t>(i == 0 ? 0x0A0D : i == 1 ? 0x3B23 : i * 181);
    values += "," + std::to_string(sample);
    block.push_back(static_cast<char>(sample >> 8));
    block.push_back(static_cast<char>(sample & 0xFF));
  }
  // Both forms, FUNC USER and the table that arrives: the PyVISA test. Here: the same table in
  // the other form, sent while USER is on, sends nothing.
  Bench bench;
  EXPECT_EQ(bench.Run("FUNC USER;APPL:USER;FUNC?"), "SIN");
  EXPECT_EQ(bench.Errors(), "-221,-221");
  EXPECT_EQ(bench.RunLine("DATA:DAC VOLATILE, " + block + ";:FUNC USER;FUNC?;:OUTP ON"), "USER");
  bench.generator.log.clear();
  EXPECT_EQ(bench.Run("DATA:DAC VOL" + values + ";:FUNC?"), "USER");
  EXPECT_EQ(bench.generator.log, "");
  EXPECT_EQ(bench.Errors(), "");

  const struct {
    std::string line;
    const char *szErrors;
  } kFaults[] = {
      {"DATA:DAC VOLATILE" + values.substr(0, values.rfind(',')), "-109"},
      {"DATA:DAC VOLATILE" + values.substr(0, values.rfind(',')) + ",65536", "-222"},
      {"DATA:DAC VOLATILE" + values.substr(0, values.rfind(',')) + ",1.5", "-222"},
      {"DATA:DAC VOLATILE" + values.substr(0, values.rfind(',')) + ",MAX", "-104"},
      {"DATA:DAC VOLATILE,#3718" + block.substr(5, 718), "-109"},
      {"DATA:DAC VOLATILE,#3722" + block.substr(5) + "ab", "-223"},
      {"DATA:DAC VOLATILE," + block + ",1", "-108"},
      {"DATA:DAC FLASH" + values, "-224"},
      {"DATA:DAC VOLATILE", "-109"},
  };
  for (const auto &fault : kFaults) {
    Bench faulty;
    faulty.RunLine(fault.line);
    EXPECT_EQ(faulty.Errors(), fault.szErrors) << fault.line.substr(0, 40);
    EXPECT_FALSE(faulty.instrument.userTableLoaded) << fault.line.substr(0, 40);
  }
}

// NR3 as the queries answer it (a sign, 15 digits, two in the exponent) is in every test above;
// here the edges no setting reaches.
TEST(ScpiFormat, Nr3HasFifteenDigitsAndAtLeastTwoInTheExponent) {
  const struct {
    double value;
    size_t size;
    const char *szText;
  } kCases[] = {
      {9.999999999999999e2, kScpiNr3Size, "+1.00000000000000E+03"},  // the rounding carries
      {1.5e100, kScpiNr3Size, "+1.50000000000000E+100"},
      {1.0, 5, "+1.0"},  // cut to the buffer, and terminated
  };
  for (const auto &c : kCases) {
    char szText[kScpiNr3Size];
    FormatScpiNr3(c.value, szText, c.size);
    EXPECT_STREQ(szText, c.szText);
  }
}

// Feeds the bytes in chunks of the given size; the lines ("!" for one dropped as too long).
std::vector<std::string> ReadLines(const std::string &bytes, size_t chunk) {
  static ScpiLineReader reader;
  ResetScpiLineReader(&reader);
  std::vector<std::string> lines;
  for (size_t start = 0; start < bytes.size(); start += chunk) {
    const uint8_t *pBytes = reinterpret_cast<const uint8_t *>(bytes.data()) + start;
    size_t count = std::min(chunk, bytes.size() - start);
    while (count > 0) {
      size_t used = 0;
      ScpiLineStep step = TakeScpiLineBytes(&reader, pBytes, count, &used);
      EXPECT_TRUE(used == count || step != kLineIncomplete);
      if (step == kLineComplete) lines.push_back(std::string(reader.aLine, reader.dwLength));
      if (step == kLineTooLong) lines.push_back("!");
      pBytes += used;
      count -= used;
    }
  }
  return lines;
}

TEST(ScpiLineReader, LinesBlocksCarriageReturnsAndTheLimit) {
  const std::string kMaxLine(kScpiLineLimit, 'x');
  const struct {
    std::string bytes;
    std::vector<std::string> lines;
  } kCases[] = {
      {"*IDN?\nFREQ?\r\n\n", {"*IDN?", "FREQ?", ""}},
      // only the CR just before the LF is left out
      {"A\rB\r\r\n", {"A\rB\r"}},
      // a block is read by its length, whatever its bytes; the LF after it ends the line
      {"D #15\n\r;#1\nX\n", {"D #15\n\r;#1", "X"}},
      {"D #15a\r\nbc\r\n", {"D #15a\r\nbc"}},
      // what is no block: '#' in a string, #0, a length cut short, a CR in the length
      {"S '#15'\n\"#1\"\n", {"S '#15'", "\"#1\""}},
      {"B #0\nB #2a\nB #2\r\n", {"B #0", "B #2a", "B #2"}},
      {"B #21\r5\nX\n", {"B #21\r5", "X"}},
      // 64 KiB is the longest line; one byte more drops it, and the next line is whole
      {kMaxLine + "\r\n", {kMaxLine}},
      {kMaxLine + "y\nZ\n", {"!", "Z"}},
      // a long line's block is still read by its length
      {kMaxLine + "#13\n\n\n\nZ\n", {"!", "Z"}},
      // an unfinished line gives nothing
      {"FREQ 1", {}},
  };
  for (const auto &c : kCases) {
    for (size_t chunk : {size_t{1}, size_t{3}, c.bytes.size() + 1}) {
      EXPECT_EQ(ReadLines(c.bytes, chunk), c.lines) << c.bytes.substr(0, 30) << " in " << chunk;
    }
  }
}

TEST(ScpiLineReader, AnHttpRequestLineIsKnownAndNoCommandIs) {
  for (const char *szLine :
       {"GET / HTTP/1.1", "POST /x?y=1 HTTP/1.0", "OPTIONS * HTTP/1.1", "PUT /%20 HTTP/1.1"}) {
    EXPECT_TRUE(IsHttpRequestLine(szLine, strlen(szLine))) << szLine;
  }
  for (const char *szLine :
       {"get / HTTP/1.1", "GET  / HTTP/1.1", "GET / HTTP/2.0", "GET / HTTP/1.", "GET / HTTP/1.1 ",
        "GET /", "*IDN?", "OUTP ON", "FREQ 1 HTTP/1.1x", " GET / HTTP/1.1", ""}) {
    EXPECT_FALSE(IsHttpRequestLine(szLine, strlen(szLine))) << szLine;
  }
}

// A panel action and the command it stands for leave the same instrument, the same bytes sent and,
// where the command queues an error, that error's number as its result and an empty queue.
TEST(ScpiPanel, EachActionIsItsCommand) {
  using Action = std::function<int32_t(Instrument *, const InstrumentGenerator &)>;
  const struct {
    std::string before;  // lines run on both benches first
    Action action;
    const char *szCommand;
  } kCases[] = {
      {"", [](auto *i, auto &a) { return SetInstrumentValue(i, a, kFieldFrequency, 2500.0); },
       "FREQ 2500"},
      {"FREQ:SPW 24",
       [](auto *i, auto &a) { return SetInstrumentValue(i, a, kFieldFrequency, 10.0); }, "FREQ 10"},
      {"", [](auto *i, auto &a) { return SetInstrumentValue(i, a, kFieldOffset, -0.25); },
       "VOLT:OFFS -0.25"},
      {"VOLT:JUMP J4",
       [](auto *i, auto &a) { return SetInstrumentValue(i, a, kFieldAmplitude, 1.5); }, "VOLT 1.5"},
      {"", [](auto *i, auto &a) { return SetInstrumentValue(i, a, kFieldAmplitude, 7.0); },
       "VOLT 7"},
      {"FREQ 50", [](auto *i, auto &a) { return ChooseInstrumentSpw(i, a, 1); }, "FREQ:SPW 180"},
      {"FREQ 50000", [](auto *i, auto &a) { return ChooseInstrumentSpw(i, a, 0); }, "FREQ:SPW 360"},
      {"FUNC NRAMP", [](auto *i, auto &a) { return ChooseInstrumentWave(i, a, 3); },
       "FUNC:RAMP:SYMM 100;:FUNC RAMP"},
      {"", [](auto *i, auto &a) { return ChooseInstrumentWave(i, a, 4); }, "FUNC NRAMP"},
      {"", [](auto *i, auto &a) { return ChooseInstrumentWave(i, a, 7); }, "FUNC USER"},
      {"DATA:DAC VOLATILE,#3720" + std::string(720, '\x01'),
       [](auto *i, auto &a) { return ChooseInstrumentWave(i, a, 7); }, "FUNC USER"},
      {"", [](auto *i, auto &a) { return SetInstrumentDuty(i, a, 30); }, "FUNC:SQU:DCYC 30"},
      {"", [](auto *i, auto &a) { return SetInstrumentDuty(i, a, 101); }, "FUNC:SQU:DCYC 101"},
      {"", [](auto *i, auto &a) { return SetInstrumentJumper(i, a, 1); }, "VOLT:JUMP J2"},
      {"", [](auto *i, auto &a) { return ToggleInstrumentOutput(i, a); }, "OUTP ON"},
      {"OUTP ON", [](auto *i, auto &a) { return ToggleInstrumentOutput(i, a); }, "OUTP OFF"},
      // a change while the output is on: a stop, then a start with it
      {"OUTP ON", [](auto *i, auto &a) { return SetInstrumentDuty(i, a, 20); }, "FUNC:SQU:DCYC 20"},
  };
  for (const auto &c : kCases) {
    Bench panel;
    Bench command;
    panel.Run(c.before);
    command.Run(c.before);
    panel.generator.log.clear();
    command.generator.log.clear();
    const int32_t result = c.action(&panel.instrument, panel.actions);
    command.Run(c.szCommand);
    const std::string queued = command.Errors();
    EXPECT_EQ(std::to_string(result), queued.empty() ? "0" : queued) << c.szCommand;
    EXPECT_EQ(panel.instrument.errorCount, 0) << c.szCommand;
    EXPECT_EQ(panel.generator.log, command.generator.log) << c.szCommand;
    EXPECT_EQ(panel.Run("FUNC?;:FREQ?;:FREQ:SPW?;:VOLT?;:VOLT:OFFS?;:FUNC:SQU:DCYC?;:VOLT:JUMP?;"
                        ":OUTP?;:FUNC:RAMP:SYMM?"),
              command.Run("FUNC?;:FREQ?;:FREQ:SPW?;:VOLT?;:VOLT:OFFS?;:FUNC:SQU:DCYC?;:VOLT:JUMP?;"
                          ":OUTP?;:FUNC:RAMP:SYMM?"))
        << c.szCommand;
  }
}

// The steppers' code rules are the signal model's; here: each field steps, a running output
// takes the new code at once, and a later change of mode keeps the frequency stepped to.
TEST(ScpiPanel, StepsChangeTheirFieldAndRestartARunningOutput) {
  Bench bench;
  EXPECT_EQ(StepInstrumentField(&bench.instrument, bench.actions, kFieldFrequency, true, false), 0);
  EXPECT_EQ(bench.instrument.settings.frequencyCode, 99);
  EXPECT_EQ(StepInstrumentField(&bench.instrument, bench.actions, kFieldOffset, false, false), 0);
  EXPECT_EQ(bench.instrument.settings.offsetCode, 30);
  EXPECT_EQ(StepInstrumentField(&bench.instrument, bench.actions, kFieldAmplitude, false, true), 0);
  EXPECT_LT(bench.instrument.settings.amplitudeCode, 32767);
  EXPECT_EQ(bench.generator.log, "");
  bench.Run("OUTP ON");
  bench.generator.log.clear();
  EXPECT_EQ(StepInstrumentField(&bench.instrument, bench.actions, kFieldFrequency, false, true), 0);
  EXPECT_EQ(bench.generator.log.substr(0, 13), "stop wait:aa ");
  EXPECT_EQ(bench.Run("FREQ?;:FREQ:SPW 180;:FREQ?"), bench.Run("FREQ?") + ";" + bench.Run("FREQ?"));
  EXPECT_EQ(bench.Errors(), "");
}

}  // namespace
