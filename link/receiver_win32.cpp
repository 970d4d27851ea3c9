// The receiver: blocks until the link is connected, then sleeps in the port's event wait and
// turns each lone 0x55 / 0xAA from the generator into deviceRunning and a status text. When the
// port is gone it says so and hands the closing to the panel's thread, which alone writes
// `connected`, and waits for the next link.
#include <windows.h>
#include <commctrl.h>

#include "link/device_link.h"
#include "link/link_texts.h"
#include "link/wire_format.h"

namespace {

// A failed wait or read on a port that still answers ClearCommError (a line error, say) is
// retried, but never more often than this in a row, so the thread cannot spin on it.
enum : int32_t { kMaxFailuresInARow = 16 };

enum PortStep : int32_t { kPortOk = 0, kPortFailed = 1 };

void SetStatusText(DeviceLink *link, const char16_t *psz) {
  SendMessageW(link->statusBar, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(psz));
}

void ActOnRead(DeviceLink *link, const uint8_t *aRxBuffer, DWORD dwLen) {
  switch (ClassifyReport(aRxBuffer, dwLen)) {
    case kReportRunning:
      SetStatusText(link, kTextRunning);
      link->deviceRunning.store(1);
      break;
    case kReportStopped:
      SetStatusText(link, kTextStopped);
      link->deviceRunning.store(0);
      break;
    case kReportNone: break;
  }
}

bool PortAnswers(HANDLE portHandle) {
  DWORD dwErrors = 0;
  COMSTAT comStat;
  return ClearCommError(portHandle, &dwErrors, &comStat) != FALSE;
}

// Sleeps until a character arrives. A wait that fails at once means the port may be gone. A wait
// that ends in failure after going pending is followed by the reads as usual: on a live port the
// read then waits for data itself, on a lost one it fails.
PortStep WaitForCharacter(DeviceLink *link) {
  ResetEvent(link->readOverlapped.hEvent);
  if (WaitCommEvent(link->portHandle, &link->eventMask, &link->readOverlapped)) return kPortOk;
  if (GetLastError() != ERROR_IO_PENDING) return kPortFailed;
  if (WaitForSingleObject(link->readOverlapped.hEvent, INFINITE) != WAIT_OBJECT_0) {
    return kPortFailed;
  }
  DWORD dwUnused = 0;
  GetOverlappedResult(link->portHandle, &link->readOverlapped, &dwUnused, FALSE);
  return kPortOk;
}

// Reads until a read returns nothing. A read that goes pending is completed here, so no read is
// ever left outstanding on readOverlapped when the next event wait starts (or when the panel
// closes a lost port). A failed read, at once or after going pending, ends the drain like an
// empty one, and is reported so that the caller can see whether the port is still there.
PortStep DrainPort(DeviceLink *link, uint8_t aRxBuffer[kRxBufferBytes]) {
  ZeroMemory(aRxBuffer, kRxBufferBytes);
  for (;;) {
    DWORD dwLen = 0;
    ResetEvent(link->readOverlapped.hEvent);
    if (!ReadFile(link->portHandle, aRxBuffer, kRxBufferBytes, &dwLen, &link->readOverlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) return kPortFailed;
      if (!GetOverlappedResult(link->portHandle, &link->readOverlapped, &dwLen, TRUE)) {
        return kPortFailed;
      }
    }
    ActOnRead(link, aRxBuffer, dwLen);
    if (dwLen == 0) return kPortOk;
  }
}

// The event alone is waited on, not `connected`: after a lost link `connected` still reads 1
// until the panel has handled the loss, and the port behind it is dead.
void WaitForLink(DeviceLink *link) {
  HANDLE ready = LinkReadyEvent(link);
  do {
    if (WaitForSingleObject(ready, INFINITE) != WAIT_OBJECT_0) Sleep(100);  // no event: poll slowly
  } while (link->connected.load(std::memory_order_acquire) != 1);
}

// Returns once the port is gone: the generator hung up, or the panel closed the port.
void ListenUntilLost(DeviceLink *link, uint8_t aRxBuffer[kRxBufferBytes]) {
  int32_t failuresInARow = 0;
  for (;;) {
    PortStep step = WaitForCharacter(link);
    if (step == kPortOk) step = DrainPort(link, aRxBuffer);
    if (step == kPortOk) {
      failuresInARow = 0;
      continue;
    }
    if (!PortAnswers(link->portHandle) || ++failuresInARow >= kMaxFailuresInARow) return;
  }
}

// The receiver writes deviceRunning but never `connected`: it posts the loss to the panel's
// thread, which closes the port and stores the 0. The ready event is reset before the post, so
// the next wait blocks until the panel publishes a new link (it can connect only after it has
// handled the post). Posted, not sent: the panel may be gone already (closed at exit), and the
// receiver need not wait for it.
void ReportLinkLost(DeviceLink *link) {
  ResetEvent(LinkReadyEvent(link));
  SetStatusText(link, kTextConnectionLost);
  link->deviceRunning.store(0);
  // Without a window (the panel is gone) a post would land in this thread's own queue.
  HWND owner = GetParent(link->statusBar);
  if (link->linkLostMessage != 0 && owner != nullptr) {
    PostMessageW(owner, link->linkLostMessage, 0, 0);
  }
}

}  // namespace

void RunReceiver(DeviceLink *link) {
  uint8_t aRxBuffer[kRxBufferBytes];
  for (;;) {
    WaitForLink(link);
    ListenUntilLost(link, aRxBuffer);
    ReportLinkLost(link);
  }
}
