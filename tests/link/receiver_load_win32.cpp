// A stand-in for the program around the real receiver, driven line by line on stdin by
// tools/measure/receiver_cpu.sh so that it can take each thread's processor time from /proc:
//   "receiver"  start ReceiverThread (as start-up does)     "connect"  press CONNECT
//   "close"     close the port (as the panel does on close)  "quit"     end the process
// Each command is answered with one line on stdout.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "app/app_handles.h"
#include "link/device_link.h"
#include "tests/link/link_recorders_win32.h"

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  if (StartRecorders() == nullptr || statusBar == nullptr) {
    printf("error: no recording windows\n");
    return 1;
  }
  linkMessageBox = RecordMessageBox;
  HANDLE receiver = nullptr;
  printf("ready\n");
  char szLine[64];
  while (fgets(szLine, sizeof(szLine), stdin) != nullptr) {
    if (strncmp(szLine, "receiver", 8) == 0) {
      receiver = CreateThread(nullptr, 0, ReceiverThread, nullptr, 0, nullptr);
      printf("receiver %s\n", receiver != nullptr ? "started" : "failed");
    } else if (strncmp(szLine, "connect", 7) == 0) {
      const int32_t result = ConnectDevice(&deviceLink, statusBar);
      StoreConnected(&deviceLink, result);
      printf("connect %d\n", static_cast<int>(result));
    } else if (strncmp(szLine, "close", 5) == 0) {
      CloseHandle(deviceLink.portHandle);
      printf("closed\n");
    } else if (strncmp(szLine, "state", 5) == 0) {
      const DWORD dwWait = receiver != nullptr ? WaitForSingleObject(receiver, 0) : WAIT_FAILED;
      printf("receiver %s\n", dwWait == WAIT_OBJECT_0 ? "ended" : dwWait == WAIT_TIMEOUT ? "running" : "none");
    } else if (strncmp(szLine, "quit", 4) == 0) {
      printf("bye\n");
      return 0;
    }
  }
  return 0;
}
