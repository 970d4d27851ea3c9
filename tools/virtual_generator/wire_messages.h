// The generator's side of the wire: splitting what arrived in one burst into the host's messages,
// following a start sequence through its blocks, settings packet and run byte, and the JSON text of
// each log line. Pure: no I/O here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kBlockLength = 61;
constexpr size_t kBlockDataLength = 60;
constexpr int kBlockCount = 12;
constexpr size_t kSettingsLength = 8;
constexpr size_t kTableImageLength = 720;
constexpr int kSampleCount = 360;
constexpr uint8_t kRunByte = 0x55;
constexpr uint8_t kStopByte = 0xAA;

enum MessageKind { kMessageBlock, kMessageSettings, kMessageRun, kMessageStop, kMessageUnknown };

// The start sequence received so far: blocks 0 to 11 in order, the settings packet, the run byte.
struct StartProgress {
  int blocks;         // blocks received since the sequence began
  bool indexesOk;     // every block carried the index of its place
  int firstBadIndex;  // place of the first block with a wrong index, or -1
  bool settingsSeen;
  bool settingsOk;  // the packet came right after twelve good blocks
  bool strayBytes;  // bytes that fit no message arrived inside the sequence
  size_t length;    // bytes of the sequence so far
  uint8_t aImage[kTableImageLength];
};

// What a message did to the start sequence; filled by ApplyMessage.
struct MessageOutcome {
  bool ok;            // block: right index; settings: in its place; start: the whole sequence
  int expectedIndex;  // block: the index its place called for
  bool startEnded;    // a run byte closed a start attempt (ok says whether it was valid)
  bool stopped;       // a stop byte arrived
};

StartProgress EmptyStartProgress();

// Length and kind of the next message among `remaining` bytes (at least one) that begin with
// `firstByte`. Messages have no framing: a burst is split by the lengths the host writes
// (61-byte blocks, the 8-byte packet, single run/stop bytes); what fits none is one unknown
// message.
MessageKind NextMessage(size_t remaining, uint8_t firstByte, size_t *pdwLength);

// Moves the start sequence on by one message; `progress` is updated in place, `done` (when a run
// byte ends a start) receives the finished sequence before it is cleared.
MessageOutcome ApplyMessage(StartProgress *progress, MessageKind kind, const uint8_t *aMessage,
                            size_t dwLength, StartProgress *done);

std::string HexText(const uint8_t *aBytes, size_t dwLength);
// Returns the byte count written to aOut, or -1 when the text is no even run of hex digits
// (spaces and tabs between bytes allowed) or does not fit.
long ParseHexText(const char *szText, uint8_t *aOut, size_t dwCapacity);

// One JSON log line (without the newline) for a message, a finished start, a sent report.
std::string MessageLogLine(MessageKind kind, const uint8_t *aMessage, size_t dwLength,
                           const MessageOutcome &outcome, long burst, long milliseconds);
std::string StartLogLine(const StartProgress &done, bool ok, long burst, long milliseconds);
std::string SentLogLine(const uint8_t *aBytes, size_t dwLength, const char *szCause,
                        long milliseconds);
