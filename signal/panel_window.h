#pragma once
// The panel's window handle, named without a platform header so that signal/ stays portable.
// On Windows this is exactly HWND (STRICT handles are pointers to struct HWND__).
struct HWND__;
typedef HWND__ *PanelWindow;
