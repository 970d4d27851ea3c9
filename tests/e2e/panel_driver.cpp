// Reads and presses a running dialog from outside, in the same Wine prefix (tests/rig/panel.py
// starts it). One command a line on stdin, one UTF-8 answer line on stdout; the dialog is the
// panel until `dialog` names another; ID 102 is the status bar, 0 the client area:
//   dialog CAPTION -> ok     wait ID MS -> ready ELAPSED|error (visible, control has a text)
//   get ID -> text TEXT      check ID -> check N        list ID -> list CURSEL A|B|...
//   rect ID -> rect L T R B|error                       about ID -> text TEXT|none (About box)
//   click ID -> ok|error     redraw -> ok|error         close -> closed|error (once it is gone)
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

namespace {

const UINT kSendTimeoutMs = 10000;

wchar_t dialogCaption[128] = L"varnolt.example";
HWND dialogWindow = nullptr;

__attribute__((format(printf, 1, 2))) void Answer(const char *szFormat, ...) {
  va_list args;
  va_start(args, szFormat);
  vprintf(szFormat, args);
  va_end(args);
  printf("\n");
  fflush(stdout);
}

void AnswerText(const char *szPrefix, const wchar_t *szText) {
  char szUtf8[1024] = "";
  WideCharToMultiByte(CP_UTF8, 0, szText, -1, szUtf8, static_cast<int>(std::size(szUtf8)), nullptr,
                      nullptr);
  szUtf8[std::size(szUtf8) - 1] = '\0';
  Answer("%s%s", szPrefix, szUtf8);
}

LRESULT SendToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (window == nullptr ||
      !SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result)) {
    return -1;
  }
  return static_cast<LRESULT>(result);
}

// WM_GETTEXT crosses processes: the system copies the text back.
void ReadText(HWND window, wchar_t *szText, size_t dwSize) {
  szText[0] = L'\0';
  SendToWindow(window, WM_GETTEXT, dwSize, reinterpret_cast<LPARAM>(szText));
  szText[dwSize - 1] = L'\0';
}

HWND Dialog() {
  if (dialogWindow == nullptr || !IsWindow(dialogWindow)) {
    dialogWindow = FindWindowW(L"#32770", dialogCaption);
  }
  return dialogWindow;
}

HWND Control(int controlId) {
  return Dialog() == nullptr ? nullptr : GetDlgItem(dialogWindow, controlId);
}

void CommandDialog(int, const wchar_t *szCaption) {
  wcsncpy(dialogCaption, szCaption, std::size(dialogCaption) - 1);
  dialogWindow = nullptr;
  Answer("ok");
}

// A dialog can be found before its start-up has filled it: wait for the control's text.
void CommandWait(int controlId, const wchar_t *szArgument) {
  DWORD dwStart = GetTickCount();
  DWORD dwTimeout = wcstoul(szArgument, nullptr, 10);
  while (GetTickCount() - dwStart < dwTimeout) {
    wchar_t szText[64];
    ReadText(Control(controlId), szText, std::size(szText));
    if (szText[0] != L'\0' && IsWindowVisible(dialogWindow)) {
      return Answer("ready %lu", GetTickCount() - dwStart);
    }
    Sleep(1);
  }
  Answer("error no visible dialog with that text");
}

void CommandGet(int controlId, const wchar_t *) {
  wchar_t szText[400];
  ReadText(Control(controlId), szText, std::size(szText));
  AnswerText("text ", szText);
}

void CommandCheck(int controlId, const wchar_t *) {
  Answer("check %ld", static_cast<long>(SendToWindow(Control(controlId), BM_GETCHECK, 0, 0)));
}

void CommandList(int controlId, const wchar_t *) {
  HWND list = Control(controlId);
  std::wstring line = std::to_wstring(SendToWindow(list, CB_GETCURSEL, 0, 0)) + L" ";
  LRESULT count = SendToWindow(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; i++) {
    wchar_t szEntry[256] = L"";
    if (SendToWindow(list, CB_GETLBTEXTLEN, i, 0) >= 255) break;
    SendToWindow(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(szEntry));
    line += (i == 0 ? L"" : L"|") + std::wstring(szEntry);
  }
  AnswerText("list ", line.c_str());
}

