// The server's sockets and its one wait on Windows: WaitForMultipleObjects over the event that
// the console control handler sets (Ctrl+C, Ctrl+Break), the WSAEventSelect events of the
// listening socket and of each client, and the event of the port's overlapped wait.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "dns_sd/announce.h"
#include "link/exit_codes.h"
#include "server/scpi_server.h"

namespace {

// Reads of one wake-up for one client, so that a busy client leaves the others their turn (a
// read re-posts FD_READ while data is left).
enum : int32_t { kReadsPerWake = 8 };

ScpiServer server;  // the clients' line buffers are far too large for the stack
SOCKET aClientSockets[kScpiMaxClients];
WSAEVENT aClientEvents[kScpiMaxClients];
HANDLE stopEvent = nullptr;
HANDLE wakeEvent = nullptr;  // the web panel's threads set it: an action waits for the loop

void WakeLoop() {
  SetEvent(wakeEvent);
}

BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  SetEvent(stopEvent);
  return TRUE;
}

void AddressText(const sockaddr *pAddress, socklen_t length, char *szText, size_t size) {
  char szHost[NI_MAXHOST] = "?";
  char szPort[NI_MAXSERV] = "?";
  getnameinfo(pAddress, length, szHost, static_cast<DWORD>(std::size(szHost)), szPort,
              static_cast<DWORD>(std::size(szPort)), NI_NUMERICHOST | NI_NUMERICSERV);
  snprintf(szText, size, strchr(szHost, ':') != nullptr ? "[%s]:%s" : "%s:%s", szHost, szPort);
}

bool IsLoopback(const sockaddr *pAddress) {
  if (pAddress->sa_family == AF_INET) {
    const sockaddr_in *pIpv4 = reinterpret_cast<const sockaddr_in *>(pAddress);
    return ntohl(pIpv4->sin_addr.s_addr) >> 24 == 127;
  }
  const sockaddr_in6 *pIpv6 = reinterpret_cast<const sockaddr_in6 *>(pAddress);
  return pAddress->sa_family == AF_INET6 && IN6_IS_ADDR_LOOPBACK(&pIpv6->sin6_addr);
}

std::string SocketErrorText(int error) {
  wchar_t szText[256] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 static_cast<DWORD>(error), 0, szText, static_cast<DWORD>(std::size(szText)),
                 nullptr);
  std::string text;
  for (const wchar_t *p = szText; *p != L'\0'; p++) {
    if (*p != L'\r' && *p != L'\n') text.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
  }
  return text + " (error " + std::to_string(error) + ")";
}

// The listening socket, or INVALID_SOCKET with the exit code and the message.
SOCKET Listen(const std::string &address, int32_t *pStatus, std::string *pMessage,
              std::string *pBound, bool *pLoopback) {
  std::string host;
  std::string port;
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo *pFound = nullptr;
  if (!SplitListenAddress(address, &host, &port) ||
      getaddrinfo(host.c_str(), port.c_str(), &hints, &pFound) != 0) {
    *pStatus = kExitUsage;
    *pMessage = "--listen " + address + ": not ADDR:PORT with a numeric address (127.0.0.1:5025)";
    return INVALID_SOCKET;
  }
  SOCKET listener = socket(pFound->ai_family, SOCK_STREAM, IPPROTO_TCP);
  // Without it Windows lets another program bind the same port over ours.
  BOOL on = TRUE;
  if (listener != INVALID_SOCKET) {
    setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&on),
               sizeof(on));
  }
  if (listener == INVALID_SOCKET ||
      bind(listener, pFound->ai_addr, static_cast<int>(pFound->ai_addrlen)) != 0 ||
      listen(listener, 16) != 0) {
    int error = WSAGetLastError();
    if (listener != INVALID_SOCKET) closesocket(listener);
    freeaddrinfo(pFound);
    // Windows gives WSAEACCES for a port that another socket holds for itself alone.
    bool inUse = error == WSAEADDRINUSE || error == WSAEACCES;
    *pStatus = inUse ? kExitTryAgain : kExitPortFailed;
    *pMessage = address + ": cannot listen: " + SocketErrorText(error) +
                (inUse ? " (another program listens there)" : "");
    return INVALID_SOCKET;
  }
  freeaddrinfo(pFound);
  sockaddr_storage bound = {};
  socklen_t length = sizeof(bound);
  getsockname(listener, reinterpret_cast<sockaddr *>(&bound), &length);
  char szBound[kScpiAddressSize];
  AddressText(reinterpret_cast<sockaddr *>(&bound), length, szBound, std::size(szBound));
  *pBound = szBound;
  *pLoopback = IsLoopback(reinterpret_cast<sockaddr *>(&bound));
  return listener;
}

