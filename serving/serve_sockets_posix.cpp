// The serving loop's sockets and its one wait on Linux: poll over a signalfd (SIGINT, SIGTERM),
// the listening socket, an eventfd that the web panel's threads write, the generator's port and
// the clients. Nothing else wakes it.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "link/exit_codes.h"
#include "serving/serve_sockets.h"

namespace {

int signalFd = -1;
int wakeFd = -1;  // the web panel's threads wake the loop here: an action waits for it

void AddressText(const sockaddr *pAddress, socklen_t length, char *szText, size_t size) {
  char szHost[NI_MAXHOST] = "?";
  char szPort[NI_MAXSERV] = "?";
  getnameinfo(pAddress, length, szHost, std::size(szHost), szPort, std::size(szPort),
              NI_NUMERICHOST | NI_NUMERICSERV);
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

// A client's wake-up: room to send, input, or its end (the other end closed, or an error).
ClientReady ReadyOf(short revents) {
  if ((revents & (POLLHUP | POLLERR)) != 0) return kClientClosing;
  if ((revents & POLLIN) != 0) return kClientReadable;
  return revents != 0 ? kClientWritable : kClientQuiet;
}

}  // namespace

bool StartServeSockets(std::string *) {
  // The signals are taken from the wait, never from a handler in the middle of a command.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  // A client gone in the middle of an answer is an error of that send, not the end of the server.
  signal(SIGPIPE, SIG_IGN);
  signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return true;
}

void EndServeSockets() {
  if (signalFd >= 0) close(signalFd);
  if (wakeFd >= 0) close(wakeFd);
  signalFd = -1;
  wakeFd = -1;
}

int32_t ListenSocket(const std::string &host, const std::string &port, ServeSocket *pSocket,
                     std::string *pBound, bool *pLoopback, std::string *pReason) {
  addrinfo hints = {};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo *pFound = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &pFound) != 0) return kExitUsage;
  int fd = socket(pFound->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  // A restart may listen at once although connections of the last run linger in TIME_WAIT; a
  // port another program listens on is still refused.
  if (fd >= 0) SetListenSocketOptions(fd);
  if (fd < 0 || bind(fd, pFound->ai_addr, pFound->ai_addrlen) != 0 || listen(fd, 16) != 0) {
    int error = errno;
    if (fd >= 0) close(fd);
    freeaddrinfo(pFound);
    *pReason = strerror(error);
    return error == EADDRINUSE ? kExitTryAgain
           : error == EACCES   ? kExitNoPermission
                               : kExitPortFailed;
  }
  freeaddrinfo(pFound);
  sockaddr_storage bound = {};
  socklen_t length = sizeof(bound);
  getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length);
  char szBound[kScpiAddressSize];
  AddressText(reinterpret_cast<sockaddr *>(&bound), length, szBound, std::size(szBound));
  *pBound = szBound;
  *pLoopback = IsLoopback(reinterpret_cast<sockaddr *>(&bound));
  *pSocket = fd;
  return kExitOk;
}

bool WatchListener(ServeSocket, std::string *) {
  return true;  // poll watches the listener itself
}

void UnwatchListener() {}

ServeSocket AcceptSocket(ServeSocket listener, char *szAddress, size_t size) {
  sockaddr_storage peer = {};
  socklen_t length = sizeof(peer);
  int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr *>(&peer), &length,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return kNoSocket;
  int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
  AddressText(reinterpret_cast<sockaddr *>(&peer), length, szAddress, size);
  return fd;
}

bool WatchClient(int32_t, ServeSocket) {
  return true;  // poll watches the client's socket itself
}

void CloseClientSocket(int32_t, ServeSocket socket) {
  CloseSocket(socket);
}

void CloseSocket(ServeSocket socket) {
  close(static_cast<int>(socket));
}

int64_t ReceiveSocket(ServeSocket socket, uint8_t *pBuffer, size_t size) {
  ssize_t got = recv(static_cast<int>(socket), pBuffer, size, 0);
  if (got >= 0) return got;
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? kSocketWouldBlock
                                                                   : kSocketFailed;
}

int64_t SendSocket(ServeSocket socket, const char *pBytes, size_t dwCount) {
  for (;;) {
    ssize_t sent = send(static_cast<int>(socket), pBytes, dwCount, 0);
    if (sent > 0) return sent;
    if (sent < 0 && errno == EINTR) continue;
    return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? kSocketWouldBlock
                                                                 : kSocketFailed;
  }
}

