// Drives a running varnolt panel from outside, in the same Wine prefix, for the end-to-end tests.
// Reads one command a line from stdin (or takes each command-line argument as one command) and
// answers every command with exactly one line on stdout, so that the harness can assert on it:
//   ok ... | text ID TEXT | status TEXT | check ID N | list ID CURSEL COUNT ENTRY|ENTRY|...
//   rect ID L T R B | origin X Y | about open|closed|none ... | closed MS | error WHAT
// Texts come back as UTF-8. Clicks that end in a modal loop (the About box) are posted, everything
// else is sent, so that an answer comes only after the panel has handled the command.
#include <windows.h>
#include <commctrl.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "res/resource_ids.h"

namespace {

const wchar_t kPanelCaption[] = L"varnolt.example";
const wchar_t kAboutCaption[] = L"About";
const UINT kSendTimeoutMs = 10000;

HWND panelWindow = nullptr;
HWND aboutWindow = nullptr;

void WriteLine(const char *szLine) {
  fputs(szLine, stdout);
  fputc('\n', stdout);
  fflush(stdout);
}

void WriteError(const char *szWhat) {
  char szLine[300];
  snprintf(szLine, sizeof(szLine), "error %s", szWhat);
  WriteLine(szLine);
}

// Wide text to UTF-8; control characters become spaces so that every answer stays on one line.
void WideToUtf8(const wchar_t *szWide, char *szOut, int outSize) {
  int written = WideCharToMultiByte(CP_UTF8, 0, szWide, -1, szOut, outSize, nullptr, nullptr);
  if (written <= 0) {
    szOut[0] = '\0';
    return;
  }
  for (int i = 0; szOut[i] != '\0'; i++) {
    if (szOut[i] == '\r' || szOut[i] == '\n' || szOut[i] == '\t') szOut[i] = ' ';
  }
}

// WM_GETTEXT crosses processes (the system copies the text back); a hung panel gives "".
void ReadWindowText(HWND window, wchar_t *szText, int textSize) {
  szText[0] = L'\0';
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, static_cast<WPARAM>(textSize),
                           reinterpret_cast<LPARAM>(szText), SMTO_NORMAL, kSendTimeoutMs, &result)) {
    szText[0] = L'\0';
  }
  szText[textSize - 1] = L'\0';
}

LRESULT SendToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result)) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

bool FindPanel() {
  if (panelWindow != nullptr && IsWindow(panelWindow)) return true;
  panelWindow = FindWindowW(L"#32770", kPanelCaption);
  return panelWindow != nullptr;
}

HWND PanelControl(int controlId) {
  if (!FindPanel()) return nullptr;
  return GetDlgItem(panelWindow, controlId);
}

// Finds a visible dialog of the given caption whose control `controlId` has a text; -1 on time-out.
DWORD WaitForDialogText(const wchar_t *szCaption, int controlId, DWORD timeoutMs, HWND *foundWindow) {
  DWORD dwStart = GetTickCount();
  for (;;) {
    HWND window = FindWindowW(L"#32770", szCaption);
    if (window != nullptr && IsWindowVisible(window)) {
      HWND control = GetDlgItem(window, controlId);
      wchar_t szText[64];
      if (control != nullptr) ReadWindowText(control, szText, ARRAYSIZE(szText));
      if (control != nullptr && szText[0] != L'\0') {
        *foundWindow = window;
        return GetTickCount() - dwStart;
      }
    }
    if (GetTickCount() - dwStart > timeoutMs) return static_cast<DWORD>(-1);
    Sleep(1);
  }
}

// A message box in place of the panel: its start-up failed. The program titles it "VARNOLT".
bool WriteStartFailure() {
  HWND window = FindWindowW(L"#32770", L"VARNOLT");
  if (window == nullptr) window = FindWindowW(L"#32770", kPanelCaption);
  if (window == nullptr || GetDlgItem(window, IDC_STATUS_BAR) != nullptr) return false;
  HWND text = GetDlgItem(window, 0xFFFF);  // the message box's text
  if (text == nullptr) return false;
  wchar_t szText[300];
  ReadWindowText(text, szText, ARRAYSIZE(szText));
  char szUtf8[900];
  WideToUtf8(szText, szUtf8, sizeof(szUtf8));
  char szLine[1000];
  snprintf(szLine, sizeof(szLine), "wait: message box: %s", szUtf8);
  WriteError(szLine);
  return true;
}