void CloseClient(int32_t index) {
  closesocket(aClientSockets[index]);
  WSACloseEvent(aClientEvents[index]);
  aClientSockets[index] = INVALID_SOCKET;
  RemoveScpiClient(&server, index);
}

// Sends what the client's output holds, as far as the socket takes it (FD_WRITE comes when it
// takes more). False when the client is gone (and closed).
bool Flush(int32_t index) {
  const std::string &output = server.aClients[index].output;
  while (!output.empty()) {
    int chunk = output.size() > 65536 ? 65536 : static_cast<int>(output.size());
    int sent = send(aClientSockets[index], output.data(), chunk, 0);
    if (sent > 0) {
      ScpiOutputSent(&server, index, static_cast<size_t>(sent));
    } else if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      return true;
    } else {
      CloseClient(index);
      return false;
    }
  }
  return true;
}

// A client's input is read only while its answers have gone out: one that does not read them
// holds nothing but its own output. A client that has closed its end is read to the end at
// once, since no further event would come for it.
void ServiceClient(int32_t index) {
  WSANETWORKEVENTS events = {};
  if (WSAEnumNetworkEvents(aClientSockets[index], aClientEvents[index], &events) != 0) {
    CloseClient(index);
    return;
  }
  const bool closing = (events.lNetworkEvents & FD_CLOSE) != 0;
  uint8_t aChunk[kScpiReceiveChunk];
  for (int32_t round = 0; closing || round < kReadsPerWake; round++) {
    if (!Flush(index)) return;
    if (!closing && !server.aClients[index].output.empty()) return;
    int got = recv(aClientSockets[index], reinterpret_cast<char *>(aChunk),
                   static_cast<int>(std::size(aChunk)), 0);
    if (got == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK && !closing) return;
    if (got <= 0) {
      Flush(index);
      if (server.aClients[index].used) CloseClient(index);
      return;
    }
    if (!TakeScpiClientBytes(&server, index, aChunk, static_cast<size_t>(got))) {
      CloseClient(index);
      return;
    }
  }
}

void AcceptClients(SOCKET listener, WSAEVENT listenEvent) {
  WSANETWORKEVENTS events = {};
  WSAEnumNetworkEvents(listener, listenEvent, &events);
  for (;;) {
    sockaddr_storage peer = {};
    socklen_t length = sizeof(peer);
    SOCKET client = accept(listener, reinterpret_cast<sockaddr *>(&peer), &length);
    if (client == INVALID_SOCKET) return;  // none waiting (or it gave up before we took it)
    BOOL on = TRUE;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
    char szAddress[kScpiAddressSize];
    AddressText(reinterpret_cast<sockaddr *>(&peer), length, szAddress, std::size(szAddress));
    WSAEVENT event = WSACreateEvent();
    int32_t index = event == WSA_INVALID_EVENT ? -1 : AddScpiClient(&server, szAddress);
    if (index < 0 || WSAEventSelect(client, event, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
      if (index >= 0) RemoveScpiClient(&server, index);
      if (event != WSA_INVALID_EVENT) WSACloseEvent(event);
      closesocket(client);
      continue;
    }
    aClientSockets[index] = client;
    aClientEvents[index] = event;
  }
}

bool IsSet(HANDLE event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace

int32_t RunScpiServer(const ServeRequest &request) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    PrintServeMessage("cannot start Windows Sockets");
    return kExitPortFailed;
  }
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);

  std::string message;
  int32_t status = OpenScpiServer(&server, request, &message);
  std::string bound;
  bool loopback = true;
  SOCKET listener = INVALID_SOCKET;
  if (status == kExitOk) {
    listener = Listen(request.listen, &status, &message, &bound, &loopback);
    if (listener == INVALID_SOCKET) CloseScpiServer(&server);
  }
  WSAEVENT listenEvent = WSACreateEvent();
  if (status == kExitOk && WSAEventSelect(listener, listenEvent, FD_ACCEPT) != 0) {
    status = kExitPortFailed;
    message = "cannot wait for connections: " + SocketErrorText(WSAGetLastError());
    closesocket(listener);
    CloseScpiServer(&server);
  }
  if (status != kExitOk) {
    PrintServeMessage(message);
    WSACleanup();
    return status;
  }
  wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::vector<std::string> lines;
  status = OpenServeWeb(&server, bound, WakeLoop, &lines, &message);
  if (status != kExitOk) {
    closesocket(listener);
    CloseScpiServer(&server);
    PrintServeMessage(message);
    WSACleanup();
    return status;
  }
  if (!loopback) {
    PrintServeMessage("warning: listening on " + bound +
                      ": anyone who can reach it can drive the generator");
  }
  for (const std::string &line : lines) PrintServeMessage(line);
  if (server.request.announce) {
    StartAnnouncing(server.instrument.szIdentity, bound, server.webBound, PrintServeMessage);
  }

  for (;;) {
    HANDLE aHandles[4 + kScpiMaxClients];
    int32_t aClientOf[4 + kScpiMaxClients] = {};
    DWORD count = 0;
    aHandles[count++] = stopEvent;
    aHandles[count++] = listenEvent;
    aHandles[count++] = wakeEvent;
    HANDLE portEvent = nullptr;
    if (server.port != nullptr) {
      ArmSerialWait(server.port);
      portEvent = reinterpret_cast<HANDLE>(SerialWaitHandle(server.port));
      aHandles[count++] = portEvent;
    }
    const DWORD firstClient = count;
    for (int32_t i = 0; i < kScpiMaxClients; i++) {
      if (!server.aClients[i].used) continue;
      aClientOf[count] = i;
      aHandles[count++] = aClientEvents[i];
    }
    // While the generator is away the wait ends now and then to look for it; else only events.
    const int32_t timeoutMs = ScpiWaitTimeoutMs(&server);
    DWORD woken = WaitForMultipleObjects(count, aHandles, FALSE,
                                         timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (woken == WAIT_FAILED) {
      PrintServeMessage("the wait failed (error " + std::to_string(GetLastError()) + ")");
      break;
    }
    if (IsSet(stopEvent)) break;
    if (woken == WAIT_TIMEOUT) RetryScpiPort(&server);
    // The port first: a client's command may close it, and its event with it.
    if (portEvent != nullptr && IsSet(portEvent)) ServiceScpiPort(&server);
    for (DWORD slot = firstClient; slot < count; slot++) {
      if (IsSet(aHandles[slot])) ServiceClient(aClientOf[slot]);
    }
    if (IsSet(listenEvent)) AcceptClients(listener, listenEvent);
    // Actions of pages (the wake event reset itself as the wait took it), then the state that
    // every page shows, after whatever happened.
    ServiceServeWeb(&server);
  }

  CloseServeWeb(&server);
  for (int32_t i = 0; i < kScpiMaxClients; i++) {
    if (server.aClients[i].used) CloseClient(i);
  }
  StopAnnouncing();
  closesocket(listener);
  WSACloseEvent(listenEvent);
  CloseScpiServer(&server);
  WSACleanup();
  return kExitOk;
}

