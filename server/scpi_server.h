#pragma once
// `varnoltctl serve`: the SCPI instrument server. This portable half holds the clients' lines and
// answers, the instrument and the generator's port; scpi_server_posix.cpp and
// scpi_server_win32.cpp hold the sockets and the one wait over the sockets and the port (poll on
// Linux, WaitForMultipleObjects on Windows) and call in here.
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/serial_port.h"
#include "scpi/scpi_commands.h"
#include "scpi/scpi_line_reader.h"

enum : int32_t {
  kScpiMaxClients = 32,   // Windows waits on at most 64 objects: these, the listener, the port
  kScpiAddressSize = 64,  // "[ffff:...]:65535"
  kScpiReceiveChunk = 16384,
};

struct ServeRequest {
  bool portGiven;
  std::string port;
  int32_t jumperIndex;
  std::string listen;  // "ADDR:PORT"; an IPv6 address in brackets
  bool verbose;
  bool announce;  // DNS-SD (server/announce.h); --no-announce turns it off
};

struct ScpiClient {
  bool used;
  char szAddress[kScpiAddressSize];
  ScpiLineReader reader;
  std::string output;  // answer bytes not sent yet
};

struct ScpiServer {
  ServeRequest request;
  ScpiInstrument instrument;
  SerialPort *port;  // null while the generator is away
  std::string portName;
  ScpiClient aClients[kScpiMaxClients];
};

// Serves until SIGINT or SIGTERM (Ctrl+C, Ctrl+Break or the console closing on Windows); returns
// the exit code: 0 then, or the code of a start that fails (64, 69, 74, 75, 77), 75 when the
// address is in use, 64 for a malformed --listen. Its messages go to stderr.
int32_t RunScpiServer(const ServeRequest &request);

// Chooses and opens the generator's port as `start` does. kExitOk, or an exit code and *pMessage.
int32_t OpenScpiServer(ScpiServer *server, const ServeRequest &request, std::string *pMessage);

// "127.0.0.1:5025", "[::1]:5025": false when there is no address or no port number.
bool SplitListenAddress(const std::string &listen, std::string *pHost, std::string *pPort);

// A new client: its index, or -1 when kScpiMaxClients are connected.
int32_t AddScpiClient(ScpiServer *server, const char *szAddress);
void RemoveScpiClient(ScpiServer *server, int32_t index);

// Bytes from a client: each line they complete runs, and its answer goes to the client's output.
void TakeScpiClientBytes(ScpiServer *server, int32_t index, const uint8_t *pBytes, size_t dwCount);

// The client's output after dwSent more bytes of it went out.
void ScpiOutputSent(ScpiServer *server, int32_t index, size_t dwSent);

// The port has input or went away: reads the reports, or notes the loss.
void ServiceScpiPort(ScpiServer *server);

void CloseScpiServer(ScpiServer *server);

// One line "varnoltctl: ..." on stderr.
void PrintServeMessage(const std::string &message);
