#include "link/start_writes.h"

#include "signal/wavetable.h"

void SettingsTable(const GeneratorSettings &settings, uint16_t samples[360]) {
  for (int32_t i = 0; i < kWaveTableSamples; i++) samples[i] = 0;
  BuildWaveTable(samples, settings.waveformIndex, settings.amplitudeCode, settings.dutyPercent);
}

WriteSequence StartSequence(const GeneratorSettings &settings, const uint16_t samples[360]) {
  WriteSequence sequence = {};
  uint8_t aOutputBuffer[kTableImageBytes];
  SerialiseTable(samples, aOutputBuffer);
  for (int32_t block = 0; block < kTableBlocks; block++) {
    PortWrite &write = sequence.aWrites[sequence.count++];
    FillTableBlock(aOutputBuffer, block, write.aBytes);
    write.dwLength = kBlockBytes;
  }
  PortWrite &packet = sequence.aWrites[sequence.count++];
  FillSettingsPacket(settings.frequencyCode, settings.amplitudeCode, settings.offsetCode,
                     settings.dutyPercent, settings.spwIndex, settings.jumperIndex, packet.aBytes);
  packet.dwLength = kSettingsPacketBytes;
  PortWrite &run = sequence.aWrites[sequence.count++];
  run.aBytes[0] = kRunByte;
  run.dwLength = 1;
  for (int32_t i = 0; i < sequence.count; i++) sequence.totalBytes += sequence.aWrites[i].dwLength;
  return sequence;
}

WriteSequence StopSequence() {
  WriteSequence sequence = {};
  sequence.aWrites[0].aBytes[0] = kStopByte;
  sequence.aWrites[0].dwLength = 1;
  sequence.count = 1;
  sequence.totalBytes = 1;
  return sequence;
}

void WriteHexText(const PortWrite &write, char *szText, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  if (size == 0) return;
  size_t out = 0;
  for (int32_t i = 0; i < write.dwLength && i < kBlockBytes; i++) {
    if (out + (i > 0 ? 3 : 2) >= size) break;
    if (i > 0) szText[out++] = ' ';
    szText[out++] = kDigits[write.aBytes[i] >> 4];
    szText[out++] = kDigits[write.aBytes[i] & 0x0F];
  }
  szText[out] = '\0';
}