void SetListenSocketOptions(intptr_t socket) {
  // As the SCPI listener: without it Windows lets another program bind the same port over ours.
  BOOL on = TRUE;
  setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
             reinterpret_cast<const char *>(&on), sizeof(on));
}

int32_t ExplainListenFailure(const std::string &host, int32_t port, std::string *pMessage) {
  int32_t status = kExitPortFailed;
  std::string bound;
  bool loopback = false;
  const std::string address =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  SOCKET probe = Listen(address, &status, pMessage, &bound, &loopback);
  if (probe == INVALID_SOCKET) {
    // Listen names the address itself: the caller names it with its option.
    size_t colon = pMessage->find(": ");
    if (colon != std::string::npos) pMessage->erase(0, colon + 2);
    return status;
  }
  closesocket(probe);
  *pMessage = "cannot listen there";
  return kExitPortFailed;
}

std::vector<std::string> MachineAddresses() {
  // The addresses of the host's own name, as the resolver knows them: Windows Sockets alone,
  // without the IP helper library.
  std::vector<std::string> addresses = {"127.0.0.1", "::1"};
  const std::string name = MachineHostName();
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *pFound = nullptr;
  if (name.empty() || getaddrinfo(name.c_str(), nullptr, &hints, &pFound) != 0) return addresses;
  for (addrinfo *pEntry = pFound; pEntry != nullptr; pEntry = pEntry->ai_next) {
    char szHost[NI_MAXHOST];
    if (getnameinfo(pEntry->ai_addr, static_cast<socklen_t>(pEntry->ai_addrlen), szHost,
                    static_cast<DWORD>(std::size(szHost)), nullptr, 0, NI_NUMERICHOST) != 0 ||
        strchr(szHost, '%') != nullptr) {
      continue;
    }
    bool known = false;
    for (const std::string &address : addresses) known = known || address == szHost;
    if (!known) addresses.push_back(szHost);
  }
  freeaddrinfo(pFound);
  return addresses;
}

std::string MachineHostName() {
  char szName[256] = "";
  if (gethostname(szName, static_cast<int>(std::size(szName)) - 1) != 0) return "";
  return szName;
}