// wait MS: the panel is visible and its status bar has its first text.
void CommandWait(const char *szArgs) {
  DWORD timeoutMs = static_cast<DWORD>(strtoul(szArgs, nullptr, 10));
  if (timeoutMs == 0) timeoutMs = 20000;
  HWND window = nullptr;
  DWORD elapsed = static_cast<DWORD>(-1);
  DWORD dwStart = GetTickCount();
  // In slices, so that a failed start-up's message box is told at once.
  while (GetTickCount() - dwStart <= timeoutMs) {
    elapsed = WaitForDialogText(kPanelCaption, IDC_STATUS_BAR, 200, &window);
    if (elapsed != static_cast<DWORD>(-1)) break;
    if (WriteStartFailure()) return;
  }
  if (elapsed == static_cast<DWORD>(-1)) {
    WriteError("wait: no panel with a status text");
    return;
  }
  elapsed = GetTickCount() - dwStart;
  panelWindow = window;
  char szLine[64];
  snprintf(szLine, sizeof(szLine), "ok wait %lu", static_cast<unsigned long>(elapsed));
  WriteLine(szLine);
}

// waitready MS ID CAPTION: for the start-up measurement; any dialog, any control.
void CommandWaitReady(const char *szArgs) {
  unsigned long timeoutMs = 0;
  int controlId = 0;
  int consumed = 0;
  if (sscanf(szArgs, "%lu %d %n", &timeoutMs, &controlId, &consumed) < 2) {
    WriteError("waitready: usage waitready MS ID CAPTION");
    return;
  }
  wchar_t szCaption[128];
  if (MultiByteToWideChar(CP_UTF8, 0, szArgs + consumed, -1, szCaption, ARRAYSIZE(szCaption)) <= 0) {
    WriteError("waitready: bad caption");
    return;
  }
  HWND window = nullptr;
  DWORD elapsed = WaitForDialogText(szCaption, controlId, timeoutMs, &window);
  if (elapsed == static_cast<DWORD>(-1)) {
    WriteError("waitready: time-out");
    return;
  }
  char szLine[64];
  snprintf(szLine, sizeof(szLine), "ready %lu", static_cast<unsigned long>(elapsed));
  WriteLine(szLine);
}

// waittext ID MS: waits until a panel control has a non-empty text.
void CommandWaitText(const char *szArgs) {
  int controlId = 0;
  unsigned long timeoutMs = 0;
  if (sscanf(szArgs, "%d %lu", &controlId, &timeoutMs) < 2) {
    WriteError("waittext: usage waittext ID MS");
    return;
  }
  DWORD dwStart = GetTickCount();
  for (;;) {
    HWND control = PanelControl(controlId);
    wchar_t szText[400];
    if (control != nullptr) ReadWindowText(control, szText, ARRAYSIZE(szText));
    if (control != nullptr && szText[0] != L'\0') {
      char szUtf8[1300];
      WideToUtf8(szText, szUtf8, sizeof(szUtf8));
      char szLine[1400];
      snprintf(szLine, sizeof(szLine), "text %d %s", controlId, szUtf8);
      WriteLine(szLine);
      return;
    }
    if (GetTickCount() - dwStart > timeoutMs) {
      WriteError("waittext: time-out");
      return;
    }
    Sleep(2);
  }
}

void WriteControlText(HWND control, int controlId) {
  wchar_t szText[400];
  ReadWindowText(control, szText, ARRAYSIZE(szText));
  char szUtf8[1300];
  WideToUtf8(szText, szUtf8, sizeof(szUtf8));
  char szLine[1400];
  snprintf(szLine, sizeof(szLine), "text %d %s", controlId, szUtf8);
  WriteLine(szLine);
}

// get ID: the text of a panel control (edit, button, combo box, status bar 102).
void CommandGet(const char *szArgs) {
  int controlId = atoi(szArgs);
  HWND control = PanelControl(controlId);
  if (control == nullptr) {
    WriteError("get: no such control");
    return;
  }
  WriteControlText(control, controlId);
}

