#include "tests/link/link_recorders_win32.h"

#include <commctrl.h>

#include "app/app_handles.h"
#include "res/resource_ids.h"

HWND statusBar = nullptr;

namespace {

CRITICAL_SECTION recordLock;
std::vector<std::wstring> statusTexts;
std::wstring buttonText = L"START";
std::vector<RecordedBox> boxes;
HWND panelWindow = nullptr;

LRESULT CALLBACK StatusBarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == SB_SETTEXTW) {
    EnterCriticalSection(&recordLock);
    statusTexts.push_back(wParam == 0 ? std::wstring(reinterpret_cast<LPCWSTR>(lParam))
                                      : L"<part or flags " + std::to_wstring(wParam) + L">");
    LeaveCriticalSection(&recordLock);
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK ButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT) {
    EnterCriticalSection(&recordLock);
    buttonText = reinterpret_cast<LPCWSTR>(lParam);
    LeaveCriticalSection(&recordLock);
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HANDLE windowsReady = nullptr;

DWORD WINAPI RecorderThread(LPVOID) {
  WNDCLASSW statusClass = {};
  statusClass.lpfnWndProc = StatusBarProc;
  statusClass.lpszClassName = L"VarnoltTestStatusBar";
  RegisterClassW(&statusClass);
  WNDCLASSW buttonClass = {};
  buttonClass.lpfnWndProc = ButtonProc;
  buttonClass.lpszClassName = L"VarnoltTestButton";
  RegisterClassW(&buttonClass);
  WNDCLASSW panelClass = {};
  panelClass.lpfnWndProc = DefWindowProcW;
  panelClass.lpszClassName = L"VarnoltTestPanel";
  RegisterClassW(&panelClass);

  // Message-only windows: they need no display, and nothing is ever drawn.
  panelWindow = CreateWindowExW(0, L"VarnoltTestPanel", L"", 0, 0, 0, 10, 10, HWND_MESSAGE,
                                nullptr, nullptr, nullptr);
  CreateWindowExW(0, L"VarnoltTestButton", L"START", WS_CHILD, 0, 0, 5, 5, panelWindow,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_START_STOP)), nullptr, nullptr);
  statusBar = CreateWindowExW(0, L"VarnoltTestStatusBar", L"", WS_CHILD, 0, 0, 5, 5, panelWindow,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)), nullptr, nullptr);
  SetEvent(windowsReady);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}

} // namespace

HWND StartRecorders() {
  InitializeCriticalSection(&recordLock);
  windowsReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CloseHandle(CreateThread(nullptr, 0, RecorderThread, nullptr, 0, nullptr));
  WaitForSingleObject(windowsReady, 10000);
  return panelWindow;
}

std::vector<std::wstring> StatusTexts() {
  EnterCriticalSection(&recordLock);
  std::vector<std::wstring> texts = statusTexts;
  LeaveCriticalSection(&recordLock);
  return texts;
}

std::wstring ButtonText() {
  EnterCriticalSection(&recordLock);
  std::wstring text = buttonText;
  LeaveCriticalSection(&recordLock);
  return text;
}

std::vector<RecordedBox> RecordedBoxes() {
  EnterCriticalSection(&recordLock);
  std::vector<RecordedBox> recorded = boxes;
  LeaveCriticalSection(&recordLock);
  return recorded;
}

int WINAPI RecordMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  EnterCriticalSection(&recordLock);
  boxes.push_back({text ? text : L"", caption ? caption : L"", owner, type});
  LeaveCriticalSection(&recordLock);
  return IDOK;
}

bool WaitForStatusCount(size_t count, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (StatusTexts().size() < count) {
    if (GetTickCount() - start > milliseconds) return false;
    Sleep(10);
  }
  return true;
}
