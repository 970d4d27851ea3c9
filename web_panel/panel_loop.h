#pragma once
// The web panel as the serving loop holds it: its own record, and the loop's three calls into it
// (open once the SCPI listener is bound, service after every wake-up, close at the end). The page
// shows and drives the instrument that the loop lends it; what the panel needs of the loop's
// sockets comes in as values and functions, since the panel is below the loop.
#include <cstdint>
#include <string>
#include <vector>

#include "instrument/instrument.h"
#include "web_panel/page_model.h"
#include "web_panel/web_access.h"

// The panel's record: its listener, what the page tells, and what was last drawn and published.
struct WebPanel {
  bool serving;             // the page is served (--http is not "off")
  std::string bound;        // its listener's bound "ADDR:PORT" (announced with DNS-SD), else empty
  std::string httpsBound;   // the HTTPS listener's (--https), else empty; bound then redirects
  std::string fingerprint;  // the served certificate's SHA-256, with HTTPS
  WebIdentity identity;     // resources, panel URL, serial, version
  std::string previewKey;   // what the preview below was drawn from
  std::string previewSvg;
  std::string stateKey;  // what the published state was made from
  // The page's addresses with the access token, one for each address it is reachable at; empty
  // when no token is needed.
  std::vector<std::string> signInUrls;
};

// The instrument the page shows and drives, lent by the serving loop.
struct WebPanelSubject {
  Instrument *instrument;
  InstrumentGenerator actions;     // how the page's actions reach the generator
  WebLink (*link)(void *context);  // the generator's link as it is now
  void *context;                   // the loop's, for link
};

// What the panel takes from the serving loop: the request's web options, the SCPI listener, the
// machine's names, the wake-up and the rules of the platform's listening sockets.
struct WebPanelOptions {
  std::string http;                    // --http: "ADDR:PORT", "PORT", "off", or empty (8025)
  std::vector<std::string> httpHosts;  // --http-host: more names a Host may carry
  std::string https;                   // --https: "ADDR:PORT", "PORT", or empty (off)
  std::string tlsCert;  // --tls-cert, --tls-key: PEM files; empty: the self-signed certificate
  std::string tlsKey;
  std::string stateDir;   // --state-dir: where the self-signed certificate is kept; empty: nowhere
  std::string scpiBound;  // the SCPI listener's bound "ADDR:PORT"
  std::string serial;     // the generator's USB serial number
  std::vector<std::string> machineAddresses;  // numeric, IPv6 without brackets
  std::string hostName;
  // "ADDR:PORT" (IPv6 in brackets) split: false when malformed.
  bool (*splitAddress)(const std::string &text, std::string *pHost, std::string *pPort);
  void (*wake)();  // wakes the serving loop from any thread
  void (*setListenSocketOptions)(intptr_t socket);
  int32_t (*explainListenFailure)(const std::string &host, int32_t port, std::string *pMessage);
  WebAuthMode auth;                        // --auth
  std::string tokenFile;                   // --token-file, or empty: a new token for this run
  void (*print)(const std::string &line);  // one stderr line, from any thread
  // Who may connect (--allow): false closes the connection unanswered. From any thread.
  bool (*admitPeer)(const char *szListener, const char *szPeer, const char *szService);
};

// Binds the panel on the address of options.http (exit 75 naming --http when its port is in use,
// 64 for a malformed one or a token file others may read) and starts serving, unless it is
// "off". With options.https the panel is served there over TLS, and options.http's listener
// redirects to it. On kExitOk, *pLines holds the warnings to print before serving.
int32_t OpenWebPanel(WebPanel *panel, const WebPanelOptions &options,
                     const WebPanelSubject &subject, std::vector<std::string> *pLines,
                     std::string *pMessage);
// Runs the actions that pages sent, then publishes the state: after every wake-up of the loop.
void ServiceWebPanel(WebPanel *panel, const WebPanelSubject &subject);
void CloseWebPanel(WebPanel *panel);
