#pragma once
// The platform half of varnoltctl: finding the generators, the port, the clock and the console.
// serial_port_posix.cpp and port_search_posix.cpp hold Linux's, the *_win32.cpp files Windows'.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/report_wait.h"

struct FoundGenerator {
  std::string port;    // the path or COM name to open
  std::string serial;  // the USB serial number, empty when unknown
  std::string byId;    // the /dev/serial/by-id link, empty when there is none
};

struct SerialPort;  // an open port, owned by the platform half

// Every attached generator (USB 1209:7A3C), in a stable order.
std::vector<FoundGenerator> FindGenerators();

// Opens the port for this process alone and sets 9600 baud, 8N1, raw, stale input dropped.
// Returns kExitOk with *ppPort set, or an exit code (74, 75, 77) with *pMessage.
int32_t OpenSerialPort(const std::string &port, int32_t writeTimeoutMs, SerialPort **ppPort,
                       std::string *pMessage);

// One complete write: returns kExitOk once all bytes are taken, or kExitPortFailed with
// *pMessage when the device went away or took nothing for the write time-out.
int32_t WriteSerialPort(SerialPort *port, const uint8_t *aBytes, int32_t dwLength,
                        std::string *pMessage);

// The read of the report wait (context: the SerialPort) and its clock.
ReadResult ReadSerialChunk(void *context, uint8_t *aRxBuffer, uint32_t capacity, int32_t waitMs);
int64_t MonotonicMs(void *context);

void CloseSerialPort(SerialPort *port);

// The server's wait for the port's next byte, in one wait with its sockets. On Linux the handle is
// the port's file descriptor, to poll for input. On Windows it is an event that an overlapped
// wait sets when a byte comes: ArmSerialWait starts that wait unless it is outstanding, and once
// the event is set SerialWaitEnded ends it. Either way ReadSerialChunk with no wait then takes
// what came. An integer, so that this header names no platform type.
intptr_t SerialWaitHandle(SerialPort *port);
void ArmSerialWait(SerialPort *port);
// False when the device went away.
bool SerialWaitEnded(SerialPort *port);

// Whether stderr is a terminal (the progress line is shown only then).
bool StderrIsTerminal();

// Sets up the console for UTF-8 output where that is needed.
void PrepareConsole();
