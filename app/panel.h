#pragma once
// The control panel, its About box and the receiver thread's entry.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>

// The panel's own messages, in the program's range: a dialog takes WM_USER itself (DM_GETDEFID,
// sent on every Enter), so a refresh there would rebuild the table at each key press.
enum : UINT {
  // Rebuild the table and redraw the preview. Sent synchronously, wParam and lParam 0.
  kRefreshMessage = WM_APP,
  // Posted by the receiver when the port is gone: the panel closes it and ends the link.
  kLinkLostMessage = WM_APP + 1,
};

// What the refresh does, from the current settings and deviceRunning; start-up calls it directly
// for the first preview.
void RebuildAndDrawPreview(HWND panel);

// Thread entry: the receiver on the program's one device link; never returns.
DWORD WINAPI ReceiverThread(LPVOID);

INT_PTR CALLBACK MainDialogProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam);

// The duty that the up-down control shows once the change it announces is applied.
int32_t ReadDutyPercent(const NMUPDOWN *change);
int32_t ReadSpwIndex(HWND panel);
void SelectJumper(HWND panel, int32_t index);
void ClosePanel(HWND panel, HANDLE portHandle, HANDLE receiverThreadHandle);

void ShowAboutBox(HWND panel, HINSTANCE instance);
INT_PTR CALLBACK AboutDialogProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam);
