#include "app/process_values.h"

#include "app/panel.h"

HINSTANCE appInstance;
HWND statusBar;
HANDLE receiverThread;
GeneratorSettings generatorSettings;
uint16_t WaveTable[360];

// Not connected: the path is the bare device prefix, nothing is open. The receiver tells the
// panel of a lost link with the panel's own message.
DeviceLink deviceLink = {
    L"\\\\.\\", nullptr, {}, {}, 0, {0}, {0}, nullptr, nullptr, kLinkLostMessage,
};

// The thread's entry stays with the values it names: the link's receiver is handed its link and
// knows no process-wide value of the program's.
DWORD WINAPI ReceiverThread(LPVOID) {
  RunReceiver(&deviceLink);
  return 0;
}
