// The server's sockets and its one wait on Linux: poll over a signalfd (SIGINT, SIGTERM), the
// listening socket, the generator's port and the clients. Nothing else wakes it.
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

#include "dns_sd/announce.h"
#include "link/exit_codes.h"
#include "server/scpi_server.h"

namespace {

ScpiServer server;  // the clients' line buffers are far too large for the stack
int aClientSockets[kScpiMaxClients];
int wakeFd = -1;  // the web panel's threads wake the loop here: an action waits for it

void WakeLoop() {
  uint64_t one = 1;
  if (write(wakeFd, &one, sizeof(one)) < 0) {
    // The counter is full (it holds 2^64 - 2 wake-ups): the loop is awake anyway.
  }
}

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

// The listening socket, or -1 with the exit code and the message.
int Listen(const std::string &address, int32_t *pStatus, std::string *pMessage, std::string *pBound,
           bool *pLoopback) {
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
    return -1;
  }
  int fd = socket(pFound->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int on = 1;
  // A restart may listen at once although connections of the last run linger in TIME_WAIT; a
  // port another program listens on is still refused.
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
  if (fd < 0 || bind(fd, pFound->ai_addr, pFound->ai_addrlen) != 0 || listen(fd, 16) != 0) {
    int error = errno;
    if (fd >= 0) close(fd);
    freeaddrinfo(pFound);
    *pStatus = error == EADDRINUSE ? kExitTryAgain
               : error == EACCES   ? kExitNoPermission
                                   : kExitPortFailed;
    *pMessage = address + ": cannot listen: " + strerror(error) +
                (error == EADDRINUSE ? " (another program listens there)" : "");
    return -1;
  }
  freeaddrinfo(pFound);
  sockaddr_storage bound = {};
  socklen_t length = sizeof(bound);
  getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &length);
  char szBound[kScpiAddressSize];
  AddressText(reinterpret_cast<sockaddr *>(&bound), length, szBound, std::size(szBound));
  *pBound = szBound;
  *pLoopback = IsLoopback(reinterpret_cast<sockaddr *>(&bound));
  return fd;
}

void CloseClient(int32_t index) {
  close(aClientSockets[index]);
  aClientSockets[index] = -1;
  RemoveScpiClient(&server, index);
}

// Sends what the client's output holds, as far as the socket takes it. False when the client
// is gone (and closed).
bool Flush(int32_t index) {
  const std::string &output = server.aClients[index].output;
  while (!output.empty()) {
    ssize_t sent = send(aClientSockets[index], output.data(), output.size(), 0);
    if (sent > 0) {
      ScpiOutputSent(&server, index, static_cast<size_t>(sent));
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return true;
    } else {
      CloseClient(index);
      return false;
    }
  }
  return true;
}

void ServiceClient(int32_t index, short revents) {
  if (!Flush(index) || (revents & (POLLIN | POLLHUP | POLLERR)) == 0) return;
  uint8_t aChunk[kScpiReceiveChunk];
  ssize_t got = recv(aClientSockets[index], aChunk, std::size(aChunk), 0);
  if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (got <= 0) {
    CloseClient(index);
    return;
  }
  if (!TakeScpiClientBytes(&server, index, aChunk, static_cast<size_t>(got))) {
    CloseClient(index);
    return;
  }
  Flush(index);
}

void AcceptClients(int listener) {
  for (;;) {
    sockaddr_storage peer = {};
    socklen_t length = sizeof(peer);
    int fd = accept4(listener, reinterpret_cast<sockaddr *>(&peer), &length,
                     SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // none waiting (or it gave up before we took it)
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    char szAddress[kScpiAddressSize];
    AddressText(reinterpret_cast<sockaddr *>(&peer), length, szAddress, std::size(szAddress));
    int32_t index = AddScpiClient(&server, szAddress);
    if (index < 0) {
      close(fd);
    } else {
      aClientSockets[index] = fd;
    }
  }
}

}  // namespace

