// Baseline for the start-up measurement: creates a dialog hidden, shows it, paints one grey
// rectangle straight onto it and then writes field 1037, the same last step as the panel's first
// preview, so that the time until 1037 has a text compares like with like.
#include <windows.h>

namespace {

INT_PTR CALLBACK MinimalDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG: return TRUE;
    case WM_CLOSE: DestroyWindow(dialog); return TRUE;
    case WM_DESTROY: PostQuitMessage(0); return TRUE;
    default: return FALSE;
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  HWND dialog = CreateDialogParamW(instance, MAKEINTRESOURCEW(101), nullptr, MinimalDialogProc, 0);
  if (dialog == nullptr) return 3;
  ShowWindow(dialog, showCommand);
  HDC context = GetDC(dialog);
  HGDIOBJ oldPen = SelectObject(context, GetStockObject(DC_PEN));
  HGDIOBJ oldBrush = SelectObject(context, GetStockObject(DC_BRUSH));
  SetDCPenColor(context, RGB(224, 224, 224));
  SetDCBrushColor(context, RGB(224, 224, 224));
  Rectangle(context, 18, 122, 738, 380);
  SelectObject(context, oldPen);
  SelectObject(context, oldBrush);
  ReleaseDC(dialog, context);
  SetDlgItemTextA(dialog, 1037, "ready");
  UpdateWindow(dialog);
  MSG msg;
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
    if (got == -1) return -1;
    if (!IsDialogMessageW(dialog, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return 0;
}
