// Looks at a running varnolt panel from outside, in the same Wine prefix, for the end-to-end tests.
// The user's clicks and keys come from the X server (xdotool); this program only reads what the
// panel shows and asks for a repaint. One command a line on stdin, one answer line on stdout,
// texts in UTF-8:
//   wait MS   ok | error WHAT       the panel is visible and its status bar has its first text
//   get ID    text TEXT             a panel control's text (102: the status bar's part 0)
//   check ID  check N               BM_GETCHECK of a panel button
//   list ID   list CURSEL A|B|...   a combo box's selection and entries
//   rect ID   rect L T R B          a control's rectangle on the screen (0: the client area)
//   about ID  text TEXT | none      a control of the panel's open About box
//   redraw    ok                    InvalidateRect and RedrawWindow of the whole panel
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "res/resource_ids.h"

namespace {

const wchar_t kPanelCaption[] = L"varnolt.example";
const UINT kSendTimeoutMs = 10000;

HWND panelWindow = nullptr;

void WriteLine(const char *szPrefix, const wchar_t *szText) {
  char szUtf8[1024] = "";
  WideCharToMultiByte(CP_UTF8, 0, szText, -1, szUtf8, static_cast<int>(std::size(szUtf8)), nullptr,
                      nullptr);
  szUtf8[std::size(szUtf8) - 1] = '\0';
  printf("%s%s\n", szPrefix, szUtf8);
  fflush(stdout);
}

LRESULT SendToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result)) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

// WM_GETTEXT crosses processes: the system copies the text back.
void ReadText(HWND window, wchar_t *szText, size_t dwSize) {
  szText[0] = L'\0';
  if (window != nullptr) SendToWindow(window, WM_GETTEXT, dwSize, reinterpret_cast<LPARAM>(szText));
  szText[dwSize - 1] = L'\0';
}

HWND PanelControl(int controlId) {
  if (panelWindow == nullptr || !IsWindow(panelWindow)) {
    panelWindow = FindWindowW(L"#32770", kPanelCaption);
  }
  return panelWindow == nullptr ? nullptr : GetDlgItem(panelWindow, controlId);
}

// The panel can be found before start-up has filled it: wait for the status bar's first text.
void CommandWait(int timeoutMs) {
  DWORD dwStart = GetTickCount();
  while (GetTickCount() - dwStart < static_cast<DWORD>(timeoutMs)) {
    wchar_t szStatus[64];
    ReadText(PanelControl(IDC_STATUS_BAR), szStatus, std::size(szStatus));
    if (szStatus[0] != L'\0' && IsWindowVisible(panelWindow)) {
      WriteLine("ok", L"");
      return;
    }
    Sleep(10);
  }
  WriteLine("error no panel with a status text", L"");
}

void CommandGet(int controlId) {
  wchar_t szText[400];
  ReadText(PanelControl(controlId), szText, std::size(szText));
  WriteLine("text ", szText);
}

void CommandCheck(int controlId) {
  char szLine[32];
  snprintf(szLine, std::size(szLine), "check %ld",
           static_cast<long>(SendToWindow(PanelControl(controlId), BM_GETCHECK, 0, 0)));
  WriteLine(szLine, L"");
}

void CommandList(int controlId) {
  HWND list = PanelControl(controlId);
  wchar_t szLine[1024];
  int used = swprintf(szLine, std::size(szLine), L"%ld ",
                      static_cast<long>(SendToWindow(list, CB_GETCURSEL, 0, 0)));
  LRESULT count = SendToWindow(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count && used < 700; i++) {
    wchar_t szEntry[256] = L"";
    if (SendToWindow(list, CB_GETLBTEXTLEN, i, 0) >= 255) break;
    SendToWindow(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(szEntry));
    used +=
        swprintf(szLine + used, std::size(szLine) - used, L"%ls%ls", i == 0 ? L"" : L"|", szEntry);
  }
  WriteLine("list ", szLine);
}

void CommandRect(int controlId) {
  HWND control = PanelControl(controlId);
  RECT rc = {0, 0, 0, 0};
  if (controlId == 0 && panelWindow != nullptr) {
    GetClientRect(panelWindow, &rc);
    MapWindowPoints(panelWindow, nullptr, reinterpret_cast<POINT *>(&rc), 2);
  } else if (control != nullptr) {
    GetWindowRect(control, &rc);
  }
  char szLine[96];
  snprintf(szLine, std::size(szLine), "rect %ld %ld %ld %ld", rc.left, rc.top, rc.right, rc.bottom);
  WriteLine(szLine, L"");
}

// The About box is modal: a dialog of its own, owned by the panel.
void CommandAbout(int controlId) {
  HWND about = FindWindowW(L"#32770", L"About");
  if (about == nullptr || !IsWindowVisible(about) || GetWindow(about, GW_OWNER) != panelWindow) {
    WriteLine("none", L"");
    return;
  }
  wchar_t szText[64];
  ReadText(GetDlgItem(about, controlId), szText, std::size(szText));
  WriteLine("text ", szText);
}

// What the system does when a window that covered the panel goes away.
void CommandRedraw(int) {
  PanelControl(0);
  InvalidateRect(panelWindow, nullptr, TRUE);
  RedrawWindow(panelWindow, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  SendToWindow(panelWindow, WM_NULL, 0, 0);
  WriteLine("ok", L"");
}

struct DriverCommand {
  const char *name;
  void (*run)(int argument);
};

const DriverCommand kCommands[] = {
    {"wait", CommandWait},     {"get", CommandGet},   {"check", CommandCheck},
    {"list", CommandList},     {"rect", CommandRect}, {"about", CommandAbout},
    {"redraw", CommandRedraw},
};

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  char szLine[256];
  while (fgets(szLine, static_cast<int>(std::size(szLine)), stdin) != nullptr) {
    char szName[16] = "";
    int argument = 0;
    if (sscanf(szLine, "%15s %d", szName, &argument) < 1 || strcmp(szName, "quit") == 0) break;
    const DriverCommand *found = nullptr;
    for (const DriverCommand &command : kCommands) {
      if (strcmp(command.name, szName) == 0) found = &command;
    }
    if (found != nullptr) {
      found->run(argument);
    } else {
      WriteLine("error unknown command", L"");
    }
  }
  return 0;
}
