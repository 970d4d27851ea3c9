// The control panel's dialog procedure: every button, list, jumper and the duty control change
// one setting and then refresh the preview; CONNECT and START/STOP hand over to the device link.
// A repaint replays the picture of the last refresh; a lost link is closed here, on the panel's
// thread, the only writer of `connected`.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdint>

#include "app/duty_change.h"
#include "app/panel.h"
#include "app/process_values.h"
#include "link/device_link.h"
#include "preview/paint_preview_win32.h"
#include "preview/preview_model.h"
#include "res/resource_ids.h"
#include "signal/steppers.h"
#include "signal/wavetable.h"

namespace {

const int32_t kCoarse = 1;
const int32_t kFine = 0;

// The picture of the last refresh. A repaint shows it again: it builds no new table (a random wave
// would change) and does not read deviceRunning afresh (the colour changes only at a refresh).
PreviewModel shownPreview;
bool previewShown = false;

void RefreshPreview(HWND panel) {
  SendMessageW(panel, kRefreshMessage, 0, 0);
}

INT_PTR OnRefresh(HWND panel) {
  RebuildAndDrawPreview(panel);
  return TRUE;
}

INT_PTR OnPaint(HWND panel) {
  PAINTSTRUCT paint;
  HDC hdc = BeginPaint(panel, &paint);
  if (hdc != nullptr && previewShown) PaintPreview(panel, hdc, shownPreview);
  EndPaint(panel, &paint);
  return TRUE;
}

// The receiver has shown the lost link and set deviceRunning to 0; it waits for the next link.
// From now on START/STOP does nothing and CONNECT searches again.
INT_PTR OnLinkLost(HWND panel) {
  CloseDeviceLink(&deviceLink);
  StoreConnected(&deviceLink, 0);
  SetDlgItemTextW(panel, IDC_START_STOP, L"START");
  return TRUE;
}

INT_PTR OnConnect() {
  // While a link is open, CONNECT must not search or open anything.
  if (deviceLink.connected.load(std::memory_order_acquire) == 0) {
    StoreConnected(&deviceLink, ConnectDevice(&deviceLink, statusBar));
  }
  return TRUE;
}

INT_PTR OnStartStop(HWND panel) {
  if (deviceLink.connected.load(std::memory_order_acquire) == 1) {
    SendRunCommand(panel, &deviceLink, WaveTable, generatorSettings);
  }
  return TRUE;
}

INT_PTR OnWaveformList(HWND panel, WORD notifyCode) {
  if (notifyCode == CBN_SELCHANGE) {
    generatorSettings.waveformIndex =
        static_cast<int32_t>(SendDlgItemMessageW(panel, IDC_WAVEFORM_LIST, CB_GETCURSEL, 0, 0));
  }
  RefreshPreview(panel);
  return TRUE;
}

INT_PTR OnSpwList(HWND panel, WORD notifyCode) {
  if (notifyCode == CBN_SELCHANGE) {
    generatorSettings.spwIndex = ReadSpwIndex(panel);
  }
  ShowFrequency(panel, generatorSettings.frequencyCode, generatorSettings.spwIndex);
  RefreshPreview(panel);
  return TRUE;
}

INT_PTR OnFrequencyUp(HWND panel, int32_t coarse) {
  generatorSettings.frequencyCode =
      StepFrequencyUp(panel, generatorSettings.frequencyCode, generatorSettings.spwIndex, coarse);
  RefreshPreview(panel);
  return TRUE;
}

INT_PTR OnFrequencyDown(HWND panel, int32_t coarse) {
  generatorSettings.frequencyCode =
      StepFrequencyDown(panel, generatorSettings.frequencyCode, generatorSettings.spwIndex, coarse);
  RefreshPreview(panel);
  return TRUE;
}

INT_PTR OnOffsetUp(HWND panel) {
  generatorSettings.offsetCode =
      StepOffsetUp(panel, generatorSettings.offsetCode, generatorSettings.jumperIndex);
  RefreshPreview(panel);
  return TRUE;
}

INT_PTR OnOffsetDown(HWND panel) {
  generatorSettings.offsetCode =
      StepOffsetDown(panel, generatorSettings.offsetCode, generatorSettings.jumperIndex);
  RefreshPreview(panel);
  return TRUE;
}

INT_PTR OnAmplitudeUp(HWND panel, int32_t coarse) {
  generatorSettings.amplitudeCode = StepAmplitudeUp(panel, generatorSettings.amplitudeCode,
                                                    generatorSettings.jumperIndex, coarse);
  RefreshPreview(panel);
  return TRUE;
}

INT_PTR OnAmplitudeDown(HWND panel, int32_t coarse) {
  generatorSettings.amplitudeCode = StepAmplitudeDown(panel, generatorSettings.amplitudeCode,
                                                      generatorSettings.jumperIndex, coarse);
  RefreshPreview(panel);
  return TRUE;
}

INT_PTR OnJumper(HWND panel, int32_t index) {
  SelectJumper(panel, index);
  RefreshPreview(panel);
  return TRUE;
}

INT_PTR OnAbout(HWND panel) {
  ShowAboutBox(panel, appInstance);
  return TRUE;
}

INT_PTR OnCommand(HWND panel, WORD controlId, WORD notifyCode) {
  switch (controlId) {
    case IDC_ABOUT: return OnAbout(panel);
    case IDC_CONNECT: return OnConnect();
    case IDC_START_STOP: return OnStartStop(panel);
    case IDC_WAVEFORM_LIST: return OnWaveformList(panel, notifyCode);
    case IDC_SPW_LIST: return OnSpwList(panel, notifyCode);
    case IDC_FREQUENCY_UP_COARSE: return OnFrequencyUp(panel, kCoarse);
    case IDC_FREQUENCY_UP_FINE: return OnFrequencyUp(panel, kFine);
    case IDC_FREQUENCY_DOWN_COARSE: return OnFrequencyDown(panel, kCoarse);
    case IDC_FREQUENCY_DOWN_FINE: return OnFrequencyDown(panel, kFine);
    case IDC_OFFSET_UP: return OnOffsetUp(panel);
    case IDC_OFFSET_DOWN: return OnOffsetDown(panel);
    case IDC_AMPLITUDE_UP_COARSE: return OnAmplitudeUp(panel, kCoarse);
    case IDC_AMPLITUDE_UP_FINE: return OnAmplitudeUp(panel, kFine);
    case IDC_AMPLITUDE_DOWN_COARSE: return OnAmplitudeDown(panel, kCoarse);
    case IDC_AMPLITUDE_DOWN_FINE: return OnAmplitudeDown(panel, kFine);
    case IDC_JUMPER_J1:
    case IDC_JUMPER_J2:
    case IDC_JUMPER_J3:
    case IDC_JUMPER_J4: return OnJumper(panel, controlId - IDC_JUMPER_J1);
    default: return FALSE;  // the fields, the up-down control, Enter (IDOK), Escape (IDCANCEL)
  }
}

INT_PTR OnNotify(HWND panel, const NMHDR *notification) {
  // The result of the notification stays 0, so the up-down control goes on to apply the change.
  if (notification->code == static_cast<UINT>(UDN_DELTAPOS) &&
      notification->idFrom == IDC_DUTY_UPDOWN) {
    generatorSettings.dutyPercent =
        static_cast<uint8_t>(ReadDutyPercent(reinterpret_cast<const NMUPDOWN *>(notification)));
    RefreshPreview(panel);
  }
  return TRUE;
}

INT_PTR OnClose(HWND panel) {
  ClosePanel(panel, deviceLink.portHandle, receiverThread);
  return TRUE;
}

INT_PTR OnDestroy() {
  PostQuitMessage(0);
  return TRUE;
}

// A port that was never opened is null, or INVALID_HANDLE_VALUE after a failed open: neither is
// a handle of ours to close.
void CloseOwnHandle(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
}

}  // namespace

