// Start-up: the panel with its status bar, the lists and fields at the defaults, the receiver
// thread, the first preview, then the message loop until the panel is destroyed. The generator is
// not looked for here; CONNECT does that.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <cwchar>
#include <iterator>

#include "app/panel.h"
#include "app/process_values.h"
#include "res/resource_ids.h"
#include "signal/settings.h"
#include "app/field_steppers.h"
#include "signal/wavetable.h"

namespace {

// Not the panel's caption, so that nothing looking for the panel by its caption finds this box.
const wchar_t kFailureCaption[] = L"VARNOLT";

const UINT kWaveformTexts[] = {IDS_SINE_WAVE,       IDS_SQUARE_WAVE,       IDS_TRIANGLE_WAVE,
                               IDS_SAW_TOOTH_WAVE,  IDS_REVERSED_SAW_WAVE, IDS_RANDOM_WAVE,
                               IDS_ZERO_CALIBRATION};
const UINT kSpwTexts[] = {IDS_SPW_360, IDS_SPW_180, IDS_SPW_90, IDS_SPW_45, IDS_SPW_24};

// Without the panel (or its status bar) nothing could ever end the message loop: say so and stop.
int FailStart(const wchar_t *szWhat) {
  DWORD dwError = GetLastError();
  wchar_t szMessage[160];
  swprintf(szMessage, std::size(szMessage), L"%ls could not be created (error %lu).", szWhat,
           static_cast<unsigned long>(dwError));
  MessageBoxW(nullptr, szMessage, kFailureCaption, MB_ICONERROR);
  return 1;
}

void FillList(HWND panel, int controlId, const UINT *stringIds, size_t count) {
  wchar_t szBuffer[256];
  for (size_t i = 0; i < count; ++i) {
    szBuffer[0] = L'\0';  // a missing string adds an empty entry, not the previous text
    LoadStringW(appInstance, stringIds[i], szBuffer, std::size(szBuffer));
    SendDlgItemMessageW(panel, controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(szBuffer));
  }
}

int RunMessageLoop(HWND panel) {
  MSG msg;
  for (;;) {
    BOOL result = GetMessageW(&msg, nullptr, 0, 0);
    if (result == 0) return 0;
    if (result == -1) return -1;
    if (!IsDialogMessageW(panel, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  appInstance = instance;
  InitCommonControls();

  HWND panel =
      CreateDialogParamW(appInstance, MAKEINTRESOURCEW(IDD_PANEL), nullptr, MainDialogProc, 0);
  if (panel == nullptr) return FailStart(L"The control panel");

  statusBar = CreateWindowExW(0, STATUSCLASSNAMEW, nullptr, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                              panel, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDC_STATUS_BAR)),
                              GetModuleHandleW(nullptr), nullptr);
  if (statusBar == nullptr) {
    int exitCode = FailStart(L"The status bar");
    DestroyWindow(panel);
    return exitCode;
  }
  SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(L"Hi there :)"));

  HICON icon = LoadIconW(appInstance, MAKEINTRESOURCEW(IDI_VARNOLT));
  // The Ptr call serves both word sizes (on 32-bit Windows it is SetClassLongW).
  SetClassLongPtrW(panel, GCLP_HICON, reinterpret_cast<LONG_PTR>(icon));

  FillList(panel, IDC_WAVEFORM_LIST, kWaveformTexts, std::size(kWaveformTexts));
  SendDlgItemMessageW(panel, IDC_WAVEFORM_LIST, CB_SETCURSEL,
                      static_cast<WPARAM>(generatorSettings.waveformIndex), 0);
  FillList(panel, IDC_SPW_LIST, kSpwTexts, std::size(kSpwTexts));
  SendDlgItemMessageW(panel, IDC_SPW_LIST, CB_SETCURSEL, 0, 0);

  ShowFrequency(panel, generatorSettings.frequencyCode, generatorSettings.spwIndex);
  SendDlgItemMessageW(panel, IDC_JUMPER_J1, BM_SETCHECK, BST_CHECKED, 0);
  ShowOffset(panel, generatorSettings.offsetCode, generatorSettings.jumperIndex);
  // The buddy setting writes the number into the duty field; the default range stays.
  SendDlgItemMessageW(panel, IDC_DUTY_UPDOWN, UDM_SETPOS, 0, generatorSettings.dutyPercent);
  ShowAmplitude(panel, generatorSettings.amplitudeCode, generatorSettings.jumperIndex);

  // The receiver waits by itself until CONNECT has opened the port.
  receiverThread = CreateThread(nullptr, 0, ReceiverThread, nullptr, 0, nullptr);

  ShowWindow(panel, showCommand);
  RebuildAndDrawPreview(panel);
  UpdateWindow(panel);

  return RunMessageLoop(panel);
}
