// The port on Windows: \\.\COMn opened for this process alone (no sharing), a DCB for 9600 8N1 and
// COMMTIMEOUTS for every wait. A read or a liveness probe that fails ends the use of the port.
// The port is opened for overlapped I/O, so that the server can wait for its next byte beside
// its sockets while it also writes and reads; each read and write still completes before it
// returns.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cstdlib>
#include <string>

#include "link/exit_codes.h"
#include "link/serial_port.h"

struct SerialPort {
  HANDLE handle;
  DWORD writeTimeoutMs;
  OVERLAPPED io;    // the reads and writes, one at a time
  OVERLAPPED wait;  // the server's wait for the next byte (WaitCommEvent)
  DWORD eventMask;
  int32_t waitState;    // WaitState
  int32_t failedWaits;  // waits in a row that failed on a port that still answers
};

namespace {

// Windows returns from a read as soon as a byte comes; Wine waits out the whole read time-out
// first. Reads in slices of this length keep a report's delay short on both, at 50 wake-ups a
// second at most.
enum : DWORD { kReadSliceMs = 20 };

// A read or a write ends by the port's time-outs; this much beyond them it is cancelled, in case
// a driver keeps neither.
enum : DWORD { kIoMarginMs = 2000 };

enum WaitState : int32_t { kWaitIdle, kWaitOutstanding, kWaitSucceeded, kWaitFailed };

// A wait that keeps failing on a port that still answers ClearCommError would make the server
// spin: after this many in a row the port counts as gone.
enum : int32_t { kMaxFailedWaits = 16 };

SerialPort openPort = {INVALID_HANDLE_VALUE, 0, {}, {}, 0, kWaitIdle, 0};  // one port per run

std::string ErrorText(const std::string &port, const char *szWhat, DWORD error) {
  return port + ": " + szWhat + " (error " + std::to_string(error) + ")";
}

// Reads return at once with what is there, else with the first bytes to come within waitMs.
bool SetReadWait(SerialPort *port, DWORD waitMs) {
  COMMTIMEOUTS timeouts = {};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = waitMs > 0 ? waitMs : 1;
  timeouts.WriteTotalTimeoutConstant = port->writeTimeoutMs;
  return SetCommTimeouts(port->handle, &timeouts) != 0;
}

// Ends an overlapped read or write: at once when it completed when started, else when it
// completes or is cancelled after limitMs. A read cancelled here has read nothing.
bool FinishIo(SerialPort *port, BOOL started, DWORD limitMs, DWORD *pDone) {
  *pDone = 0;
  if (!started && GetLastError() != ERROR_IO_PENDING) return false;
  bool cancelled = false;
  if (!started && WaitForSingleObject(port->io.hEvent, limitMs) != WAIT_OBJECT_0) {
    cancelled = CancelIoEx(port->handle, &port->io) != 0;
  }
  if (GetOverlappedResult(port->handle, &port->io, pDone, TRUE)) return true;
  return cancelled && GetLastError() == ERROR_OPERATION_ABORTED;
}

void CloseEvents(SerialPort *port) {
  if (port->io.hEvent != nullptr) CloseHandle(port->io.hEvent);
  if (port->wait.hEvent != nullptr) CloseHandle(port->wait.hEvent);
  port->io.hEvent = nullptr;
  port->wait.hEvent = nullptr;
}

}  // namespace

int32_t OpenSerialPort(const std::string &port, int32_t writeTimeoutMs, SerialPort **ppPort,
                       std::string *pMessage) {
  std::wstring path = L"\\\\.\\";
  for (char c : port) path += static_cast<wchar_t>(static_cast<unsigned char>(c));
  if (port.rfind("\\\\.\\", 0) == 0) path = path.substr(4);
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
      *pMessage = port + ": held by another program";
      return kExitTryAgain;
    }
    *pMessage = ErrorText(port, "cannot open", error);
    return kExitPortFailed;
  }
  DCB dcb;
  ZeroMemory(&dcb, sizeof(dcb));
  dcb.DCBlength = sizeof(dcb);
  bool ok = GetCommState(handle, &dcb) != 0;
  dcb.BaudRate = CBR_9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  openPort.handle = handle;
  openPort.writeTimeoutMs = static_cast<DWORD>(writeTimeoutMs > 0 ? writeTimeoutMs : 1);
  openPort.waitState = kWaitIdle;
  openPort.failedWaits = 0;
  ok = ok && SetCommState(handle, &dcb) != 0 && SetReadWait(&openPort, 0) &&
       PurgeComm(handle, PURGE_RXCLEAR | PURGE_RXABORT) != 0 && SetCommMask(handle, EV_RXCHAR) != 0;
  DWORD error = GetLastError();
  openPort.io = OVERLAPPED{};
  openPort.wait = OVERLAPPED{};
  openPort.io.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  openPort.wait.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ok && (openPort.io.hEvent == nullptr || openPort.wait.hEvent == nullptr)) {
    ok = false;
    error = GetLastError();
  }
  if (!ok) {
    *pMessage = ErrorText(port, "cannot set 9600 8N1", error);
    CloseHandle(handle);
    CloseEvents(&openPort);
    openPort.handle = INVALID_HANDLE_VALUE;
    return kExitPortFailed;
  }
  *ppPort = &openPort;
  return kExitOk;
}

