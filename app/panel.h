#pragma once
// The control panel, its About box and the values that start-up and the panel share.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>

#include "signal/settings.h"

// The user's settings and the one waveform table; defined with start-up.
extern GeneratorSettings generatorSettings;
extern uint16_t WaveTable[360];

// The panel's refresh: rebuild the table, redraw the preview. Sent synchronously, wParam and lParam 0.
enum : UINT { kRefreshMessage = WM_USER };

// What the refresh does, from the current settings and deviceRunning; start-up calls it directly
// for the first preview.
void RebuildAndDrawPreview(HWND panel);

INT_PTR CALLBACK MainDialogProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam);

// The duty that the up-down control shows once the change it announces is applied.
int32_t ReadDutyPercent(const NMUPDOWN *change);
int32_t ReadSpwIndex(HWND panel);
void SelectJumper(HWND panel, int32_t index);
void ClosePanel(HWND panel, HANDLE portHandle, HANDLE receiverThreadHandle);

void ShowAboutBox(HWND panel, HINSTANCE instance);
INT_PTR CALLBACK AboutDialogProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
