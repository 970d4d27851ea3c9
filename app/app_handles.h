#pragma once
// Handles that start-up keeps for the whole run.
#include <windows.h>

extern HINSTANCE appInstance;
extern HWND statusBar;
extern HANDLE receiverThread;
