#pragma once
// The SCPI language of `varnoltctl serve`, apart from what the commands mean: one program unit of
// a line at a time (its header and parameters: numbers with suffixes, keywords, strings and
// definite-length blocks), headers matched against patterns in long or short form, numbers read
// in a unit and written in NR3. Errors are SCPI's negative numbers, the instrument's error queue's
// (instrument/instrument_errors.h).
#include <cstddef>
#include <cstdint>

#include "instrument/instrument_errors.h"

enum : int32_t {
  kScpiMaxParams = 362,     // DATA:DAC's keyword, 360 values and one more to tell "too many"
  kScpiMaxMnemonics = 8,    // more mnemonics in one header name no command
  kScpiMnemonicChars = 12,  // the longest mnemonic, keyword or suffix SCPI allows
  kScpiNr3Size = 24,        // "+9.99714285714286E+02" and room for a three-digit exponent
};

enum ScpiParamType : int32_t { kParamNumber, kParamKeyword, kParamString, kParamBlock };

// Where a parameter lies in the line: a number's text (mantissa and exponent) and its suffix, a
// keyword, a string's contents between its quotes (doubled quotes left as they are), a block's
// bytes.
struct ScpiParam {
  ScpiParamType type;
  uint32_t dwOffset;
  uint32_t dwLength;
  uint32_t dwSuffixOffset;
  uint32_t dwSuffixLength;  // 0: no suffix
};

struct ScpiUnit {
  bool common;    // *IDN and its kind
  bool absolute;  // a leading ':'
  bool query;
  uint32_t dwHeaderOffset;  // the header without its ':' in front and its '?'; 0 long: no unit
  uint32_t dwHeaderLength;
  int32_t paramCount;  // every parameter given; only the first kScpiMaxParams are kept
  ScpiParam aParams[kScpiMaxParams];
};

// Parses the program unit that starts at *pPosition: up to its ';' (outside strings and blocks)
// or the end of the line. Returns 0 with *pUnit filled and *pPosition after the ';' (or at the
// end), or the SCPI error of the first fault (then *pPosition is undefined: the rest of the line
// is not read). Spaces and tabs separate; other control bytes and bytes above 0x7E are no text
// outside a block (-101).
int32_t ParseScpiUnit(const char *pLine, size_t dwLength, size_t *pPosition, ScpiUnit *pUnit);

// Whether a header's mnemonics (separated by ':', as typed, without a ':' in front or a '?')
// match a pattern such as "[SOURce:]FREQuency:SPW": each mnemonic in the short form (its
// capitals) or the long form, in any case, nothing between; a part in brackets may be left out.
bool ScpiHeaderMatches(const char *szPattern, const char *pHeader, size_t dwLength);

// Whether a keyword parameter is szMnemonic ("MINimum") in its short or long form, in any case.
bool ScpiKeywordIs(const char *pLine, const ScpiParam &param, const char *szMnemonic);

// The units a number may carry. Hertz: HZ, KHZ, MHZ (mega); volts: V, MV (milli); peak-to-peak
// volts: those and VPP. A number without a suffix is in the base unit.
enum ScpiUnitKind : int32_t { kUnitNone, kUnitHertz, kUnitVolts, kUnitVpp };

// A number parameter's value in its base unit: 0, or -138 for a suffix where none is taken, -131
// for one the kind does not know, -123 for a value beyond a double's range.
int32_t ScpiNumberValue(const char *pLine, const ScpiParam &param, ScpiUnitKind kind,
                        double *pValue);

// One number parameter that is all of pText but blanks around it, in the kind's units: 0 with
// *pValue, or the error the same parameter gives within a line (-109 for none, -104 for another
// type, -103 for anything after it).
int32_t ParseScpiNumber(const char *pText, size_t dwLength, ScpiUnitKind kind, double *pValue);

// NR3 with 15 significant digits and an exponent of at least two digits: "+9.99714285714286E+02",
// "-5.23809523809524E-01", "+0.00000000000000E+00". Always terminated when size > 0.
void FormatScpiNr3(double value, char *szText, size_t size);
