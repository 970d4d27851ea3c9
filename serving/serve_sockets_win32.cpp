// The serving loop's sockets and its one wait on Windows: WaitForMultipleObjects over the event
// that the console control handler sets (Ctrl+C, Ctrl+Break), the WSAEventSelect events of the
// listening socket and of each client, the event that the web panel's threads set, and the event
// of the port's overlapped wait.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "link/exit_codes.h"
#include "serving/serve_sockets.h"

namespace {

enum : int32_t { kMaxSend = 65536 };  // bytes of one send

HANDLE stopEvent = nullptr;
HANDLE wakeEvent = nullptr;  // the web panel's threads set it: an action waits for the loop
WSAEVENT listenEvent = WSA_INVALID_EVENT;
WSAEVENT aClientEvents[kScpiMaxClients];

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

bool IsSet(HANDLE event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// A client's wake-up, its event set: its ended connection is read to the end, anything else
// (input, room to send) is serviced alike. Reading the events resets the event.
ClientReady ReadyOf(ServeSocket socket, WSAEVENT event) {
  WSANETWORKEVENTS events = {};
  if (WSAEnumNetworkEvents(static_cast<SOCKET>(socket), event, &events) != 0) return kClientBroken;
  return (events.lNetworkEvents & FD_CLOSE) != 0 ? kClientClosing : kClientReadable;
}

}  // namespace

bool StartServeSockets(std::string *pMessage) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    *pMessage = "cannot start Windows Sockets";
    return false;
  }
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  return true;
}

void EndServeSockets() {
  WSACleanup();
}

int32_t ListenSocket(const std::string &host, const std::string &port, ServeSocket *pSocket,
                     std::string *pBound, bool *pLoopback, std::string *pReason) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo *pFound = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &pFound) != 0) return kExitUsage;
  SOCKET listener = socket(pFound->ai_family, SOCK_STREAM, IPPROTO_TCP);
  if (listener != INVALID_SOCKET) SetListenSocketOptions(static_cast<intptr_t>(listener));
  if (listener == INVALID_SOCKET ||
      bind(listener, pFound->ai_addr, static_cast<int>(pFound->ai_addrlen)) != 0 ||
      listen(listener, 16) != 0) {
    int error = WSAGetLastError();
    if (listener != INVALID_SOCKET) closesocket(listener);
    freeaddrinfo(pFound);
    *pReason = SocketErrorText(error);
    // Windows gives WSAEACCES for a port that another socket holds for itself alone.
    return error == WSAEADDRINUSE || error == WSAEACCES ? kExitTryAgain : kExitPortFailed;
  }
  freeaddrinfo(pFound);
  sockaddr_storage bound = {};
  socklen_t length = sizeof(bound);
  getsockname(listener, reinterpret_cast<sockaddr *>(&bound), &length);
  char szBound[kScpiAddressSize];
  AddressText(reinterpret_cast<sockaddr *>(&bound), length, szBound, std::size(szBound));
  *pBound = szBound;
  *pLoopback = IsLoopback(reinterpret_cast<sockaddr *>(&bound));
  *pSocket = static_cast<ServeSocket>(listener);
  return kExitOk;
}

bool WatchListener(ServeSocket listener, std::string *pReason) {
  listenEvent = WSACreateEvent();
  if (WSAEventSelect(static_cast<SOCKET>(listener), listenEvent, FD_ACCEPT) == 0) return true;
  *pReason = SocketErrorText(WSAGetLastError());
  UnwatchListener();
  return false;
}

void UnwatchListener() {
  if (listenEvent != WSA_INVALID_EVENT) WSACloseEvent(listenEvent);
  listenEvent = WSA_INVALID_EVENT;
}

ServeSocket AcceptSocket(ServeSocket listener, char *szAddress, size_t size) {
  sockaddr_storage peer = {};
  socklen_t length = sizeof(peer);
  SOCKET client =
      accept(static_cast<SOCKET>(listener), reinterpret_cast<sockaddr *>(&peer), &length);
  if (client == INVALID_SOCKET) return kNoSocket;
  BOOL on = TRUE;
  setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof(on));
  AddressText(reinterpret_cast<sockaddr *>(&peer), length, szAddress, size);
  return static_cast<ServeSocket>(client);
}

bool WatchClient(int32_t index, ServeSocket socket) {
  WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT) return false;
  if (WSAEventSelect(static_cast<SOCKET>(socket), event, FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    WSACloseEvent(event);
    return false;
  }
  aClientEvents[index] = event;
  return true;
}

void CloseClientSocket(int32_t index, ServeSocket socket) {
  CloseSocket(socket);
  WSACloseEvent(aClientEvents[index]);
}

void CloseSocket(ServeSocket socket) {
  closesocket(static_cast<SOCKET>(socket));
}

