#pragma once
// Stand-ins for the panel in the link's Wine tests: a status bar and a START/STOP button that
// record the texts they are given, and a recorder behind the link's message-box seam.
#include <windows.h>

#include <string>
#include <vector>

struct RecordedBox {
  std::wstring text;
  std::wstring caption;
  HWND owner;
  UINT type;
};

// Creates the recording windows on a thread of their own that pumps messages, so that the
// receiver's SendMessageW is answered while the test's thread waits; sets statusBar.
// Returns the panel stand-in (its child 1012 is the button).
HWND StartRecorders();

std::vector<std::wstring> StatusTexts();
std::wstring ButtonText();
std::vector<RecordedBox> RecordedBoxes();

int WINAPI RecordMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// Polls until the status bar has received `count` texts or `milliseconds` passed.
bool WaitForStatusCount(size_t count, DWORD milliseconds);
