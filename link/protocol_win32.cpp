// The host's side of the protocol: the start sequence (12 blocks, the settings packet, 0x55) and
// the stop byte, each write completed before the next buffer is touched.
#include <windows.h>

#include <iterator>

#include "link/device_link.h"
#include "link/wire_format.h"
#include "res/resource_ids.h"
#include "signal/wavetable.h"

namespace {

// At most one write is outstanding. A pending write is waited for on the record's own event, so
// the panel's thread sleeps instead of polling (at 9600 baud the 741 bytes of a start take 0.77 s).
// A write that failed at once never goes pending, so it is not waited for: its record may never
// complete.
void WritePortBytes(HANDLE portHandle, OVERLAPPED *writeOverlapped, const uint8_t *aBytes,
                    DWORD dwLen) {
  if (!WriteFile(portHandle, aBytes, dwLen, nullptr, writeOverlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return;
  }
  DWORD dwWritten = 0;
  GetOverlappedResult(portHandle, writeOverlapped, &dwWritten, TRUE);
}

}  // namespace

void SendWaveTable(uint16_t samples[360], HANDLE portHandle, OVERLAPPED *writeOverlapped,
                   int32_t waveformIndex, uint16_t amplitudeCode, uint8_t dutyPercent) {
  uint8_t aOutputBuffer[kTableImageBytes];
  uint8_t aUSBChunkBuffer[kBlockBytes];
  BuildWaveTable(samples, waveformIndex, amplitudeCode, dutyPercent);
  SerialiseTable(samples, aOutputBuffer);
  for (int32_t block = 0; block < kTableBlocks; ++block) {
    FillTableBlock(aOutputBuffer, block, aUSBChunkBuffer);
    WritePortBytes(portHandle, writeOverlapped, aUSBChunkBuffer, std::size(aUSBChunkBuffer));
  }
}

void SendSettingsPacket(uint16_t frequencyCode, uint16_t amplitudeCode, uint8_t offsetCode,
                        uint8_t dutyPercent, int32_t spwIndex, int32_t jumperIndex,
                        HANDLE portHandle, OVERLAPPED *writeOverlapped) {
  uint8_t aConfig[kSettingsPacketBytes];
  FillSettingsPacket(frequencyCode, amplitudeCode, offsetCode, dutyPercent, spwIndex, jumperIndex,
                     aConfig);
  WritePortBytes(portHandle, writeOverlapped, aConfig, std::size(aConfig));
}

void SendControlByte(uint8_t command, HANDLE portHandle, OVERLAPPED *writeOverlapped) {
  uint8_t aCommand[1] = {command};
  WritePortBytes(portHandle, writeOverlapped, aCommand, std::size(aCommand));
}

void SendRunCommand(HWND panel, DeviceLink *link, uint16_t samples[360],
                    GeneratorSettings settings) {
  if (link->deviceRunning.load() == 0) {
    SendWaveTable(samples, link->portHandle, &link->writeOverlapped, settings.waveformIndex,
                  settings.amplitudeCode, settings.dutyPercent);
    SendSettingsPacket(settings.frequencyCode, settings.amplitudeCode, settings.offsetCode,
                       settings.dutyPercent, settings.spwIndex, settings.jumperIndex,
                       link->portHandle, &link->writeOverlapped);
    SendControlByte(kRunByte, link->portHandle, &link->writeOverlapped);
    SetDlgItemTextW(panel, IDC_START_STOP, L"STOP");
  } else {
    SendControlByte(kStopByte, link->portHandle, &link->writeOverlapped);
    SetDlgItemTextW(panel, IDC_START_STOP, L"START");
  }
}
