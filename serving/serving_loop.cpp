// The serving loop, written once: the listener, the clients' reads and writes, the generator's
// port and the web panel, over the one wait of the platform half (serve_sockets.h).
#include <chrono>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "dns_sd/announce.h"
#include "link/exit_codes.h"
#include "serving/allow_list.h"
#include "serving/serve_sockets.h"
#include "serving/serving.h"
#include "web_panel/panel_loop.h"

namespace {

// Reads of one wake-up for one client, so that a busy client leaves the others their turn.
enum : int32_t { kReadsPerWake = 8 };

ScpiServer server;  // the clients' line buffers are far too large for the stack
WebPanel panel;
ServeSocket aClientSockets[kScpiMaxClients];
AllowList allowList;  // --allow's, set before anything listens
// The refusal lines' limit: the web panel's threads refuse too.
std::mutex refusalMutex;
RefusalLog refusals;

// Whether a client at szPeer may use the listener bound to szListener (both "ADDR:PORT" or the
// bare address). Loopback, any and --allow's networks need no look at the interfaces; else they
// are read now, so that a renewed address is followed. A refused client gets one line a second.
bool AdmitPeer(const char *szListener, const char *szPeer, const char *szService) {
  NetAddress peer = {};
  NetAddress bound = {};
  if (!ParseEndpointAddress(szPeer, &peer) || !ParseEndpointAddress(szListener, &bound)) {
    return false;  // an address the sockets could not name: nothing to match it against
  }
  if (AllowsPeer(allowList, {}, peer) ||
      AllowsPeer(allowList, ListenerNetworks(InterfaceNetworks(), bound), peer)) {
    return true;
  }
  const int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
  bool logged = false;
  {
    std::lock_guard<std::mutex> lock(refusalMutex);
    logged = NoteRefusal(&refusals, peer, nowMs);
  }
  if (logged) {
    const std::string address = NetText({peer, peer.ipv6 ? 128 : 32});
    PrintServeMessage("refused " + address + " (" + szService +
                      "): not on a network served; --allow " + address +
                      " or its network would serve it");
  }
  return false;
}

// The listening socket on "ADDR:PORT", or kNoSocket with the exit code and the message.
ServeSocket Listen(const std::string &address, int32_t *pStatus, std::string *pMessage,
                   std::string *pBound, bool *pLoopback) {
  std::string host;
  std::string port;
  ServeSocket listener = kNoSocket;
  std::string reason;
  int32_t status = kExitUsage;
  if (SplitListenAddress(address, &host, &port)) {
    status = ListenSocket(host, port, &listener, pBound, pLoopback, &reason);
  }
  if (status == kExitUsage) {
    *pStatus = kExitUsage;
    *pMessage = "--listen " + address + ": not ADDR:PORT with a numeric address (127.0.0.1:5025)";
    return kNoSocket;
  }
  if (status != kExitOk) {
    *pStatus = status;
    *pMessage = address + ": cannot listen: " + reason +
                (status == kExitTryAgain ? " (another program listens there)" : "");
    return kNoSocket;
  }
  return listener;
}

void CloseClient(int32_t index) {
  CloseClientSocket(index, aClientSockets[index]);
  aClientSockets[index] = kNoSocket;
  RemoveScpiClient(&server, index);
}

// Sends what the client's output holds, as far as the socket takes it (the wait reports room for
// more). False when the client is gone (and closed).
bool Flush(int32_t index) {
  const std::string &output = server.aClients[index].output;
  while (!output.empty()) {
    int64_t sent = SendSocket(aClientSockets[index], output.data(), output.size());
    if (sent == kSocketWouldBlock) return true;
    if (sent < 0) {
      CloseClient(index);
      return false;
    }
    ScpiOutputSent(&server, index, static_cast<size_t>(sent));
  }
  return true;
}

// A client's input is read only while its answers have gone out: one that does not read them
// holds no more than the answers of one read. A client that has ended is read to the end at once,
// since no further wake-up may come for it.
void ServiceClient(int32_t index, ClientReady ready) {
  if (ready == kClientBroken) {
    CloseClient(index);
    return;
  }
  const bool closing = ready == kClientClosing;
  uint8_t aChunk[kScpiReceiveChunk];
  for (int32_t round = 0; closing || round < kReadsPerWake; round++) {
    if (!Flush(index)) return;
    if (ready == kClientWritable || (!closing && !server.aClients[index].output.empty())) return;
    int64_t got = ReceiveSocket(aClientSockets[index], aChunk, std::size(aChunk));
    if (got == kSocketWouldBlock && !closing) return;
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
  Flush(index);
}

void AcceptClients(ServeSocket listener, const std::string &bound) {
  for (;;) {
    char szAddress[kScpiAddressSize];
    ServeSocket socket = AcceptSocket(listener, szAddress, std::size(szAddress));
    if (socket == kNoSocket) return;  // none waiting (or it gave up before we took it)
    if (!AdmitPeer(bound.c_str(), szAddress, "SCPI")) {
      CloseSocket(socket);
      continue;
    }
    int32_t index = AddScpiClient(&server, szAddress);
    if (index >= 0 && !WatchClient(index, socket)) {
      RemoveScpiClient(&server, index);
      index = -1;
    }
    if (index < 0) {
      CloseSocket(socket);
      continue;
    }
    aClientSockets[index] = socket;
  }
}

WebLink LinkOf(void *context) {
  const ScpiServer *pServer = static_cast<const ScpiServer *>(context);
  return {pServer->port != nullptr, pServer->heard, pServer->portName};
}

// Opens the generator's port, the listener and the web panel: kExitOk, or the exit code with
// everything opened closed again and *pMessage.
int32_t OpenServing(const ServeRequest &request, const WebPanelSubject &subject,
                    ServeSocket *pListener, std::string *pBound, std::vector<std::string> *pLines,
                    std::string *pMessage) {
  int32_t status = OpenScpiServer(&server, request, pMessage);
  if (status != kExitOk) return status;
  bool loopback = true;
  std::string reason;
  *pListener = Listen(request.listen, &status, pMessage, pBound, &loopback);
  if (*pListener != kNoSocket && !WatchListener(*pListener, &reason)) {
    status = kExitPortFailed;
    *pMessage = "cannot wait for connections: " + reason;
    CloseSocket(*pListener);
    *pListener = kNoSocket;
  }
  if (*pListener == kNoSocket) {
    CloseScpiServer(&server);
    return status;
  }
  WebPanelOptions options;
  options.http = request.http;
  options.httpHosts = request.httpHosts;
  options.https = request.https;
  options.tlsCert = request.tlsCert;
  options.tlsKey = request.tlsKey;
  options.stateDir = request.stateDir;
  options.scpiBound = *pBound;
  options.serial = server.serial;
  options.machineAddresses = MachineAddresses();
  options.hostName = MachineHostName();
  options.splitAddress = SplitListenAddress;
  options.wake = WakeServing;
  options.setListenSocketOptions = SetListenSocketOptions;
  options.explainListenFailure = ExplainListenFailure;
  options.auth = request.auth;
  options.tokenFile = request.tokenFile;
  options.print = PrintServeMessage;
  options.admitPeer = AdmitPeer;
  std::vector<std::string> webLines;
  status = OpenWebPanel(&panel, options, subject, &webLines, pMessage);
  if (status != kExitOk) {
    UnwatchListener();
    CloseSocket(*pListener);
    CloseScpiServer(&server);
    return status;
  }
  if (!loopback) {
    // The networks line below says who that is; SCPI itself asks no one for a credential.
    pLines->push_back("warning: listening on " + *pBound +
                      ": anyone on the networks served can drive the generator through SCPI");
  }
  pLines->insert(pLines->end(), webLines.begin(), webLines.end());
  const std::string serving = "serving " + server.portName + " on " + *pBound;
  if (!panel.httpsBound.empty()) {
    pLines->push_back(
        serving + " (SCPI) and https://" + panel.httpsBound + "/ (web panel)" +
        (panel.bound.empty() ? "" : ", redirected to from http://" + panel.bound + "/"));
    // So that a user can compare it with what the browser shows of a self-signed certificate.
    pLines->push_back("web panel certificate SHA-256 fingerprint: " + panel.fingerprint);
  } else {
    pLines->push_back(
        panel.serving ? serving + " (SCPI) and http://" + panel.bound + "/ (web panel)" : serving);
  }
  // Who may connect, when anyone but loopback may: the interfaces as they are at start.
  const std::vector<InterfaceNetwork> interfaces = InterfaceNetworks();
  std::vector<InterfaceNetwork> networks;
  for (const std::string &listener : {*pBound, panel.bound, panel.httpsBound}) {
    NetAddress address = {};
    if (!ParseEndpointAddress(listener, &address)) continue;
    const std::vector<InterfaceNetwork> served = ListenerNetworks(interfaces, address);
    networks.insert(networks.end(), served.begin(), served.end());
  }
  if (!networks.empty() || allowList.any || !allowList.nets.empty()) {
    pLines->push_back(ServedNetworksLine(allowList, networks));
  }
  if (allowList.any) {
    pLines->push_back(
        "warning: --allow any: anyone who can reach this machine can drive the generator");
  }
  for (const std::string &url : panel.signInUrls) pLines->push_back("web panel " + url);
  return kExitOk;
}

}  // namespace

int32_t RunServing(const ServeRequest &request) {
  std::string message;
  std::string bad;
  if (!ParseAllowList(request.allow, &allowList, &bad)) {
    PrintServeMessage("--allow " + bad +
                      ": not an address, a prefix (10.1.2.0/24, fd00::/64) or any");
    return kExitUsage;
  }
  if (!StartServeSockets(&message)) {
    PrintServeMessage(message);
    return kExitPortFailed;
  }
  const WebPanelSubject subject = {&server.instrument, ScpiServerActions(&server), LinkOf, &server};
  ServeSocket listener = kNoSocket;
  std::string bound;
  std::vector<std::string> lines;
  int32_t status = OpenServing(request, subject, &listener, &bound, &lines, &message);
  if (status != kExitOk) {
    PrintServeMessage(message);
    EndServeSockets();
    return status;
  }
  for (const std::string &line : lines) PrintServeMessage(line);
  if (request.announce) {
    StartAnnouncing(server.instrument.szIdentity, bound, panel.bound, panel.httpsBound,
                    PrintServeMessage);
  }

  for (;;) {
    ServeWatch watch = {};
    watch.listener = listener;
    watch.port = server.port;
    for (int32_t i = 0; i < kScpiMaxClients; i++) {
      watch.aUsed[i] = server.aClients[i].used;
      watch.aSending[i] = !server.aClients[i].output.empty();
      watch.aSockets[i] = aClientSockets[i];
    }
    // While the generator is away the wait ends now and then to look for it; else only events.
    const ServeReady ready = WaitForServing(watch, ScpiWaitTimeoutMs(&server));
    if (ready.end == kServeWaitFailed) PrintServeMessage(ready.failure);
    if (ready.end != kServeGoOn) break;
    if (ready.timedOut) RetryScpiPort(&server);
    // The port first: a client's command may close it, and its wait with it.
    if (ready.port) ServiceScpiPort(&server);
    for (int32_t i = 0; i < kScpiMaxClients; i++) {
      if (ready.aClients[i] != kClientQuiet) ServiceClient(i, ready.aClients[i]);
    }
    if (ready.listener) AcceptClients(listener, bound);
    // Actions of pages, then the state that every page shows, after whatever happened.
    ServiceWebPanel(&panel, subject);
  }

  CloseWebPanel(&panel);
  for (int32_t i = 0; i < kScpiMaxClients; i++) {
    if (server.aClients[i].used) CloseClient(i);
  }
  StopAnnouncing();
  UnwatchListener();
  CloseSocket(listener);
  CloseScpiServer(&server);
  EndServeSockets();
  return kExitOk;
}

int32_t ExplainListenFailure(const std::string &host, int32_t port, std::string *pMessage) {
  int32_t status = kExitPortFailed;
  std::string bound;
  bool loopback = false;
  const std::string address =
      (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" + std::to_string(port);
  ServeSocket probe = Listen(address, &status, pMessage, &bound, &loopback);
  if (probe == kNoSocket) {
    // Listen names the address itself: the caller names it with its option.
    size_t colon = pMessage->find(": ");
    if (colon != std::string::npos) pMessage->erase(0, colon + 2);
    return status;
  }
  CloseSocket(probe);
  *pMessage = "cannot listen there";
  return kExitPortFailed;
}
