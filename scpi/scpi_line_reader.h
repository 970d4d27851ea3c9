#pragma once
// The lines of one SCPI client, as its bytes arrive in chunks of any size. A line ends at an LF
// outside a definite-length block (#3720 and 720 bytes of anything, LF included); a CR just
// before that LF is left out. A line longer than 64 KiB is dropped up to its LF. Quotes are
// followed only so that a '#' inside a string starts no block.
#include <cstddef>
#include <cstdint>

enum : uint32_t { kScpiLineLimit = 65536 };

enum ScpiLineStep : int32_t {
  kLineIncomplete = 0,  // every byte given was taken; the line goes on
  kLineComplete = 1,    // a line is in aLine[0..dwLength)
  kLineTooLong = 2,     // a line over the limit ended and was dropped
};

struct ScpiLineReader {
  uint32_t dwLength;    // bytes of the line kept so far
  bool overflow;        // the line has passed the limit: nothing more is kept until its LF
  bool pendingCR;       // a CR came outside a block: kept only if no LF follows
  bool ended;           // the last call ended a line: the next byte starts a new one
  char quote;           // the quote of the string being read, or 0
  int32_t blockState;   // where a '#' has led: see the reader
  int32_t blockDigits;  // digits of the block's length still to come
  uint64_t blockLeft;   // the block's bytes still to come
  char aLine[kScpiLineLimit];
};

void ResetScpiLineReader(ScpiLineReader *reader);

// Takes bytes until a line ends or all dwCount are taken; *pUsed tells how many were taken.
// After kLineComplete the line stays in aLine until the next call.
ScpiLineStep TakeScpiLineBytes(ScpiLineReader *reader, const uint8_t *pBytes, size_t dwCount,
                               size_t *pUsed);

// Whether a line is an HTTP request line ("POST / HTTP/1.1"): an upper-case method, a space, a
// target without spaces, a space, HTTP/1.0 or HTTP/1.1 (a CR before the LF already left out). No
// SCPI command looks like it, and every HTTP request begins with one: a client that sends it is a
// browser or a script speaking HTTP to the instrument's port, never an instrument client.
bool IsHttpRequestLine(const char *pLine, size_t dwLength);