ServeReady WaitForServing(const ServeWatch &watch, int32_t timeoutMs) {
  enum : nfds_t { kSignalSlot = 0, kListenerSlot = 1, kWakeSlot = 2, kFixedSlots = 3 };
  pollfd aPoll[kFixedSlots + 1 + kScpiMaxClients];
  int32_t aClientOf[kFixedSlots + 1 + kScpiMaxClients];
  nfds_t count = 0;
  aPoll[count++] = {signalFd, POLLIN, 0};
  aPoll[count++] = {static_cast<int>(watch.listener), POLLIN, 0};
  aPoll[count++] = {wakeFd, POLLIN, 0};
  nfds_t portSlot = 0;
  if (watch.port != nullptr) {
    portSlot = count;
    aPoll[count++] = {static_cast<int>(SerialWaitHandle(watch.port)), POLLIN, 0};
  }
  const nfds_t firstClient = count;
  for (int32_t i = 0; i < kScpiMaxClients; i++) {
    if (!watch.aUsed[i]) continue;
    aClientOf[count] = i;
    const short events = watch.aSending[i] ? POLLOUT : POLLIN;
    aPoll[count++] = {static_cast<int>(watch.aSockets[i]), events, 0};
  }
  ServeReady ready = {};
  int result = poll(aPoll, count, timeoutMs);
  while (result < 0 && errno == EINTR) result = poll(aPoll, count, timeoutMs);
  if (result < 0) {
    ready.end = kServeWaitFailed;
    ready.failure = std::string("poll failed: ") + strerror(errno);
    return ready;
  }
  if (aPoll[kSignalSlot].revents != 0) {
    ready.end = kServeStop;
    return ready;
  }
  ready.timedOut = result == 0;
  ready.port = portSlot != 0 && aPoll[portSlot].revents != 0;
  for (nfds_t slot = firstClient; slot < count; slot++) {
    ready.aClients[aClientOf[slot]] = ReadyOf(aPoll[slot].revents);
  }
  ready.listener = (aPoll[kListenerSlot].revents & POLLIN) != 0;
  if (aPoll[kWakeSlot].revents != 0) {
    uint64_t wakes = 0;
    if (read(wakeFd, &wakes, sizeof(wakes)) < 0) {
      // Nothing to take: another read took it.
    }
  }
  return ready;
}

void WakeServing() {
  uint64_t one = 1;
  if (write(wakeFd, &one, sizeof(one)) < 0) {
    // The counter is full (it holds 2^64 - 2 wake-ups): the loop is awake anyway.
  }
}

void SetListenSocketOptions(intptr_t socket) {
  int on = 1;
  // A restart is not held up by TIME_WAIT; a port in use is still refused (no SO_REUSEPORT, which
  // would let two servers share it).
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
}

std::vector<std::string> MachineAddresses() {
  std::vector<std::string> addresses;
  ifaddrs *pList = nullptr;
  if (getifaddrs(&pList) != 0) return addresses;
  for (ifaddrs *pEntry = pList; pEntry != nullptr; pEntry = pEntry->ifa_next) {
    const sockaddr *pAddress = pEntry->ifa_addr;
    if (pAddress == nullptr || (pAddress->sa_family != AF_INET && pAddress->sa_family != AF_INET6))
      continue;
    char szHost[NI_MAXHOST];
    socklen_t length = pAddress->sa_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (getnameinfo(pAddress, length, szHost, std::size(szHost), nullptr, 0, NI_NUMERICHOST) != 0)
      continue;
    // A link-local address carries its interface ("fe80::1%eth0"): Host cannot name it so.
    if (strchr(szHost, '%') != nullptr) continue;
    addresses.push_back(szHost);
  }
  freeifaddrs(pList);
  return addresses;
}

std::vector<InterfaceNetwork> InterfaceNetworks() {
  std::vector<InterfaceNetwork> networks;
  ifaddrs *pList = nullptr;
  if (getifaddrs(&pList) != 0) return networks;
  for (ifaddrs *pEntry = pList; pEntry != nullptr; pEntry = pEntry->ifa_next) {
    const sockaddr *pAddress = pEntry->ifa_addr;
    if (pAddress == nullptr || pEntry->ifa_netmask == nullptr ||
        (pAddress->sa_family != AF_INET && pAddress->sa_family != AF_INET6)) {
      continue;
    }
    InterfaceNetwork network = {};
    snprintf(network.szName, std::size(network.szName), "%s", pEntry->ifa_name);
    const uint8_t *pBytes = nullptr;
    const uint8_t *pMask = nullptr;
    size_t width = 4;
    if (pAddress->sa_family == AF_INET) {
      pBytes = reinterpret_cast<const uint8_t *>(
          &reinterpret_cast<const sockaddr_in *>(pAddress)->sin_addr);
      pMask = reinterpret_cast<const uint8_t *>(
          &reinterpret_cast<const sockaddr_in *>(pEntry->ifa_netmask)->sin_addr);
    } else {
      network.net.address.ipv6 = true;
      width = 16;
      pBytes = reinterpret_cast<const sockaddr_in6 *>(pAddress)->sin6_addr.s6_addr;
      pMask = reinterpret_cast<const sockaddr_in6 *>(pEntry->ifa_netmask)->sin6_addr.s6_addr;
    }
    memcpy(network.net.address.aBytes, pBytes, width);
    for (size_t i = 0; i < width; i++) network.net.bits += __builtin_popcount(pMask[i]);
    networks.push_back(network);
  }
  freeifaddrs(pList);
  return networks;
}

std::string MachineHostName() {
  char szName[256] = "";
  if (gethostname(szName, std::size(szName) - 1) != 0) return "";
  return szName;
}
