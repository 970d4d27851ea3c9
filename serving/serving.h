#pragma once
// `varnoltctl serve`: the serving loop. It holds the SCPI sessions (the clients' lines and
// answers), the instrument and the generator's port (scpi_sessions.cpp), and one wait over the
// listening socket, the clients, the port and the web panel's wake-ups (serving_loop.cpp, written
// once); serve_sockets_posix.cpp and serve_sockets_win32.cpp hold the sockets and that wait (poll
// on Linux, WaitForMultipleObjects on Windows). The web panel (web_panel/) is a record the loop
// holds and calls after every wake-up.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "scpi/scpi_commands.h"
#include "scpi/scpi_line_reader.h"
#include "web_panel/web_access.h"

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
  std::string http;    // the web panel's "ADDR:PORT" or "PORT" (on the listen address), or "off"
  std::vector<std::string> httpHosts;  // more names the web panel answers to (--http-host)
  std::string https;    // the web panel over TLS: "ADDR:PORT" or "PORT", or empty (off)
  std::string tlsCert;  // --tls-cert, --tls-key (PEM); empty: a self-signed certificate
  std::string tlsKey;
  std::string stateDir;  // --state-dir: where the self-signed certificate is kept
  bool verbose;
  bool announce;                   // DNS-SD (dns_sd/announce.h); --no-announce turns it off
  WebAuthMode auth;                // --auth: when the web panel needs its access token
  std::string tokenFile;           // --token-file: where the token is kept across runs, or empty
  std::vector<std::string> allow;  // --allow: more addresses and networks served, or "any"
};

struct ScpiClient {
  bool used;
  char szAddress[kScpiAddressSize];
  ScpiLineReader reader;
  std::string output;  // answer bytes not sent yet
};

// The SCPI sessions: the request, the instrument, the generator's port and the clients.
struct ScpiServer {
  ServeRequest request;
  Instrument instrument;
  SerialPort *port;  // null while the generator is away
  std::string portName;
  std::string serial;  // the generator's USB serial number, as *IDN? tells it
  bool heard;          // a report came since the port was opened: the status line shows it
  ScpiClient aClients[kScpiMaxClients];
};

// Serves until SIGINT or SIGTERM (Ctrl+C, Ctrl+Break or the console closing on Windows); returns
// the exit code: 0 then, or the code of a start that fails (64, 69, 74, 75, 77), 75 when the
// address is in use, 64 for a malformed --listen or --allow. Its messages go to stderr.
int32_t RunServing(const ServeRequest &request);

// Chooses and opens the generator's port as `start` does. kExitOk, or an exit code and *pMessage.
int32_t OpenScpiServer(ScpiServer *server, const ServeRequest &request, std::string *pMessage);

// How commands and page actions reach the server's generator.
InstrumentGenerator ScpiServerActions(ScpiServer *server);

// "127.0.0.1:5025", "[::1]:5025": false when there is no address or no port number.
bool SplitListenAddress(const std::string &listen, std::string *pHost, std::string *pPort);

// A new client: its index, or -1 when kScpiMaxClients are connected.
int32_t AddScpiClient(ScpiServer *server, const char *szAddress);
void RemoveScpiClient(ScpiServer *server, int32_t index);

// Bytes from a client: each line they complete runs, and its answer goes to the client's output.
// False when the client spoke HTTP: nothing of it ran, and it is to be closed at once.
bool TakeScpiClientBytes(ScpiServer *server, int32_t index, const uint8_t *pBytes, size_t dwCount);

// The client's output after dwSent more bytes of it went out.
void ScpiOutputSent(ScpiServer *server, int32_t index, size_t dwSent);

// The port has input or went away: reads the reports, or notes the loss.
void ServiceScpiPort(ScpiServer *server);

// While the generator is away the loop wakes this often to look for it (-1: it waits for events).
int32_t ScpiWaitTimeoutMs(const ScpiServer *server);
// Looks for the generator that went away, and opens it again once it is back.
void RetryScpiPort(ScpiServer *server);

void CloseScpiServer(ScpiServer *server);

// One line "varnoltctl: ..." on stderr.
void PrintServeMessage(const std::string &message);

// Why "host:port" cannot be listened on: the exit code (75 in use, 77 denied, 74 other) and
// *pMessage, without the address.
int32_t ExplainListenFailure(const std::string &host, int32_t port, std::string *pMessage);