// status: part 0 of the status bar; WM_GETTEXT gives part 0 and crosses processes.
void CommandStatus(const char *) {
  HWND control = PanelControl(IDC_STATUS_BAR);
  if (control == nullptr) {
    WriteError("status: no status bar");
    return;
  }
  wchar_t szText[400];
  ReadWindowText(control, szText, ARRAYSIZE(szText));
  char szUtf8[1300];
  WideToUtf8(szText, szUtf8, sizeof(szUtf8));
  char szLine[1400];
  snprintf(szLine, sizeof(szLine), "status %s", szUtf8);
  WriteLine(szLine);
}

// settext ID TEXT: overwrites a control's text, so that a later rewrite by the panel shows.
void CommandSetText(const char *szArgs) {
  int controlId = 0;
  int consumed = 0;
  if (sscanf(szArgs, "%d %n", &controlId, &consumed) < 1) {
    WriteError("settext: usage settext ID TEXT");
    return;
  }
  HWND control = PanelControl(controlId);
  if (control == nullptr) {
    WriteError("settext: no such control");
    return;
  }
  wchar_t szText[256];
  if (MultiByteToWideChar(CP_UTF8, 0, szArgs + consumed, -1, szText, ARRAYSIZE(szText)) <= 0) {
    WriteError("settext: bad text");
    return;
  }
  SendToWindow(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(szText));
  WriteLine("ok settext");
}

// click ID: BM_CLICK, sent; the button checks itself (radio buttons) and notifies the panel.
void CommandClick(const char *szArgs) {
  int controlId = atoi(szArgs);
  HWND control = PanelControl(controlId);
  if (control == nullptr) {
    WriteError("click: no such control");
    return;
  }
  SendToWindow(control, BM_CLICK, 0, 0);
  WriteLine("ok click");
}

// post ID: a posted WM_COMMAND/BN_CLICKED, for buttons whose handler runs a modal loop.
void CommandPost(const char *szArgs) {
  int controlId = atoi(szArgs);
  HWND control = PanelControl(controlId);
  if (control == nullptr) {
    WriteError("post: no such control");
    return;
  }
  PostMessageW(panelWindow, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
               reinterpret_cast<LPARAM>(control));
  WriteLine("ok post");
}

// command ID CODE: a sent WM_COMMAND with any notification code; answers the procedure's result.
void CommandCommand(const char *szArgs) {
  int controlId = 0;
  int notifyCode = 0;
  if (sscanf(szArgs, "%d %d", &controlId, &notifyCode) < 2) {
    WriteError("command: usage command ID CODE");
    return;
  }
  HWND control = PanelControl(controlId);
  if (control == nullptr) {
    WriteError("command: no such control");
    return;
  }
  LRESULT result = SendToWindow(panelWindow, WM_COMMAND, MAKEWPARAM(controlId, notifyCode),
                                reinterpret_cast<LPARAM>(control));
  char szLine[64];
  snprintf(szLine, sizeof(szLine), "ok command %ld", static_cast<long>(result));
  WriteLine(szLine);
}

