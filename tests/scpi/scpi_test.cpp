// The SCPI commands of `varnoltctl serve` without a port or a socket: command lines in, answers,
// errors and the generator's writes out; the line reader; NR3. The verbs' own rules are the
// instrument's tests; here each command is seen to reach its verb.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "scpi/scpi_commands.h"
#include "scpi/scpi_line_reader.h"
#include "scpi/scpi_parser.h"
#include "tests/instrument/fake_generator.h"
#include "tests/scpi/read_lines.h"

namespace {

// The queued error numbers, oldest first, emptying the queue.
std::string Errors(Bench *bench) {
  std::string codes;
  for (int32_t i = 0; i < bench->instrument.errorCount; i++) {
    codes += (i > 0 ? "," : "") + std::to_string(bench->instrument.aErrors[i]);
  }
  bench->instrument.errorCount = 0;
  return codes;
}

// The bytes through a line reader in reads of `chunk` bytes, as the server reads them, and each
// line run by the bench; the answers joined by '|', "!" for a line dropped as too long.
std::string Feed(Bench *bench, const std::string &bytes, size_t chunk = 4096) {
  std::string answers;
  const uint8_t *pBytes = reinterpret_cast<const uint8_t *>(bytes.data());
  for (ReadLine &line : ReadScpiLineRecords(pBytes, bytes.size(), chunk)) {
    std::string answer = line.text == kTooLong ? "!" : "";
    line.list.pValues = line.values.data();
    if (line.text != kTooLong) {
      RunScpiLine(&bench->instrument, bench->link, line.text.data(), line.text.size(), line.list,
                  &answer);
    }
    if (!answer.empty()) answers += (answers.empty() ? "" : "|") + answer;
  }
  return answers;
}

struct LineCase {
  const char *szLines, *szAnswers, *szErrors;
  const char *szLog = "";  // the generator's: nothing sent unless a case says so
};

void RunCases(const std::vector<LineCase> &cases) {
  for (const LineCase &c : cases) {
    Bench bench;
    EXPECT_EQ(Feed(&bench, c.szLines + std::string("\n")), c.szAnswers) << c.szLines;
    EXPECT_EQ(Errors(&bench), c.szErrors) << c.szLines;
    EXPECT_EQ(bench.generator.log, c.szLog) << c.szLines;
  }
}

// One line for each error class, the queue's order and its overflow: ../serving/serve_test.py.
TEST(ScpiCommands, HeadersPathsAndTheLineAfterAnError) {
  RunCases({
      // long and short forms, optional parts, a ':' in front (any case: "hz", "minimum" below)
      {"FUNC:SHAP SQU;:FUNCTION:SHAPE?;:VOLT:AMPL 1;:VOLTAGE?", "SQU;+1.00006103701895E+00", ""},
      // after ';' a header is looked up below the previous path first, then from the root
      {"FUNC:SQU:DCYC 20;DCYC?;:FREQ:SPW 90;FREQ?", "20;+1.00000000000000E+03", ""},
      {"SOUR:FREQ 2000;VOLT 1;VOLT?", "+1.00006103701895E+00", ""},
      // a common command leaves the path as it was
      {"FUNC:SQU:DCYC 30;*OPC;DCYC?", "30", ""},
      // VOLT's path is the root, where OFFS is unknown: the rest of the line is dropped
      {"VOLT 1;OFFS -1;VOLT:OFFS?\nVOLT:OFFS?", "+0.00000000000000E+00", "-113"},
      // a command error drops the rest of the line (an execution error does not: the settings)
      {"FUNC 5;FUNC?", "", "-104"},
      // a query of a setting without one, more mnemonics than any header has, empty units
      {"*RST?", "", "-113"},
      {"A:B:C:D:E:F:G:H:I?", "", "-113"},
      {"  ;; *TST? ; ", "0", ""},
  });
}

TEST(ScpiCommands, NumbersUnitsAndKeywords) {
  RunCases({
      // NR1, NR2 and the units, with or without a blank before them (NR3: 1E6, 9E9 below)
      {"FREQ 2.5 KHZ;FREQ?;FREQ .0025MHZ;FREQ?;FREQ 2500hz;FREQ?",
       "+2.50000000000000E+03;+2.50000000000000E+03;+2.50000000000000E+03", ""},
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
  });
}

TEST(ScpiCommands, SettingsAndTheirRanges) {
  RunCases({
      {"FUNC?;:FUNC:SQU:DCYC?;:VOLT:UNIT?;JUMP?;:OUTP?", "SIN;50;VPP;J1;0", ""},
      // duty: any number form, rounded to the nearest whole percent, .5 up
      {"FUNC:SQU:DCYC 25.4;DCYC?;DCYC 25.5;DCYC?;DCYC MAX;DCYC -0.6;DCYC?", "25;26;100", "-222"},
      // the functions' names, the ramp's symmetry as a number
      {"FUNC RAMP;FUNC?;:FUNC NRAM;FUNC?;:FUNC TRI;FUNC?;:FUNC:RAMP:SYMM?", "RAMP;NRAM;TRI;50", ""},
      {"FUNC NOIS;FUNC?;:FUNC DC;FUNC?;:FUNC SQUARE;FUNC?", "NOIS;DC;SQU", ""},
      {"FUNC:RAMP:SYMM 0;SYMM?;:FUNC RAMP;FUNC?;:FUNC SIN;FUNC?;:FUNC SQU;*RST;FUNC?",
       "0;NRAM;SIN;SIN", ""},
      {"OUTP ON;OUTP?;:OUTP 0;OUTP?", "1;0", "", "start:00647fff1f320000 wait:55 stop wait:aa "},
      // samples per wave: a number that is no mode's, a keyword that is not AUTO
      {"FREQ:SPW 100;SPW FAST", "", "-222,-224"},
      {"FREQ:SPW 24;SPW?;SPW DEF;SPW?;SPW 24;SPW AUTO;:FREQ 20000;:FREQ:SPW?", "24;360;180", ""},
      // the jumper keeps the codes: the volts change with it
      {"VOLT:JUMP J4;JUMP?;:VOLT?", "J4;+1.65000000000000E+00", ""},
      {"VOLT:JUMP J4;:VOLT 6;:OUTP 2", "", "-222,-224"},
      {"VOLT:UNIT VPP;UNIT VRMS;UNIT DBM;UNIT AMPS;UNIT?", "VPP", "-221,-221,-224"},
  });
}

// Power-on, then a command error and an execution error; *ESR? reads and clears. *STB?: an error
// queued (4), an enabled event (32), and with *SRE the summary (64).
TEST(ScpiCommands, StatusAndTheErrorQueue) {
  RunCases(
      {{"*IDN?;*TST?;*OPC?;SYST:VERS?\n*ESR?;*ESR?;FREQU\nFREQ 1E6\n*ESR?\n*ESE 16;*ESE?;*SRE 36;"
        "*SRE?;*STB?\nFREQ 1E6\n*STB?\n*CLS;*STB?;*ESR?;SYST:ERR?\n*ESE 256",
        "VARNOLT,DDS generator,SN0001,1.2.3;0;1;1999.0|128;0|48|16;36;68|100|0;0;0,\"No error\"",
        "-222"}});
}

// APPLy's parameters (the packets: frequency code, amplitude code, offset code, duty, mode,
// jumper): DEF and omitted values keep what is set; DC's first two only hold places, unread.
TEST(ScpiCommands, ApplyAndItsAnswer) {
  RunCases({
      {"VOLT 1;APPL:SIN DEF,DEF", "", "", "start:006413651f320000 wait:55 "},
      {"APPL:DC 9E9,BOGUS,1", "", "", "start:00647fff29320000 wait:55 "},
      {"APPL:NRAM 2000,1,0;APPL?",
       "\"NRAM +2.00000000000000E+03,+1.00006103701895E+00,+0.00000000000000E+00\"", "",
       "start:003213651f320000 wait:55 "},
      {"APPL:SIN 1000,1,2,3", "", "-108"},
      // while on: the same values again send nothing, another one stops and starts with it
      {"APPL:SIN 1000;APPL:SIN 1000;APPL:SIN 2000", "", "",
       "start:00647fff1f320000 wait:55 stop wait:aa start:00327fff1f320000 wait:55 "},
      // the user table's absence before any value is read
      {"APPL:USER 1 HZZ", "", "-221"},
  });
}

// A table whose samples' bytes include LF, CR, ';' and '#': as NR1 values after commas, and as a
// definite-length block.
void UserTable(std::string *pValues, std::string *pBlock) {
  *pBlock = "#3720";
  for (int32_t i = 0; i < 360; i++) {
    uint16_t sample = static_cast<uint16_t>(i == 0 ? 0x0A0D : i == 1 ? 0x3B23 : i * 181);
    *pValues += "," + std::to_string(sample);
    pBlock->push_back(static_cast<char>(sample >> 8));
    pBlock->push_back(static_cast<char>(sample & 0xFF));
  }
}

// The table as a block and then the same table as values, sent while USER is on: the second sends
// nothing, as it changes nothing (USER before a table: APPLy's cases).
TEST(ScpiCommands, TheUserTable) {
  std::string values, block;
  UserTable(&values, &block);
  Bench bench;
  EXPECT_EQ(Feed(&bench, "DATA:DAC VOLATILE, " + block + ";:FUNC USER;FUNC?;:OUTP ON\n"), "USER");
  EXPECT_EQ(Feed(&bench, "DATA:DAC VOL" + values + ";:FUNC?\n"), "USER");
  EXPECT_EQ(bench.generator.log, "start:00647fff1f320000 wait:55 ");  // the first line's only
  EXPECT_EQ(Errors(&bench), "");
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
      {1.0, 0, "-"},     // no room at all: untouched
  };
  for (const auto &c : kCases) {
    char szText[kScpiNr3Size] = "-";
    FormatScpiNr3(c.value, szText, c.size);
    EXPECT_STREQ(szText, c.szText);
  }
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
      {kMaxLine + "y\nZ\n", {kTooLong, "Z"}},
      // a long line's block is still read by its length
      {kMaxLine + "#13\n\n\n\nZ\n", {kTooLong, "Z"}},
      // an unfinished line gives nothing
      {"FREQ 1", {}},
  };
  for (const auto &c : kCases) {
    for (size_t chunk : {size_t{1}, size_t{3}, c.bytes.size() + 1}) {
      const uint8_t *pBytes = reinterpret_cast<const uint8_t *>(c.bytes.data());
      std::vector<std::string> texts;
      for (const ReadLine &line : ReadScpiLineRecords(pBytes, c.bytes.size(), chunk)) {
        texts.push_back(line.text);
      }
      EXPECT_EQ(texts, c.lines) << c.bytes.substr(0, 30) << " in " << chunk;
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

// Three values land on samples 0, 120 and 240 as they are: scaled, not stretched to -1..+1.
TEST(ScpiVolatileData, ValuesInAnyReadsAreTheUserWaveform) {
  const std::string kLines =
      "DATA:ATTR:POIN? VOLATILE\n"
      "data  Volatile , 0.5,-1 ,\t1E-1;FUNC:USER VOLATILE;:FUNC:USER?;:DATA:ATTR:POIN? VOL\r\n"
      "DATA:ATTR:POIN?;:FUNC USER;:FUNC?\n";
  for (size_t chunk : {size_t{1}, size_t{7}, kLines.size()}) {
    Bench bench;
    EXPECT_EQ(Feed(&bench, kLines, chunk), "0|VOLATILE;3|3;USER");
    EXPECT_EQ(Errors(&bench), "") << chunk;
    EXPECT_EQ(bench.instrument.aUserTable[0], 49151) << chunk;
    EXPECT_EQ(bench.instrument.aUserTable[120], 0) << chunk;
    EXPECT_EQ(bench.instrument.aUserTable[240], 36044) << chunk;
  }
}

// The last loaded wins, also while it plays, and *RST keeps it.
TEST(ScpiVolatileData, TheLastLoadedWins) {
  std::string dac = "DATA:DAC VOLATILE";
  for (int32_t i = 0; i < kWaveTableSamples; i++) dac += ",1234";
  Bench bench;
  // A second DATA unit on a line has its values in the line: -108.
  EXPECT_EQ(Feed(&bench, "DATA VOL,0.5;DATA VOL,1\nDATA:ATTR:POIN?\n" + dac +
                             ";:DATA:ATTR:POIN?\nFUNC USER;:OUTP ON;:DATA VOL,-1;*RST;"
                             ":DATA:ATTR:POIN?;:FUNC USER;FUNC?\n"),
            "1|360|1;USER");
  EXPECT_EQ(Errors(&bench), "-108");
  EXPECT_EQ(bench.instrument.aUserTable[0], 0);
}

// A line with DATA values may be 1 MiB (without its LF); one byte more drops it.
TEST(ScpiVolatileData, ALineWithDataValuesMayBeOneMebibyte) {
  std::string line = "DATA VOL";
  while (line.size() + 17 <= kScpiDataLineLimit) line += ",0.50000000000000";
  line.append(kScpiDataLineLimit - line.size(), ' ');
  Bench bench;
  EXPECT_EQ(Feed(&bench, line + "\n" + line + " \nDATA:ATTR:POIN?\n"), "!|61680");
  EXPECT_EQ(Errors(&bench), "");
}

// A table or DATA values with a fault load nothing.
TEST(ScpiVolatileData, ErrorsChangeNothing) {
  std::string values, block, tooMany = "DATA VOLATILE,0";
  UserTable(&values, &block);
  const std::string k359 = "DATA:DAC VOLATILE" + values.substr(0, values.rfind(','));
  for (int32_t i = 0; i < kInstrumentMaxPoints; i++) tooMany += ",0";
  const struct {
    std::string line;
    const char *szErrors;
  } kCases[] = {
      // clang-format off
      {k359, "-109"}, {k359 + ",65536", "-222"}, {k359 + ",1.5", "-222"}, {k359 + ",MAX", "-104"},
      {"DATA:DAC VOLATILE,#3718" + block.substr(5, 718), "-109"},
      {"DATA:DAC VOLATILE,#3722" + block.substr(5) + "ab", "-223"},
      {"DATA:DAC VOLATILE," + block + ",1", "-108"}, {"DATA:DAC FLASH" + values, "-224"},
      {"DATA:DAC VOLATILE", "-109"}, {"DATA VOLATILE,0.5,1.5", "-222"}, {tooMany, "-223"},
      {"DATA VOL,0.5,ABC", "-104"}, {"DATA VOL,1 V", "-138"}, {"DATA VOL,1 2", "-103"},
      {"DATA VOL,1,,2", "-109"}, {"DATA VOL,1,", "-109"}, {"DATA VOL,1,2,9;DATA VOL", "-222,-109"},
      {"DATA FLASH,1", "-224"}, {"DATA:ATTR:POIN? FLASH", "-224"},
      {"FUNC:USER FLASH;USER 1", "-224,-104"},
      // clang-format on
  };
  for (const auto &c : kCases) {
    Bench bench;
    EXPECT_EQ(Feed(&bench, c.line + "\nDATA:ATTR:POIN?\n"), "0") << c.line.substr(0, 30);
    EXPECT_EQ(Errors(&bench), c.szErrors) << c.line.substr(0, 30);
  }
}

}  // namespace
