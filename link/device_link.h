#pragma once
// The serial link to the generator (Win32).
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "signal/settings.h"

struct DeviceLink {
  wchar_t PortPath[20];            // "\\.\" and one port name; the prefix lets COM10 and above open
  HANDLE portHandle;               // null until CONNECT; INVALID_HANDLE_VALUE after a failed open
  OVERLAPPED readOverlapped;       // the receiver's event waits and reads; manual-reset event
  OVERLAPPED writeOverlapped;      // every write; manual-reset event, each write waits on it
  DWORD eventMask;                 // filled by each event wait, not examined
  std::atomic<int32_t> connected;  // 1 while a link is open; stored with release
  std::atomic<int32_t> deviceRunning;  // 1 while the generator's last report said running
  HANDLE linkReady;  // set after the release store of a 1 in connected; wakes the receiver
  HWND statusBar;    // given at connect: the receiver's texts go here
  // Posted by the receiver, wParam and lParam 0, to the status bar's parent when the port is
  // gone. The program chooses it, so that the link names no window message of the program's; 0
  // posts nothing.
  UINT linkLostMessage;
};

// The seam of the port set-up's error boxes ("Can't create DCB!" and the four others). Every box
// of ConnectDevice is shown through this pointer, with no owner window, the text, the caption and
// MB_ICONERROR. The program leaves it at MessageBoxW; a test points it at a recorder of its own
// (same signature) so that it sees which box would be shown and no box waits for a click.
typedef int(WINAPI *LinkMessageBoxProc)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
extern LinkMessageBoxProc linkMessageBox;

// The manual-reset event behind linkReady, made on first use by whichever thread comes first
// (the receiver or StoreConnected); never closed.
HANDLE LinkReadyEvent(DeviceLink *link);

// Searches the generator by its USB hardware id, opens and configures its port, shows the outcome
// on the status bar and keeps the status bar for the receiver. 1 on success, 0 otherwise.
int32_t ConnectDevice(DeviceLink *link, HWND statusBar);

// The panel's thread stores ConnectDevice's result here, and 0 once a lost link is closed: a
// release store of `connected`; a 1 then wakes the receiver.
void StoreConnected(DeviceLink *link, int32_t result);

// Closes what a connect opened: the port and the events of both overlapped records. The receiver
// no longer uses them once it has reported the link lost.
void CloseDeviceLink(DeviceLink *link);

// Every sender writes through writeOverlapped and waits on its event until the write has completed
// before it touches the next buffer; a write that fails at once is not waited for.
// START/STOP: a whole start (table, settings, run byte) while deviceRunning is 0, else the stop
// byte; relabels the START/STOP button.
void SendRunCommand(HWND panel, DeviceLink *link, uint16_t samples[360],
                    GeneratorSettings settings);
void SendWaveTable(uint16_t samples[360], HANDLE portHandle, OVERLAPPED *writeOverlapped,
                   int32_t waveformIndex, uint16_t amplitudeCode, uint8_t dutyPercent);
void SendSettingsPacket(uint16_t frequencyCode, uint16_t amplitudeCode, uint8_t offsetCode,
                        uint8_t dutyPercent, int32_t spwIndex, int32_t jumperIndex,
                        HANDLE portHandle, OVERLAPPED *writeOverlapped);
void SendControlByte(uint8_t command, HANDLE portHandle, OVERLAPPED *writeOverlapped);

// The receiver, run by the program's receiver thread for the life of the process. Blocks (no
// processor time) until a 1 in `connected` is published, then turns each lone report of the
// generator into deviceRunning and a status text. When the port is gone (the generator hung up,
// or the panel closed it) it shows "Device NOT connected->Connection lost", sets deviceRunning to
// 0, posts linkLostMessage and waits, blocked, for the next link.
[[noreturn]] void RunReceiver(DeviceLink *link);
