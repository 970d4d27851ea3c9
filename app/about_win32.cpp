// The About box: the program's name, its version and a link to the product's web page.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "app/panel.h"
#include "res/resource_ids.h"

namespace {

const wchar_t kProductAddress[] = L"http://varnolt.example";
const char kVersion[] = "0.1";

INT_PTR OnInitAbout(HWND box) {
  SetDlgItemTextA(box, IDC_ABOUT_VERSION, kVersion);
  return TRUE;
}

INT_PTR OnAboutNotify(const NMHDR *notification) {
  // Only the link sends NM_CLICK here; it always opens the fixed address, whatever its text says.
  if (notification->code == static_cast<UINT>(NM_CLICK)) {
    ShellExecuteW(nullptr, L"open", kProductAddress, nullptr, nullptr, SW_SHOW);
  }
  return TRUE;
}

INT_PTR OnAboutCommand(HWND box, WORD commandId) {
  // Escape and the close button end the box; Enter (IDOK) does not.
  if (commandId != IDCANCEL) return FALSE;
  EndDialog(box, IDCANCEL);
  return TRUE;
}

}  // namespace

INT_PTR CALLBACK AboutDialogProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: return OnInitAbout(box);
    case WM_NOTIFY: return OnAboutNotify(reinterpret_cast<const NMHDR *>(lParam));
    case WM_COMMAND: return OnAboutCommand(box, LOWORD(wParam));
    default: return FALSE;
  }
}

void ShowAboutBox(HWND panel, HINSTANCE instance) {
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUT), panel, AboutDialogProc, 0);
}