int32_t RunScpiServer(const ServeRequest &request) {
  // The signals are taken from the wait, never from a handler in the middle of a command.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  // A client gone in the middle of an answer is an error of that send, not the end of the server.
  signal(SIGPIPE, SIG_IGN);
  int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

  std::string message;
  int32_t status = OpenScpiServer(&server, request, &message);
  std::string bound;
  bool loopback = true;
  int listener = -1;
  if (status == kExitOk) {
    listener = Listen(request.listen, &status, &message, &bound, &loopback);
    if (listener < 0) CloseScpiServer(&server);
  }
  if (status != kExitOk) {
    PrintServeMessage(message);
    return status;
  }
  wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  std::vector<std::string> lines;
  status = OpenServeWeb(&server, bound, WakeLoop, &lines, &message);
  if (status != kExitOk) {
    close(listener);
    CloseScpiServer(&server);
    PrintServeMessage(message);
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

  enum : nfds_t { kSignalSlot = 0, kListenerSlot = 1, kWakeSlot = 2, kFixedSlots = 3 };
  for (;;) {
    pollfd aPoll[kFixedSlots + 1 + kScpiMaxClients];
    int32_t aClientOf[kFixedSlots + 1 + kScpiMaxClients];
    nfds_t count = 0;
    aPoll[count++] = {signalFd, POLLIN, 0};
    aPoll[count++] = {listener, POLLIN, 0};
    aPoll[count++] = {wakeFd, POLLIN, 0};
    nfds_t portSlot = 0;
    if (server.port != nullptr) {
      portSlot = count;
      aPoll[count++] = {static_cast<int>(SerialWaitHandle(server.port)), POLLIN, 0};
    }
    const nfds_t firstClient = count;
    for (int32_t i = 0; i < kScpiMaxClients; i++) {
      if (!server.aClients[i].used) continue;
      aClientOf[count] = i;
      // A client's lines are read only once its answers have gone out: one that does not read
      // them holds no more than the answers of one read.
      short events = server.aClients[i].output.empty() ? POLLIN : POLLOUT;
      aPoll[count++] = {aClientSockets[i], events, 0};
    }
    // While the generator is away the wait ends now and then to look for it; else only events.
    int ready = poll(aPoll, count, ScpiWaitTimeoutMs(&server));
    if (ready < 0) {
      if (errno == EINTR) continue;
      PrintServeMessage(std::string("poll failed: ") + strerror(errno));
      break;
    }
    if (aPoll[kSignalSlot].revents != 0) break;
    if (ready == 0) RetryScpiPort(&server);
    if (portSlot != 0 && aPoll[portSlot].revents != 0) ServiceScpiPort(&server);
    for (nfds_t slot = firstClient; slot < count; slot++) {
      if (aPoll[slot].revents != 0) ServiceClient(aClientOf[slot], aPoll[slot].revents);
    }
    if ((aPoll[kListenerSlot].revents & POLLIN) != 0) AcceptClients(listener);
    if (aPoll[kWakeSlot].revents != 0) {
      uint64_t wakes = 0;
      if (read(wakeFd, &wakes, sizeof(wakes)) < 0) {
        // Nothing to take: another read took it.
      }
    }
    // Actions of pages, then the state that every page shows, after whatever happened.
    ServiceServeWeb(&server);
  }

  CloseServeWeb(&server);
  for (int32_t i = 0; i < kScpiMaxClients; i++) {
    if (server.aClients[i].used) CloseClient(i);
  }
  StopAnnouncing();
  close(listener);
  CloseScpiServer(&server);
  if (signalFd >= 0) close(signalFd);
  if (wakeFd >= 0) close(wakeFd);
  return kExitOk;
}

void SetListenSocketOptions(intptr_t socket) {
  int on = 1;
  // As the SCPI listener: a restart is not held up by TIME_WAIT; a port in use is still refused
  // (no SO_REUSEPORT, which would let two servers share it).
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
}

int32_t ExplainListenFailure(const std::string &host, int32_t port, std::string *pMessage) {
  int32_t status = kExitPortFailed;
  std::string bound;
  bool loopback = false;
  const std::string address =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  int fd = Listen(address, &status, pMessage, &bound, &loopback);
  if (fd < 0) {
    // Listen names the address itself: the caller names it with its option.
    size_t colon = pMessage->find(": ");
    if (colon != std::string::npos) pMessage->erase(0, colon + 2);
    return status;
  }
  close(fd);
  *pMessage = "cannot listen there";
  return kExitPortFailed;
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

std::string MachineHostName() {
  char szName[256] = "";
  if (gethostname(szName, std::size(szName) - 1) != 0) return "";
  return szName;
}
