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

DWORD WINAPI ReceiverThread(LPVOID) {
  RunReceiver(&deviceLink);
  return 0;
}
