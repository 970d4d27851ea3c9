#pragma once
// The lines of one SCPI client, as its bytes arrive in chunks of any size. A line ends at an LF
// outside a definite-length block (#3720 and 720 bytes of anything, LF included); a CR just
// before that LF is left out. A line longer than 64 KiB is dropped up to its LF. Quotes are
// followed only so that a '#' or a ';' inside a string starts no block and ends no unit.
//
// The values of a DATA unit (`DATA VOLATILE,<v>,<v>,...`: up to 65,536 numbers, some 650 KB) are
// read into numbers as they arrive, not kept as text: the line keeps `DATA VOLATILE` and the rest
// of its units, the values go to a list of their own. Such a line may be up to 1 MiB.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "instrument/instrument.h"

enum : uint32_t {
  kScpiLineLimit = 65536,        // the text a line keeps
  kScpiDataLineLimit = 1048576,  // a line with a DATA unit's values, all its bytes
};

enum : int32_t {
  kScpiValueTextSize = 320,  // one value's text, blanks around it included
};

enum ScpiLineStep : int32_t {
  kLineIncomplete = 0,  // every byte given was taken; the line goes on
  kLineComplete = 1,    // a line is in aLine[0..dwLength), its DATA values in values
  kLineTooLong = 2,     // a line over its limit ended and was dropped
};

// The values of a line's DATA unit, taken out of the line just after the unit's last parameter:
// at dwOffset of the text the line keeps. One DATA unit a line has its values read so.
struct ScpiValueList {
  bool present;
  uint32_t dwOffset;
  int32_t count;          // every value given, those past kInstrumentMaxPoints too
  int32_t error;          // the first fault among them, as the parser gives it; 0: none
  const double *pValues;  // the first kInstrumentMaxPoints of them
};

struct ScpiLineReader {
  uint32_t dwLength;     // bytes of the line kept so far
  uint32_t dwTotal;      // bytes of the line so far, kept or read as values
  bool overflow;         // the line has passed its limit: nothing more is kept until its LF
  bool pendingCR;        // a CR came outside a block: kept only if no LF follows
  bool ended;            // the last call ended a line: the next byte starts a new one
  char quote;            // the quote of the string being read, or 0
  int32_t blockState;    // where a '#' has led: see the reader
  int32_t blockDigits;   // digits of the block's length still to come
  uint64_t blockLeft;    // the block's bytes still to come
  uint32_t dwUnitStart;  // where the program unit being read starts in aLine
  bool unitSeen;         // its first ',' came: whether it is a DATA unit is settled
  bool inValues;         // the bytes are a DATA unit's values
  uint32_t dwValueText;  // bytes of the value being read
  char aValueText[kScpiValueTextSize];
  ScpiValueList list;          // pValues is set when the line is complete
  std::vector<double> values;  // the list's values
  char aLine[kScpiLineLimit];
};

// For a new line; the values' memory stays for the next.
void ResetScpiLineReader(ScpiLineReader *reader);

// Takes bytes until a line ends or all dwCount are taken; *pUsed tells how many were taken.
// After kLineComplete the line stays in aLine and list until the next call.
ScpiLineStep TakeScpiLineBytes(ScpiLineReader *reader, const uint8_t *pBytes, size_t dwCount,
                               size_t *pUsed);

// Whether a line is an HTTP request line ("POST / HTTP/1.1"): an upper-case method, a space, a
// target without spaces, a space, HTTP/1.0 or HTTP/1.1 (a CR before the LF already left out). No
// SCPI command looks like it, and every HTTP request begins with one: a client that sends it is a
// browser or a script speaking HTTP to the instrument's port, never an instrument client.
bool IsHttpRequestLine(const char *pLine, size_t dwLength);