int32_t WriteSerialPort(SerialPort *port, const uint8_t *aBytes, int32_t dwLength,
                        std::string *pMessage) {
  DWORD dwWritten = 0;
  ResetEvent(port->io.hEvent);
  BOOL started = WriteFile(port->handle, aBytes, static_cast<DWORD>(dwLength), nullptr, &port->io);
  if (!FinishIo(port, started, port->writeTimeoutMs + kIoMarginMs, &dwWritten) ||
      dwWritten != static_cast<DWORD>(dwLength)) {
    *pMessage = "the device went away or took no data during the writes (error " +
                std::to_string(GetLastError()) + ")";
    return kExitPortFailed;
  }
  return kExitOk;
}

ReadResult ReadSerialChunk(void *context, uint8_t *aRxBuffer, uint32_t capacity, int32_t waitMs) {
  SerialPort *port = static_cast<SerialPort *>(context);
  DWORD dwWait = static_cast<DWORD>(waitMs > 0 ? waitMs : 0);
  if (!SetReadWait(port, dwWait < kReadSliceMs ? dwWait : kReadSliceMs)) return {kReadGone, 0};
  DWORD dwLen = 0;
  ResetEvent(port->io.hEvent);
  BOOL started = ReadFile(port->handle, aRxBuffer, capacity, nullptr, &port->io);
  if (!FinishIo(port, started, kReadSliceMs + kIoMarginMs, &dwLen)) return {kReadGone, 0};
  if (dwLen > 0) return {kReadBytes, dwLen};
  // Nothing came: a line that went away fails this probe, so it is never read again.
  DWORD dwErrors = 0;
  COMSTAT status;
  if (!ClearCommError(port->handle, &dwErrors, &status)) return {kReadGone, 0};
  return {kReadNothing, 0};
}

int64_t MonotonicMs(void *) {
  return static_cast<int64_t>(GetTickCount64());
}

intptr_t SerialWaitHandle(SerialPort *port) {
  return reinterpret_cast<intptr_t>(port->wait.hEvent);
}

// The event is set when a byte comes, and also when the wait ends at once or fails, so that
// SerialWaitEnded looks at it in every case.
void ArmSerialWait(SerialPort *port) {
  if (port->waitState == kWaitOutstanding) return;
  ResetEvent(port->wait.hEvent);
  port->eventMask = 0;
  if (WaitCommEvent(port->handle, &port->eventMask, &port->wait)) {
    port->waitState = kWaitSucceeded;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    port->waitState = kWaitOutstanding;
    return;
  } else {
    port->waitState = kWaitFailed;
  }
  SetEvent(port->wait.hEvent);
}

bool SerialWaitEnded(SerialPort *port) {
  DWORD dwUnused = 0;
  if (port->waitState == kWaitOutstanding) {
    if (GetOverlappedResult(port->handle, &port->wait, &dwUnused, FALSE)) {
      port->waitState = kWaitSucceeded;
    } else if (GetLastError() == ERROR_IO_INCOMPLETE) {
      return true;  // still waiting: nothing has happened
    } else {
      port->waitState = kWaitFailed;
    }
  }
  const bool failed = port->waitState == kWaitFailed;
  port->waitState = kWaitIdle;
  port->failedWaits = failed ? port->failedWaits + 1 : 0;
  if (port->failedWaits >= kMaxFailedWaits) return false;
  // A failed wait (on Wine also every wait after a hang-up) leaves it to ClearCommError to tell
  // whether the port is still there.
  DWORD dwErrors = 0;
  COMSTAT status;
  return !failed || ClearCommError(port->handle, &dwErrors, &status) != 0;
}

void CloseSerialPort(SerialPort *port) {
  if (port != nullptr && port->handle != INVALID_HANDLE_VALUE) CloseHandle(port->handle);
  if (port != nullptr) {
    port->handle = INVALID_HANDLE_VALUE;
    port->waitState = kWaitIdle;
    CloseEvents(port);
  }
}

bool StderrIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

namespace {

UINT previousOutputCodePage = 0;

void RestoreConsole() {
  SetConsoleOutputCP(previousOutputCodePage);
}

}  // namespace

// The console shows UTF-8 (the micro sign of the period) while the program runs; the code page is
// the console's, shared with the shell, so it is put back at exit. Standard input is read as
// bytes: a WAV file piped to `--shape -` must not lose its CRs or end at a 0x1A.
void PrepareConsole() {
  _setmode(_fileno(stdin), _O_BINARY);
  previousOutputCodePage = GetConsoleOutputCP();
  if (previousOutputCodePage != 0 && SetConsoleOutputCP(CP_UTF8)) atexit(RestoreConsole);
}
