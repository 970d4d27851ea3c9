#include "link/wire_format.h"

void SerialiseTable(const uint16_t samples[360], uint8_t aOutputBuffer[kTableImageBytes]) {
  for (int32_t i = 0; i < kTableImageBytes / 2; ++i) {
    aOutputBuffer[2 * i] = static_cast<uint8_t>(samples[i] >> 8);
    aOutputBuffer[2 * i + 1] = static_cast<uint8_t>(samples[i] & 0xFF);
  }
}

void FillTableBlock(const uint8_t aOutputBuffer[kTableImageBytes], int32_t blockIndex,
                    uint8_t aUSBChunkBuffer[kBlockBytes]) {
  for (int32_t i = 0; i < kBlockBytes; ++i) aUSBChunkBuffer[i] = 0;
  if (blockIndex < 0 || blockIndex >= kTableBlocks) return;
  for (int32_t i = 0; i < kBlockDataBytes; ++i)
    aUSBChunkBuffer[i] = aOutputBuffer[kBlockDataBytes * blockIndex + i];
  aUSBChunkBuffer[kBlockDataBytes] = static_cast<uint8_t>(blockIndex);
}

void FillSettingsPacket(uint16_t frequencyCode, uint16_t amplitudeCode, uint8_t offsetCode,
                        uint8_t dutyPercent, int32_t spwIndex, int32_t jumperIndex,
                        uint8_t aConfig[kSettingsPacketBytes]) {
  aConfig[0] = static_cast<uint8_t>(frequencyCode >> 8);
  aConfig[1] = static_cast<uint8_t>(frequencyCode & 0xFF);
  aConfig[2] = static_cast<uint8_t>(amplitudeCode >> 8);
  aConfig[3] = static_cast<uint8_t>(amplitudeCode & 0xFF);
  aConfig[4] = offsetCode;
  aConfig[5] = dutyPercent;
  aConfig[6] = static_cast<uint8_t>(spwIndex & 0xFF);
  aConfig[7] = static_cast<uint8_t>(jumperIndex & 0xFF);
}

ReceivedReport ClassifyReport(const uint8_t *aRxBuffer, uint32_t dwLen) {
  if (dwLen != 1 || aRxBuffer == nullptr) return kReportNone;
  if (aRxBuffer[0] == kRunByte) return kReportRunning;
  if (aRxBuffer[0] == kStopByte) return kReportStopped;
  return kReportNone;
}
