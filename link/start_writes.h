#pragma once
// The writes of a start and of a stop: the same bytes, in the same writes, as the panel's START
// and STOP send, built by the same code.
#include <cstddef>
#include <cstdint>

#include "link/wire_format.h"
#include "signal/settings.h"
#include "signal/wavetable.h"

enum : int32_t {
  kStartWrites = kTableBlocks + 2,  // twelve blocks, the settings packet, the run byte
  kWriteHexSize = kBlockBytes * 3,  // "xx " for each byte, the last space a terminator
};

struct PortWrite {
  uint8_t aBytes[kBlockBytes];
  int32_t dwLength;
};

struct WriteSequence {
  PortWrite aWrites[kStartWrites];
  int32_t count;
  int32_t totalBytes;
};

// The table the panel would upload for these settings (the random wave continues the process's
// one sequence, so a process's first call gives its first random table).
void SettingsTable(const GeneratorSettings &settings, uint16_t samples[360]);

// Blocks 0 to 11 of the table image, the settings packet and 0x55: 741 bytes in 14 writes.
WriteSequence StartSequence(const GeneratorSettings &settings, const uint16_t samples[360]);

// One write of the one byte 0xAA.
WriteSequence StopSequence();

// The bytes as lowercase hex pairs separated by single spaces; always terminated.
void WriteHexText(const PortWrite &write, char *szText, size_t size);