// select ID INDEX: what a user's choice in a drop-down list amounts to.
void CommandSelect(const char *szArgs) {
  int controlId = 0;
  int index = 0;
  if (sscanf(szArgs, "%d %d", &controlId, &index) < 2) {
    WriteError("select: usage select ID INDEX");
    return;
  }
  HWND control = PanelControl(controlId);
  if (control == nullptr) {
    WriteError("select: no such control");
    return;
  }
  SendToWindow(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendToWindow(panelWindow, WM_COMMAND, MAKEWPARAM(controlId, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(control));
  WriteLine("ok select");
}

// list ID: selection, count and every entry of a combo box.
void CommandList(const char *szArgs) {
  int controlId = atoi(szArgs);
  HWND control = PanelControl(controlId);
  if (control == nullptr) {
    WriteError("list: no such control");
    return;
  }
  LRESULT selection = SendToWindow(control, CB_GETCURSEL, 0, 0);
  LRESULT count = SendToWindow(control, CB_GETCOUNT, 0, 0);
  char szLine[2000];
  int used = snprintf(szLine, sizeof(szLine), "list %d %ld %ld ", controlId,
                      static_cast<long>(selection), static_cast<long>(count));
  for (LRESULT i = 0; i < count && i < 20; i++) {
    wchar_t szEntry[256] = L"";
    if (SendToWindow(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= 255) break;
    SendToWindow(control, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(szEntry));
    szEntry[ARRAYSIZE(szEntry) - 1] = L'\0';
    char szUtf8[800];
    WideToUtf8(szEntry, szUtf8, sizeof(szUtf8));
    int room = static_cast<int>(sizeof(szLine)) - used;
    if (room <= 1) break;
    int added = snprintf(szLine + used, static_cast<size_t>(room), "%s%s", i == 0 ? "" : "|", szUtf8);
    if (added >= room) break;
    used += added;
  }
  WriteLine(szLine);
}

// check ID: BM_GETCHECK of a button.
void CommandCheck(const char *szArgs) {
  int controlId = atoi(szArgs);
  HWND control = PanelControl(controlId);
  if (control == nullptr) {
    WriteError("check: no such control");
    return;
  }
  char szLine[64];
  snprintf(szLine, sizeof(szLine), "check %d %ld", controlId,
           static_cast<long>(SendToWindow(control, BM_GETCHECK, 0, 0)));
  WriteLine(szLine);
}

// rect ID: a control's window rectangle in the panel's client coordinates.
void CommandRect(const char *szArgs) {
  int controlId = atoi(szArgs);
  HWND control = PanelControl(controlId);
  if (control == nullptr) {
    WriteError("rect: no such control");
    return;
  }
  RECT rcControl;
  GetWindowRect(control, &rcControl);
  POINT aCorners[2] = {{rcControl.left, rcControl.top}, {rcControl.right, rcControl.bottom}};
  ScreenToClient(panelWindow, &aCorners[0]);
  ScreenToClient(panelWindow, &aCorners[1]);
  char szLine[96];
  snprintf(szLine, sizeof(szLine), "rect %d %ld %ld %ld %ld", controlId, aCorners[0].x, aCorners[0].y,
           aCorners[1].x, aCorners[1].y);
  WriteLine(szLine);
}

// origin: where the panel's client area starts on the screen, and its size; frame: the window.
void CommandOrigin(const char *) {
  if (!FindPanel()) {
    WriteError("origin: no panel");
    return;
  }
  POINT ptOrigin = {0, 0};
  ClientToScreen(panelWindow, &ptOrigin);
  RECT rcClient;
  GetClientRect(panelWindow, &rcClient);
  RECT rcWindow;
  GetWindowRect(panelWindow, &rcWindow);
  char szLine[160];
  snprintf(szLine, sizeof(szLine), "origin %ld %ld %ld %ld %ld %ld %ld %ld", ptOrigin.x, ptOrigin.y,
           rcClient.right, rcClient.bottom, rcWindow.left, rcWindow.top, rcWindow.right,
           rcWindow.bottom);
  WriteLine(szLine);
}

// The duty field after a click or key on its up-down control; waits up to timeoutMs for a change.
void WriteDutyAfter(const wchar_t *szBefore, DWORD timeoutMs) {
  HWND field = PanelControl(IDC_DUTY);
  wchar_t szNow[64] = L"";
  DWORD dwStart = GetTickCount();
  for (;;) {
    if (field != nullptr) ReadWindowText(field, szNow, ARRAYSIZE(szNow));
    if (wcscmp(szNow, szBefore) != 0 || GetTickCount() - dwStart > timeoutMs) break;
    Sleep(5);
  }
  // Whatever the control still has queued (the scroll message after the change) is handled first.
  SendToWindow(panelWindow, WM_NULL, 0, 0);
  char szUtf8[200];
  WideToUtf8(szNow, szUtf8, sizeof(szUtf8));
  char szLine[256];
  snprintf(szLine, sizeof(szLine), "updown %s", szUtf8);
  WriteLine(szLine);
}

// updown up|down mouse|postmouse|key [MS]: one step of the duty control, the way a user does it.
//   mouse: the cursor on the arrow and a real button press and release (SendInput);
//   postmouse: button messages posted to the control at the arrow's client point;
//   key: the arrow key posted to the buddy field (UDS_ARROWKEYS).
void CommandUpDown(const char *szArgs) {
  char szDirection[16] = "";
  char szMethod[16] = "";
  unsigned long timeoutMs = 1500;
  if (sscanf(szArgs, "%15s %15s %lu", szDirection, szMethod, &timeoutMs) < 2) {
    WriteError("updown: usage updown up|down mouse|postmouse|key [MS]");
    return;
  }
  bool up = strcmp(szDirection, "up") == 0;
  HWND upDown = PanelControl(IDC_DUTY_UPDOWN);
  HWND buddy = PanelControl(IDC_DUTY);
  if (upDown == nullptr || buddy == nullptr) {
    WriteError("updown: no duty control");
    return;
  }
  wchar_t szBefore[64];
  ReadWindowText(buddy, szBefore, ARRAYSIZE(szBefore));
  RECT rcClient;
  GetClientRect(upDown, &rcClient);
  int clientX = rcClient.right / 2;
  int clientY = up ? rcClient.bottom / 4 : (rcClient.bottom * 3) / 4;
  if (strcmp(szMethod, "mouse") == 0) {
    POINT ptArrow = {clientX, clientY};
    ClientToScreen(upDown, &ptArrow);
    SetCursorPos(ptArrow.x, ptArrow.y);
    Sleep(20);
    INPUT aInput[1];
    ZeroMemory(aInput, sizeof(aInput));
    aInput[0].type = INPUT_MOUSE;
    aInput[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    SendInput(1, aInput, sizeof(INPUT));
    Sleep(40);  // well under the control's auto-repeat delay
    aInput[0].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, aInput, sizeof(INPUT));
  } else if (strcmp(szMethod, "postmouse") == 0) {
    PostMessageW(upDown, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(clientX, clientY));
    PostMessageW(upDown, WM_LBUTTONUP, 0, MAKELPARAM(clientX, clientY));
  } else if (strcmp(szMethod, "key") == 0) {
    // Wine's up-down control takes an arrow key at the end of the range as a step the other way
    // while the cursor rests on its opposite arrow: keep the cursor off the control for keys.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 1, GetSystemMetrics(SM_CYSCREEN) - 1);
    WPARAM key = up ? VK_UP : VK_DOWN;
    UINT scanCode = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    PostMessageW(buddy, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scanCode << 16) | (1u << 24)));
    PostMessageW(buddy, WM_KEYUP, key,
                 static_cast<LPARAM>(1 | (scanCode << 16) | (1u << 24) | (3u << 30)));
  } else {
    WriteError("updown: unknown method");
    return;
  }
  WriteDutyAfter(szBefore, timeoutMs);
}

// key ID|panel VK: a key posted to a panel control or to the panel itself (Enter 13, Escape 27).
void CommandKey(const char *szArgs) {
  char szTarget[16] = "";
  unsigned virtualKey = 0;
  if (sscanf(szArgs, "%15s %u", szTarget, &virtualKey) < 2 || !FindPanel()) {
    WriteError("key: usage key ID|panel VK");
    return;
  }
  HWND target = strcmp(szTarget, "panel") == 0 ? panelWindow : PanelControl(atoi(szTarget));
  if (target == nullptr) {
    WriteError("key: no such control");
    return;
  }
  UINT scanCode = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, virtualKey, static_cast<LPARAM>(1 | (scanCode << 16)));
  PostMessageW(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(1 | (scanCode << 16) | (3u << 30)));
  SendToWindow(panelWindow, WM_NULL, 0, 0);
  WriteLine("ok key");
}

