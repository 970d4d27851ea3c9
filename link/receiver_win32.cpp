// The receiver thread: blocks until the link is connected, then sleeps in the port's event wait
// and turns each lone 0x55 / 0xAA from the generator into deviceRunning and a status text.
#include <windows.h>
#include <commctrl.h>

#include "app/app_handles.h"
#include "link/device_link.h"
#include "link/link_texts.h"
#include "link/wire_format.h"

// A failed wait or read on a port that still answers ClearCommError (a line error, say) is
// retried, but never more often than this in a row, so the thread cannot spin on it.
enum : int32_t { kMaxFailuresInARow = 16 };

enum PortStep : int32_t { kPortOk = 0, kPortFailed = 1 };

static void SetStatusText(const char16_t *psz) {
  SendMessageW(statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(psz));
}

static void ActOnRead(DeviceLink *link, const uint8_t *aRxBuffer, DWORD dwLen) {
  switch (ClassifyReport(aRxBuffer, dwLen)) {
    case kReportRunning:
      SetStatusText(kTextRunning);
      link->deviceRunning.store(1);
      break;
    case kReportStopped:
      SetStatusText(kTextStopped);
      link->deviceRunning.store(0);
      break;
    case kReportNone:
      break;
  }
}

static bool PortAnswers(HANDLE portHandle) {
  DWORD dwErrors = 0;
  COMSTAT comStat;
  return ClearCommError(portHandle, &dwErrors, &comStat) != FALSE;
}

// Sleeps until a character arrives. A wait that fails at once means the port may be gone. A wait
// that ends in failure after going pending is followed by the reads as usual: on a live port the
// read then waits for data itself, on a lost one it fails.
static PortStep WaitForCharacter(DeviceLink *link) {
  ResetEvent(link->readOverlapped.hEvent);
  if (WaitCommEvent(link->portHandle, &link->eventMask, &link->readOverlapped)) return kPortOk;
  if (GetLastError() != ERROR_IO_PENDING) return kPortFailed;
  if (WaitForSingleObject(link->readOverlapped.hEvent, INFINITE) != WAIT_OBJECT_0) return kPortFailed;
  DWORD dwUnused = 0;
  GetOverlappedResult(link->portHandle, &link->readOverlapped, &dwUnused, FALSE);
  return kPortOk;
}

// Reads until a read returns nothing. A read that goes pending is completed here, so no read is
// ever left outstanding on readOverlapped when the next event wait starts. A failed read, at once
// or after going pending, ends the drain like an empty one, and is reported so that the caller can
// see whether the port is still there.
static PortStep DrainPort(DeviceLink *link, uint8_t aRxBuffer[kRxBufferBytes]) {
  ZeroMemory(aRxBuffer, kRxBufferBytes);
  for (;;) {
    DWORD dwLen = 0;
    ResetEvent(link->readOverlapped.hEvent);
    if (!ReadFile(link->portHandle, aRxBuffer, kRxBufferBytes, &dwLen, &link->readOverlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) return kPortFailed;
      if (!GetOverlappedResult(link->portHandle, &link->readOverlapped, &dwLen, TRUE)) return kPortFailed;
    }
    ActOnRead(link, aRxBuffer, dwLen);
    if (dwLen == 0) return kPortOk;
  }
}

static void WaitForLink(DeviceLink *link) {
  HANDLE ready = LinkReadyEvent(link);
  while (link->connected.load(std::memory_order_acquire) != 1) {
    if (WaitForSingleObject(ready, INFINITE) != WAIT_OBJECT_0) Sleep(100); // no event: poll slowly
  }
}

DWORD WINAPI ReceiverThread(LPVOID) {
  DeviceLink *link = &deviceLink;
  uint8_t aRxBuffer[kRxBufferBytes];
  WaitForLink(link);
  int32_t failuresInARow = 0;
  for (;;) {
    PortStep step = WaitForCharacter(link);
    if (step == kPortOk) step = DrainPort(link, aRxBuffer);
    if (step == kPortOk) {
      failuresInARow = 0;
      continue;
    }
    // The generator hung up or the panel closed the port: stop listening rather than spin.
    if (!PortAnswers(link->portHandle) || ++failuresInARow >= kMaxFailuresInARow) return 0;
  }
}
