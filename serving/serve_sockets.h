#pragma once
// The serving loop's platform half: the sockets and the one wait over them, the generator's port,
// the wake-up and the stop (SIGINT, SIGTERM; Ctrl+C, Ctrl+Break). serve_sockets_posix.cpp holds
// it with poll, an eventfd and a signalfd; serve_sockets_win32.cpp with WaitForMultipleObjects
// over events. Clients are known by their index in the server's table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "serving/allow_list.h"
#include "serving/serving.h"

using ServeSocket = intptr_t;  // a socket of the platform; kNoSocket for none
constexpr ServeSocket kNoSocket = -1;

enum : int32_t {
  kSocketWouldBlock = -1,  // nothing to take now, or no room to give
  kSocketFailed = -2,      // the connection is broken
};

// Takes the stop signals into the wait and readies the sockets and the wake-up. False with
// *pMessage when the platform's sockets cannot start.
bool StartServeSockets(std::string *pMessage);
void EndServeSockets();

// A listening socket on a numeric host and port: kExitOk with *pSocket, its bound "ADDR:PORT" and
// whether it is loopback; kExitUsage when they are not numeric; else the exit code (kExitTryAgain
// when another socket holds the port, kExitNoPermission, kExitPortFailed) and the system's words.
int32_t ListenSocket(const std::string &host, const std::string &port, ServeSocket *pSocket,
                     std::string *pBound, bool *pLoopback, std::string *pReason);
// Makes the listener's connections end the wait: false with *pReason.
bool WatchListener(ServeSocket listener, std::string *pReason);
void UnwatchListener();

// A waiting connection with its "ADDR:PORT", or kNoSocket when none waits.
ServeSocket AcceptSocket(ServeSocket listener, char *szAddress, size_t size);
// Makes the client at this index end the wait when it has input, room or an end: false if not.
bool WatchClient(int32_t index, ServeSocket socket);
// Closes the client's socket and what watched it.
void CloseClientSocket(int32_t index, ServeSocket socket);
void CloseSocket(ServeSocket socket);

// Bytes received (0 at the end), or kSocketWouldBlock, or kSocketFailed.
int64_t ReceiveSocket(ServeSocket socket, uint8_t *pBuffer, size_t size);
// Bytes sent (at least one), or kSocketWouldBlock, or kSocketFailed.
int64_t SendSocket(ServeSocket socket, const char *pBytes, size_t dwCount);

// What one wait watches.
struct ServeWatch {
  ServeSocket listener;
  SerialPort *port;  // null while the generator is away
  bool aUsed[kScpiMaxClients];
  bool aSending[kScpiMaxClients];  // output is waiting: room to send is wanted, not input
  ServeSocket aSockets[kScpiMaxClients];
};

enum ServeEnd : int32_t { kServeGoOn = 0, kServeStop = 1, kServeWaitFailed = 2 };

// What a client's wake-up asks of the loop.
enum ClientReady : int32_t {
  kClientQuiet = 0,     // nothing for it
  kClientWritable = 1,  // room to send its output
  kClientReadable = 2,  // input, or an end to find in it
  kClientClosing = 3,   // it ended: read all it sent now, no further wake-up comes for it
  kClientBroken = 4,    // its state cannot be read: close it
};

// What ended one wait.
struct ServeReady {
  ServeEnd end;
  std::string failure;  // kServeWaitFailed: what failed
  bool timedOut;
  bool port;
  bool listener;
  ClientReady aClients[kScpiMaxClients];
};

// Waits for whatever comes first (timeoutMs -1: no time-out).
ServeReady WaitForServing(const ServeWatch &watch, int32_t timeoutMs);

// Ends the wait from any thread.
void WakeServing();

// The options of a listening socket: an address in use is refused, never shared.
void SetListenSocketOptions(intptr_t socket);

// The machine's own addresses (numeric, IPv6 without brackets) and its host name.
std::vector<std::string> MachineAddresses();
std::string MachineHostName();

// Every address of the machine's interfaces with its prefix length, as they are now (a renewed
// address is seen at the next call).
std::vector<InterfaceNetwork> InterfaceNetworks();
