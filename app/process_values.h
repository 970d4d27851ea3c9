#pragma once
// The program's process-wide values, all defined in process_values_win32.cpp. Start-up keeps the
// module instance, the status bar and the receiver thread; the panel owns the settings and the
// waveform table; the device link is shared by the panel's thread and the receiver thread.
#include <windows.h>

#include <cstdint>

#include "link/device_link.h"
#include "signal/settings.h"

extern HINSTANCE appInstance;
extern HWND statusBar;
extern HANDLE receiverThread;
extern GeneratorSettings generatorSettings;
extern uint16_t WaveTable[360];
extern DeviceLink deviceLink;