void RebuildAndDrawPreview(HWND panel) {
  BuildWaveTable(WaveTable, generatorSettings.waveformIndex, generatorSettings.amplitudeCode,
                 generatorSettings.dutyPercent);
  shownPreview = BuildPreviewModel(WaveTable, generatorSettings.spwIndex,
                                   deviceLink.deviceRunning.load(std::memory_order_acquire),
                                   generatorSettings.amplitudeCode, generatorSettings.offsetCode,
                                   generatorSettings.jumperIndex, generatorSettings.frequencyCode);
  previewShown = true;
  ShowPreview(panel, shownPreview);
}

int32_t ReadDutyPercent(const NMUPDOWN *change) {
  return DutyAfterChange(change->iPos, change->iDelta);
}

int32_t ReadSpwIndex(HWND panel) {
  return static_cast<int32_t>(SendDlgItemMessageW(panel, IDC_SPW_LIST, CB_GETCURSEL, 0, 0));
}

void SelectJumper(HWND panel, int32_t index) {
  generatorSettings.jumperIndex = index;
  ShowOffset(panel, generatorSettings.offsetCode, generatorSettings.jumperIndex);
  ShowAmplitude(panel, generatorSettings.amplitudeCode, generatorSettings.jumperIndex);
}

void ClosePanel(HWND panel, HANDLE portHandle, HANDLE receiverThreadHandle) {
  // Closing the thread's handle does not stop it; it ends with the process.
  CloseOwnHandle(receiverThreadHandle);
  CloseOwnHandle(portHandle);
  DestroyWindow(panel);
}

INT_PTR CALLBACK MainDialogProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return TRUE;  // start-up fills the controls once the panel exists
    case WM_COMMAND: return OnCommand(panel, LOWORD(wParam), HIWORD(wParam));
    case WM_NOTIFY: return OnNotify(panel, reinterpret_cast<const NMHDR *>(lParam));
    case WM_PAINT: return OnPaint(panel);
    case kRefreshMessage: return OnRefresh(panel);
    case kLinkLostMessage: return OnLinkLost(panel);
    case WM_CLOSE: return OnClose(panel);
    case WM_DESTROY: return OnDestroy();
    default: return FALSE;
  }
}