int64_t ReceiveSocket(ServeSocket socket, uint8_t *pBuffer, size_t size) {
  int got = recv(static_cast<SOCKET>(socket), reinterpret_cast<char *>(pBuffer),
                 static_cast<int>(size), 0);
  if (got != SOCKET_ERROR) return got;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kSocketWouldBlock : kSocketFailed;
}

int64_t SendSocket(ServeSocket socket, const char *pBytes, size_t dwCount) {
  int chunk = dwCount > kMaxSend ? kMaxSend : static_cast<int>(dwCount);
  int sent = send(static_cast<SOCKET>(socket), pBytes, chunk, 0);
  if (sent > 0) return sent;
  // FD_WRITE comes when the socket takes more.
  return sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK ? kSocketWouldBlock
                                                                     : kSocketFailed;
}

ServeReady WaitForServing(const ServeWatch &watch, int32_t timeoutMs) {
  HANDLE aHandles[4 + kScpiMaxClients];
  DWORD count = 0;
  aHandles[count++] = stopEvent;
  aHandles[count++] = listenEvent;
  aHandles[count++] = wakeEvent;
  HANDLE portEvent = nullptr;
  if (watch.port != nullptr) {
    ArmSerialWait(watch.port);
    portEvent = reinterpret_cast<HANDLE>(SerialWaitHandle(watch.port));
    aHandles[count++] = portEvent;
  }
  for (int32_t i = 0; i < kScpiMaxClients; i++) {
    if (watch.aUsed[i]) aHandles[count++] = aClientEvents[i];
  }
  ServeReady ready = {};
  DWORD woken = WaitForMultipleObjects(count, aHandles, FALSE,
                                       timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
  if (woken == WAIT_FAILED) {
    ready.end = kServeWaitFailed;
    ready.failure = "the wait failed (error " + std::to_string(GetLastError()) + ")";
    return ready;
  }
  if (IsSet(stopEvent)) {
    ready.end = kServeStop;
    return ready;
  }
  ready.timedOut = woken == WAIT_TIMEOUT;
  ready.port = portEvent != nullptr && IsSet(portEvent);
  for (int32_t i = 0; i < kScpiMaxClients; i++) {
    if (watch.aUsed[i] && IsSet(aClientEvents[i])) {
      ready.aClients[i] = ReadyOf(watch.aSockets[i], aClientEvents[i]);
    }
  }
  ready.listener = IsSet(listenEvent);
  if (ready.listener) {
    WSANETWORKEVENTS events = {};
    WSAEnumNetworkEvents(static_cast<SOCKET>(watch.listener), listenEvent, &events);
  }
  // The wake event reset itself as the wait took it.
  return ready;
}

void WakeServing() {
  SetEvent(wakeEvent);
}

void SetListenSocketOptions(intptr_t socket) {
  // Without it Windows lets another program bind the same port over ours.
  BOOL on = TRUE;
  setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
             reinterpret_cast<const char *>(&on), sizeof(on));
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

std::vector<InterfaceNetwork> InterfaceNetworks() {
  std::vector<InterfaceNetwork> networks;
  // The list's size is known only by asking; an interface may come between two calls.
  std::vector<uint8_t> buffer(16384);
  const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG size = static_cast<ULONG>(buffer.size());
  IP_ADAPTER_ADDRESSES *pAdapters = nullptr;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int32_t attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; attempt++) {
    buffer.resize(size);
    pAdapters = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
    result = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, pAdapters, &size);
  }
  if (result != NO_ERROR) return networks;
  for (IP_ADAPTER_ADDRESSES *pAdapter = pAdapters; pAdapter != nullptr; pAdapter = pAdapter->Next) {
    InterfaceNetwork named = {};
    size_t used = 0;
    for (const wchar_t *p = pAdapter->FriendlyName;
         p != nullptr && *p != L'\0' && used + 1 < std::size(named.szName); p++) {
      named.szName[used++] = *p < 0x80 ? static_cast<char>(*p) : '?';
    }
    for (IP_ADAPTER_UNICAST_ADDRESS *pUnicast = pAdapter->FirstUnicastAddress; pUnicast != nullptr;
         pUnicast = pUnicast->Next) {
      const sockaddr *pAddress = pUnicast->Address.lpSockaddr;
      InterfaceNetwork network = named;
      if (pAddress->sa_family == AF_INET) {
        memcpy(network.net.address.aBytes,
               &reinterpret_cast<const sockaddr_in *>(pAddress)->sin_addr, 4);
      } else if (pAddress->sa_family == AF_INET6) {
        network.net.address.ipv6 = true;
        memcpy(network.net.address.aBytes,
               &reinterpret_cast<const sockaddr_in6 *>(pAddress)->sin6_addr, 16);
      } else {
        continue;
      }
      network.net.bits = pUnicast->OnLinkPrefixLength;
      networks.push_back(network);
    }
  }
  return networks;
}

std::string MachineHostName() {
  char szName[256] = "";
  if (gethostname(szName, static_cast<int>(std::size(szName)) - 1) != 0) return "";
  return szName;
}
