#pragma once
// The web panel's HTTP listener (cpp-httplib, on threads of its own). Its threads never touch the
// instrument: an action is queued for the serving loop, which is woken to run it and publishes
// the state that follows; the threads only hand out the published state, the page's files and the
// identification document. Portable: the library covers both platforms, and the listening
// socket's rules come from the serving loop's platform half.
#include <cstdint>
#include <string>
#include <vector>

#include "web_panel/http_tls.h"
#include "web_panel/page_model.h"

struct WebServerConfig {
  std::string host;  // the numeric address to listen on
  int32_t port;      // 0: any free port
  WebNames names;    // the names a Host may carry (its port is set once bound)
  void (*wake)();    // wakes the serving loop from any thread: an action waits
  // The options of the listening socket: an address in use is refused, never shared.
  void (*setListenSocketOptions)(intptr_t socket);
  // Why host:port cannot be listened on: the exit code and *pMessage.
  int32_t (*explainListenFailure)(const std::string &host, int32_t port, std::string *pMessage);
  // Who may change the generator: with authNeeded, only a session that this token opened.
  bool authNeeded;
  std::string token;
  void (*print)(const std::string &line);  // one stderr line: a failed sign-in, a lock-out
  // Whether a client at szPeer may use the listener on szListener (false: its connection is
  // closed before a byte of it is read); called from the listener's threads.
  bool (*admitPeer)(const char *szListener, const char *szPeer, const char *szService);
  bool https;            // the panel over TLS, with this identity
  TlsIdentity identity;  // with https
};

// Binds the listening socket. kExitOk with *pPort, or an exit code with *pMessage.
int32_t BindWebServer(const WebServerConfig &config, int32_t *pPort, std::string *pMessage);

// With the panel over HTTPS: binds the plain HTTP listener on host:port (0: any free port), which
// answers every request with a redirect to the same path on the panel's port, once Host is one of
// names. kExitOk with *pPort, or an exit code with *pMessage. After BindWebServer.
int32_t BindWebRedirect(const std::string &host, int32_t port, const WebNames &names,
                        int32_t *pPort, std::string *pMessage);

// Starts answering requests, with this identification document.
void RunWebServer(const std::string &identificationXml);

// Stops answering; open event streams end. Waits for nothing that a client holds.
void StopWebServer();

// The loop's side. Runs every queued action with run(context, action), publishing state(context)
// after each before its request is answered.
using WebRunFn = int32_t (*)(void *context, const WebAction &action);
using WebStateFn = std::string (*)(void *context);
void ServeWebActions(WebRunFn run, WebStateFn state, void *context);

// Makes this state (without its sequence number) the one pages show; open pages get it at once
// when it differs from the last one. Returns it with its sequence number.
std::string PublishWebState(const std::string &state);
