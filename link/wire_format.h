#pragma once
// The bytes on the wire between the host and the generator. 16-bit values go high byte first;
// there is no framing, the generator tells messages apart by their lengths.
#include <cstdint>

enum : int32_t {
  kTableImageBytes = 720,  // 360 samples of 16 bits
  kTableBlocks = 12,
  kBlockDataBytes = 60,
  kBlockBytes = 61,  // 60 image bytes and the block index
  kSettingsPacketBytes = 8,
  kRxBufferBytes = 1000,
};

enum : uint8_t { kRunByte = 0x55, kStopByte = 0xAA };

enum ReceivedReport : int32_t { kReportNone = 0, kReportRunning = 1, kReportStopped = 2 };

void SerialiseTable(const uint16_t samples[360], uint8_t aOutputBuffer[kTableImageBytes]);

// Block j: image bytes 60j..60j+59, then j. A block index outside 0..11 gives a block of zeros.
void FillTableBlock(const uint8_t aOutputBuffer[kTableImageBytes], int32_t blockIndex,
                    uint8_t aUSBChunkBuffer[kBlockBytes]);

void FillSettingsPacket(uint16_t frequencyCode, uint16_t amplitudeCode, uint8_t offsetCode,
                        uint8_t dutyPercent, int32_t spwIndex, int32_t jumperIndex,
                        uint8_t aConfig[kSettingsPacketBytes]);

// A report counts only when a read returned that one byte by itself.
ReceivedReport ClassifyReport(const uint8_t *aRxBuffer, uint32_t dwLen);
