// The port on Windows: \\.\COMn opened for this process alone (no sharing), a DCB for 9600 8N1 and
// COMMTIMEOUTS for every wait. A read or a liveness probe that fails ends the use of the port.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "cli/exit_codes.h"
#include "cli/serial_port.h"

struct SerialPort {
  HANDLE handle;
  DWORD writeTimeoutMs;
};

namespace {

// Windows returns from a read as soon as a byte comes; Wine waits out the whole read time-out
// first. Reads in slices of this length keep a report's delay short on both, at 50 wake-ups a
// second at most.
enum : DWORD { kReadSliceMs = 20 };

SerialPort openPort = {INVALID_HANDLE_VALUE, 0};  // one port per run

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

}  // namespace

int32_t OpenSerialPort(const std::string &port, int32_t writeTimeoutMs, SerialPort **ppPort,
                       std::string *pMessage) {
  std::wstring path = L"\\\\.\\";
  for (char c : port) path += static_cast<wchar_t>(static_cast<unsigned char>(c));
  if (port.rfind("\\\\.\\", 0) == 0) path = path.substr(4);
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
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
  ok = ok && SetCommState(handle, &dcb) != 0 && SetReadWait(&openPort, 0) &&
       PurgeComm(handle, PURGE_RXCLEAR | PURGE_RXABORT) != 0;
  if (!ok) {
    *pMessage = ErrorText(port, "cannot set 9600 8N1", GetLastError());
    CloseHandle(handle);
    openPort.handle = INVALID_HANDLE_VALUE;
    return kExitPortFailed;
  }
  *ppPort = &openPort;
  return kExitOk;
}

int32_t WriteSerialPort(SerialPort *port, const uint8_t *aBytes, int32_t dwLength,
                        std::string *pMessage) {
  DWORD dwWritten = 0;
  if (!WriteFile(port->handle, aBytes, static_cast<DWORD>(dwLength), &dwWritten, nullptr) ||
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
  if (!ReadFile(port->handle, aRxBuffer, capacity, &dwLen, nullptr)) return {kReadGone, 0};
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

void CloseSerialPort(SerialPort *port) {
  if (port != nullptr && port->handle != INVALID_HANDLE_VALUE) CloseHandle(port->handle);
  if (port != nullptr) port->handle = INVALID_HANDLE_VALUE;
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
// the console's, shared with the shell, so it is put back at exit.
void PrepareConsole() {
  previousOutputCodePage = GetConsoleOutputCP();
  if (previousOutputCodePage != 0 && SetConsoleOutputCP(CP_UTF8)) atexit(RestoreConsole);
}