void CommandRect(int controlId, const wchar_t *) {
  HWND control = Control(controlId);
  RECT rc = {0, 0, 0, 0};
  if (controlId == 0 && dialogWindow != nullptr) {
    GetClientRect(dialogWindow, &rc);
    MapWindowPoints(dialogWindow, nullptr, reinterpret_cast<POINT *>(&rc), 2);
  } else if (control == nullptr || !GetWindowRect(control, &rc)) {
    return Answer("error no such control");
  }
  Answer("rect %ld %ld %ld %ld", rc.left, rc.top, rc.right, rc.bottom);
}

// The About box is modal: a dialog of its own, owned by the panel.
void CommandAbout(int controlId, const wchar_t *) {
  HWND about = FindWindowW(L"#32770", L"About");
  if (about == nullptr || !IsWindowVisible(about) || GetWindow(about, GW_OWNER) != Dialog()) {
    return Answer("none");
  }
  wchar_t szText[64];
  ReadText(GetDlgItem(about, controlId), szText, std::size(szText));
  AnswerText("text ", szText);
}

void CommandClick(int controlId, const wchar_t *) {
  Answer(SendToWindow(Control(controlId), BM_CLICK, 0, 0) != -1 ? "ok" : "error no such control");
}

// What the system does when a window that covered the dialog goes away.
void CommandRedraw(int, const wchar_t *) {
  const UINT uFlags = RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW;
  bool redrawn = Dialog() != nullptr && RedrawWindow(dialogWindow, nullptr, nullptr, uFlags) &&
                 SendToWindow(dialogWindow, WM_NULL, 0, 0) != -1;
  Answer(redrawn ? "ok" : "error no dialog to redraw");
}

void CommandClose(int, const wchar_t *) {
  DWORD dwStart = GetTickCount();
  HWND dialog = Dialog();
  if (dialog != nullptr) PostMessageW(dialog, WM_CLOSE, 0, 0);
  while (dialog != nullptr && IsWindow(dialog) && GetTickCount() - dwStart < 10000) Sleep(5);
  Answer(dialog != nullptr && !IsWindow(dialog) ? "closed" : "error the dialog is still there");
}

struct DriverCommand {
  const char *name;
  void (*run)(int number, const wchar_t *szRest);
};

const DriverCommand kCommands[] = {
    {"dialog", CommandDialog}, {"wait", CommandWait},   {"get", CommandGet},
    {"check", CommandCheck},   {"list", CommandList},   {"rect", CommandRect},
    {"about", CommandAbout},   {"click", CommandClick}, {"redraw", CommandRedraw},
    {"close", CommandClose},
};

}  // namespace

// "NAME [NUMBER] [REST]": dialog takes the rest as the caption, wait the number and the rest.
int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  char szLine[256];
  while (fgets(szLine, static_cast<int>(std::size(szLine)), stdin) != nullptr) {
    szLine[strcspn(szLine, "\r\n")] = '\0';
    char szName[16] = "";
    int consumed = 0;
    if (sscanf(szLine, "%15s %n", szName, &consumed) < 1 || strcmp(szName, "quit") == 0) break;
    char *pszRest = szLine + consumed;
    int number = 0;
    if (strcmp(szName, "dialog") != 0) {
      char *pszEnd = pszRest;
      number = static_cast<int>(strtol(pszRest, &pszEnd, 10));
      pszRest = pszEnd + strspn(pszEnd, " ");
    }
    wchar_t szRest[128];
    MultiByteToWideChar(CP_UTF8, 0, pszRest, -1, szRest, static_cast<int>(std::size(szRest)));
    szRest[std::size(szRest) - 1] = L'\0';
    const DriverCommand *found = nullptr;
    for (const DriverCommand &command : kCommands) {
      if (strcmp(command.name, szName) == 0) found = &command;
    }
    found != nullptr ? found->run(number, szRest) : Answer("error unknown command");
  }
  return 0;
}
