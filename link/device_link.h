#pragma once
// The serial link to the generator (Win32).
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "signal/settings.h"

struct DeviceLink {
  wchar_t PortPath[20];             // "\\.\" and one port name; the prefix lets COM10 and above open
  HANDLE portHandle;                // null until CONNECT; INVALID_HANDLE_VALUE after a failed open
  OVERLAPPED readOverlapped;        // the receiver's event waits and reads; manual-reset event
  OVERLAPPED writeOverlapped;       // every write; no event
  DWORD eventMask;                  // filled by each event wait, not examined
  std::atomic<int32_t> connected;   // 1 once ConnectDevice succeeded; stored with release
  std::atomic<int32_t> deviceRunning; // 1 while the generator's last report said running
  HANDLE linkReady;                 // set after the release store of connected; wakes the receiver
};

extern DeviceLink deviceLink;

// Searches the generator by its USB hardware id, opens and configures its port, shows the outcome
// on the status bar. 1 on success, 0 otherwise.
int32_t ConnectDevice(DeviceLink *link, HWND statusBar);

// The CONNECT handler stores ConnectDevice's result here: a release store of `connected`, then the
// receiver is woken when the result is 1.
void StoreConnected(DeviceLink *link, int32_t result);

// START/STOP: a whole start (table, settings, run byte) while deviceRunning is 0, else the stop byte;
// relabels the button 1012.
void SendRunCommand(HWND panel, DeviceLink *link, uint16_t samples[360], GeneratorSettings settings);
void SendWaveTable(uint16_t samples[360], HANDLE portHandle, OVERLAPPED *writeOverlapped,
                   int32_t waveformIndex, uint16_t amplitudeCode, uint8_t dutyPercent);
void SendSettingsPacket(uint16_t frequencyCode, uint16_t amplitudeCode, uint8_t offsetCode,
                        uint8_t dutyPercent, int32_t spwIndex, int32_t jumperIndex,
                        HANDLE portHandle, OVERLAPPED *writeOverlapped);
void SendControlByte(uint8_t command, HANDLE portHandle, OVERLAPPED *writeOverlapped);

// The receiver thread's entry: waits for the link, then turns the generator's reports into
// deviceRunning and the status text. Takes no parameter.
DWORD WINAPI ReceiverThread(LPVOID);
