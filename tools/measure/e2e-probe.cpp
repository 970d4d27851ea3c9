// Watches and presses a dialog from outside, in the same Wine prefix, for the measurement scripts.
// One command a line on stdin, "NAME ID CAPTION", one answer line on stdout:
//   ready ID CAPTION   ready ELAPSED_MS | error   waits up to 30 s for control ID to have a text
//   click ID CAPTION   ok | error                 BM_CLICK on a control, answered once handled
//   text ID CAPTION    text TEXT                  a control's text (UTF-8)
//   close 0 CAPTION    closed | error             WM_CLOSE; answered once the dialog is gone
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

const UINT kSendTimeoutMs = 10000;

HWND FindControl(const wchar_t *szCaption, int controlId) {
  HWND dialog = FindWindowW(L"#32770", szCaption);
  return dialog == nullptr || !IsWindowVisible(dialog) ? nullptr : GetDlgItem(dialog, controlId);
}

// WM_GETTEXT crosses processes: the system copies the text back.
bool ReadText(HWND control, wchar_t *szText, size_t dwSize) {
  DWORD_PTR result = 0;
  szText[0] = L'\0';
  bool ok = control != nullptr &&
            SendMessageTimeoutW(control, WM_GETTEXT, dwSize, reinterpret_cast<LPARAM>(szText),
                                SMTO_NORMAL, kSendTimeoutMs, &result) != 0;
  szText[dwSize - 1] = L'\0';
  return ok && szText[0] != L'\0';
}

void Answer(const char *szLine) {
  printf("%s\n", szLine);
  fflush(stdout);
}

void RunCommand(const char *szName, int controlId, const wchar_t *szCaption) {
  DWORD dwStart = GetTickCount();
  wchar_t szText[256];
  char szLine[600];
  if (strcmp(szName, "ready") == 0) {
    while (!ReadText(FindControl(szCaption, controlId), szText, std::size(szText)) &&
           GetTickCount() - dwStart < 30000) {
      Sleep(1);
    }
    snprintf(szLine, std::size(szLine), "ready %lu", GetTickCount() - dwStart);
    Answer(szText[0] != L'\0' ? szLine : "error");
  } else if (strcmp(szName, "click") == 0) {
    DWORD_PTR result = 0;
    HWND control = FindControl(szCaption, controlId);
    Answer(control != nullptr && SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_NORMAL,
                                                     kSendTimeoutMs, &result)
               ? "ok"
               : "error");
  } else if (strcmp(szName, "text") == 0) {
    ReadText(FindControl(szCaption, controlId), szText, std::size(szText));
    snprintf(szLine, std::size(szLine), "text ");
    WideCharToMultiByte(CP_UTF8, 0, szText, -1, szLine + 5, static_cast<int>(std::size(szLine)) - 5,
                        nullptr, nullptr);
    szLine[std::size(szLine) - 1] = '\0';
    Answer(szLine);
  } else if (strcmp(szName, "close") == 0) {
    HWND dialog = FindWindowW(L"#32770", szCaption);
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    while (dialog != nullptr && IsWindow(dialog) && GetTickCount() - dwStart < 10000) Sleep(5);
    Answer(dialog != nullptr && !IsWindow(dialog) ? "closed" : "error");
  } else {
    Answer("error unknown command");
  }
}

}  // namespace

int main() {
  char szLine[256];
  while (fgets(szLine, static_cast<int>(std::size(szLine)), stdin) != nullptr) {
    szLine[strcspn(szLine, "\r\n")] = '\0';
    char szName[16] = "";
    int number = 0;
    int consumed = 0;
    if (sscanf(szLine, "%15s %d %n", szName, &number, &consumed) < 2) break;
    wchar_t szCaption[128];
    MultiByteToWideChar(CP_UTF8, 0, szLine + consumed, -1, szCaption,
                        static_cast<int>(std::size(szCaption)));
    szCaption[std::size(szCaption) - 1] = L'\0';
    RunCommand(szName, number, szCaption);
  }
  return 0;
}