// enabled: whether the panel takes input (a modal box disables it).
void CommandEnabled(const char *) {
  if (!FindPanel()) {
    WriteError("enabled: no panel");
    return;
  }
  WriteLine(IsWindowEnabled(panelWindow) ? "enabled 1" : "enabled 0");
}

bool AboutIsOurs(HWND window) {
  if (window == nullptr || !FindPanel()) return false;
  DWORD dwAboutProcess = 0;
  DWORD dwPanelProcess = 0;
  GetWindowThreadProcessId(window, &dwAboutProcess);
  GetWindowThreadProcessId(panelWindow, &dwPanelProcess);
  return dwAboutProcess == dwPanelProcess;
}

// about MS: presses "?" and waits for the About box of the panel's process.
void CommandAbout(const char *szArgs) {
  DWORD timeoutMs = static_cast<DWORD>(strtoul(szArgs, nullptr, 10));
  if (timeoutMs == 0) timeoutMs = 5000;
  HWND button = PanelControl(IDC_ABOUT);
  if (button == nullptr) {
    WriteError("about: no \"?\" button");
    return;
  }
  PostMessageW(panelWindow, WM_COMMAND, MAKEWPARAM(IDC_ABOUT, BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
  DWORD dwStart = GetTickCount();
  aboutWindow = nullptr;
  for (;;) {
    HWND window = FindWindowW(L"#32770", kAboutCaption);
    if (window != nullptr && IsWindowVisible(window) && AboutIsOurs(window)) {
      aboutWindow = window;
      break;
    }
    if (GetTickCount() - dwStart > timeoutMs) break;
    Sleep(5);
  }
  if (aboutWindow == nullptr) {
    WriteLine("about none");
    return;
  }
  // Where the box's client area starts, in the panel's client coordinates: the dialog manager
  // puts a template's 0, 0 (no DS_CENTER, no DS_ABSALIGN) on the owner's client origin.
  POINT ptBox = {0, 0};
  ClientToScreen(aboutWindow, &ptBox);
  ScreenToClient(panelWindow, &ptBox);
  char szLine[160];
  snprintf(szLine, sizeof(szLine), "about open owner %d panelenabled %d at %ld %ld",
           GetWindow(aboutWindow, GW_OWNER) == panelWindow ? 1 : 0,
           IsWindowEnabled(panelWindow) ? 1 : 0, ptBox.x, ptBox.y);
  WriteLine(szLine);
}

// abouttext ID: a control's text in the open About box.
void CommandAboutText(const char *szArgs) {
  int controlId = atoi(szArgs);
  HWND control = aboutWindow != nullptr ? GetDlgItem(aboutWindow, controlId) : nullptr;
  if (control == nullptr) {
    WriteError("abouttext: no About box or no such control");
    return;
  }
  WriteControlText(control, controlId);
}

// aboutrect ID: a control's rectangle in the About box's client coordinates, and the box's own.
void CommandAboutRect(const char *szArgs) {
  int controlId = atoi(szArgs);
  HWND control = aboutWindow != nullptr ? GetDlgItem(aboutWindow, controlId) : nullptr;
  if (control == nullptr) {
    WriteError("aboutrect: no About box or no such control");
    return;
  }
  RECT rcControl;
  GetWindowRect(control, &rcControl);
  POINT aCorners[2] = {{rcControl.left, rcControl.top}, {rcControl.right, rcControl.bottom}};
  ScreenToClient(aboutWindow, &aCorners[0]);
  ScreenToClient(aboutWindow, &aCorners[1]);
  char szLine[96];
  snprintf(szLine, sizeof(szLine), "rect %d %ld %ld %ld %ld", controlId, aCorners[0].x, aCorners[0].y,
           aCorners[1].x, aCorners[1].y);
  WriteLine(szLine);
}

// aboutkey return|escape|sysclose [post|input]: Enter or Escape to the box, or its caption's close.
void CommandAboutKey(const char *szArgs) {
  char szKey[16] = "";
  char szMethod[16] = "post";
  if (sscanf(szArgs, "%15s %15s", szKey, szMethod) < 1 || aboutWindow == nullptr) {
    WriteError("aboutkey: usage aboutkey return|escape|sysclose [post|input], box open");
    return;
  }
  if (strcmp(szKey, "sysclose") == 0) {
    PostMessageW(aboutWindow, WM_SYSCOMMAND, SC_CLOSE, 0);
    WriteLine("ok aboutkey");
    return;
  }
  WORD virtualKey = strcmp(szKey, "escape") == 0 ? VK_ESCAPE : VK_RETURN;
  UINT scanCode = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
  if (strcmp(szMethod, "input") == 0) {
    SetForegroundWindow(aboutWindow);
    keybd_event(static_cast<BYTE>(virtualKey), static_cast<BYTE>(scanCode), 0, 0);
    keybd_event(static_cast<BYTE>(virtualKey), static_cast<BYTE>(scanCode), KEYEVENTF_KEYUP, 0);
  } else {
    HWND target = GetWindow(aboutWindow, GW_ENABLEDPOPUP);
    if (target == nullptr) target = aboutWindow;
    PostMessageW(target, WM_KEYDOWN, virtualKey, static_cast<LPARAM>(1 | (scanCode << 16)));
    PostMessageW(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(1 | (scanCode << 16) | (3u << 30)));
  }
  WriteLine("ok aboutkey");
}

// aboutstate MS: waits up to MS for the box to close; "about open" if it is still there.
void CommandAboutState(const char *szArgs) {
  DWORD timeoutMs = static_cast<DWORD>(strtoul(szArgs, nullptr, 10));
  DWORD dwStart = GetTickCount();
  for (;;) {
    bool open = aboutWindow != nullptr && IsWindow(aboutWindow) && IsWindowVisible(aboutWindow);
    if (!open) {
      WriteLine("about closed");
      return;
    }
    if (GetTickCount() - dwStart >= timeoutMs) {
      WriteLine("about open");
      return;
    }
    Sleep(10);
  }
}

// close MS [CAPTION]: WM_CLOSE to the panel (or to the dialog of that caption); answers when the
// window is gone.
void CommandClose(const char *szArgs) {
  unsigned long timeoutMs = 0;
  int consumed = 0;
  if (sscanf(szArgs, "%lu %n", &timeoutMs, &consumed) < 1 || timeoutMs == 0) timeoutMs = 5000;
  HWND window = nullptr;
  if (consumed > 0 && szArgs[consumed] != '\0') {
    wchar_t szCaption[128];
    if (MultiByteToWideChar(CP_UTF8, 0, szArgs + consumed, -1, szCaption, ARRAYSIZE(szCaption)) > 0) {
      window = FindWindowW(L"#32770", szCaption);
    }
  } else if (FindPanel()) {
    window = panelWindow;
  }
  if (window == nullptr) {
    WriteError("close: no such window");
    return;
  }
  PostMessageW(window, WM_CLOSE, 0, 0);
  DWORD dwStart = GetTickCount();
  while (IsWindow(window)) {
    if (GetTickCount() - dwStart > timeoutMs) {
      WriteError("close: the panel is still there");
      return;
    }
    Sleep(5);
  }
  char szLine[64];
  snprintf(szLine, sizeof(szLine), "closed %lu", static_cast<unsigned long>(GetTickCount() - dwStart));
  WriteLine(szLine);
  if (window == panelWindow) panelWindow = nullptr;
}

void CommandSleep(const char *szArgs) {
  Sleep(static_cast<DWORD>(strtoul(szArgs, nullptr, 10)));
  WriteLine("ok sleep");
}

struct DriverCommand {
  const char *name;
  void (*run)(const char *szArgs);
};

const DriverCommand kCommands[] = {
    {"wait", CommandWait},           {"waitready", CommandWaitReady}, {"waittext", CommandWaitText},
    {"get", CommandGet},             {"status", CommandStatus},       {"settext", CommandSetText},
    {"click", CommandClick},         {"post", CommandPost},           {"command", CommandCommand},
    {"select", CommandSelect},       {"list", CommandList},           {"check", CommandCheck},
    {"rect", CommandRect},           {"origin", CommandOrigin},       {"updown", CommandUpDown},
    {"key", CommandKey},             {"enabled", CommandEnabled},     {"about", CommandAbout},
    {"abouttext", CommandAboutText}, {"aboutrect", CommandAboutRect}, {"aboutkey", CommandAboutKey},
    {"aboutstate", CommandAboutState}, {"close", CommandClose},       {"sleep", CommandSleep},
};

// Runs one command line; false for "quit".
bool RunCommandLine(char *szLine) {
  size_t length = strlen(szLine);
  while (length > 0 && (szLine[length - 1] == '\n' || szLine[length - 1] == '\r')) szLine[--length] = '\0';
  char *pcArgs = szLine;
  while (*pcArgs != '\0' && *pcArgs != ' ') pcArgs++;
  size_t nameLength = static_cast<size_t>(pcArgs - szLine);
  while (*pcArgs == ' ') pcArgs++;
  if (nameLength == 0) return true;
  if (nameLength == 4 && strncmp(szLine, "quit", 4) == 0) return false;
  for (const DriverCommand &command : kCommands) {
    if (strlen(command.name) == nameLength && strncmp(command.name, szLine, nameLength) == 0) {
      command.run(pcArgs);
      return true;
    }
  }
  WriteError("unknown command");
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  if (argc > 1) {
    for (int i = 1; i < argc; i++) {
      char szLine[1024];
      snprintf(szLine, sizeof(szLine), "%s", argv[i]);
      if (!RunCommandLine(szLine)) break;
    }
    return 0;
  }
  char szLine[1024];
  while (fgets(szLine, sizeof(szLine), stdin) != nullptr) {
    if (!RunCommandLine(szLine)) break;
  }
  return 0;
}
