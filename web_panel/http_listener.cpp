#include "web_panel/http_listener.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "link/exit_codes.h"
#include "signal/shape_file.h"
#include "web_panel/web_access.h"
#include "web_panel/web_assets.h"
#include "web_panel/web_secret.h"

namespace {

enum : int32_t {
  kMaxWorkers = 240,           // connections served at once: 200 idle ones leave room for pages
  kHeaderTimeoutSeconds = 10,  // a request's headers must have come by then
  kKeepAliveSeconds = 5,       // an idle kept-alive connection is closed after this
  kEventPingSeconds = 15,      // an open event stream hears a comment this often
  kStopWaitMs = 2000,          // at the end, how long the connections being served may take
  kActionWaitSeconds = 60,     // a start takes under a second; the loop answers long before
};
const size_t kMaxBody = 1024 * 1024;
const size_t kMaxUpload = 16 * 1024 * 1024;  // a waveform's file; the library's limit of any body
const size_t kMaxSignInBody = 4096;

// An action on its way to the loop and back.
struct PendingAction {
  WebAction action;
  bool done;
  int32_t error;
  std::string state;  // with its sequence number
};

// Everything the HTTP threads share. Allocated once and never freed: worker threads are detached
// and may still be in a read when the process ends.
struct WebShared {
  std::mutex mutex;
  std::condition_variable changed;  // a new state, an answered action, or the end
  bool stopping = false;
  uint64_t seq = 0;
  std::string state;      // the published state, without its sequence number
  std::string published;  // with it
  std::deque<std::shared_ptr<PendingAction>> queue;
  std::string identificationXml;
  WebServerConfig config;
  // The worker pool.
  std::condition_variable work;
  std::condition_variable idle;  // a worker finished its connection
  std::deque<std::function<void()>> jobs;
  int32_t workers = 0;
  int32_t idleWorkers = 0;
  std::vector<intptr_t> openSockets;  // the connections being served, which the end closes
  // Who signed in, and who failed to.
  std::vector<WebSession> sessions;
  std::vector<SignInFailures> failures;
};

WebShared *shared = nullptr;
httplib::Server *server = nullptr;
std::thread listener;
// With HTTPS: the plain HTTP listener that sends every request there, and the names it answers to.
httplib::Server *redirector = nullptr;
std::thread redirectListener;
WebNames redirectNames;

void Work() {
  std::unique_lock<std::mutex> lock(shared->mutex);
  for (;;) {
    shared->idleWorkers++;
    shared->idle.notify_all();
    shared->work.wait(lock, [] { return !shared->jobs.empty(); });
    shared->idleWorkers--;
    std::function<void()> job = std::move(shared->jobs.front());
    shared->jobs.pop_front();
    lock.unlock();
    job();
    lock.lock();
  }
}

// The library's fixed pool would let 200 idle connections hold every thread: this one grows on
// demand up to kMaxWorkers, and its idle threads cost nothing but their stacks.
struct GrowingPool : httplib::TaskQueue {
  void enqueue(std::function<void()> fn) override {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->jobs.push_back(std::move(fn));
    if (shared->idleWorkers == 0 && shared->workers < kMaxWorkers) {
      shared->workers++;
      std::thread(Work).detach();
    } else {
      shared->work.notify_one();
    }
  }
  // Workers end with the process: one in a client's read must not hold up the end.
  void shutdown() override {}
};

// Whether the peer of a connection accepted on listener may use it (--allow).
bool AdmitSocket(intptr_t sock, const std::string &listener) {
  std::string peer;
  int peerPort = 0;
  httplib::detail::get_remote_ip_and_port(static_cast<socket_t>(sock), peer, peerPort);
  if (!shared->config.admitPeer(listener.c_str(), peer.c_str(), "web panel")) return false;
  std::lock_guard<std::mutex> lock(shared->mutex);
  shared->openSockets.push_back(sock);
  return true;
}

// An admitted connection's socket is about to close: the end must not shut a reused one.
void ForgetSocket(intptr_t sock) {
  std::lock_guard<std::mutex> lock(shared->mutex);
  std::vector<intptr_t> &open = shared->openSockets;
  open.erase(std::remove(open.begin(), open.end(), sock), open.end());
}

// The library's server, with the check of who may connect. The library's own processing of a
// connection is private: this is it, as its TLS server repeats it, after the check. A refused
// connection is closed before a byte of it is read, unanswered.
struct AdmittingServer : httplib::Server {
  std::string listener;  // the bound address its connections came to
  bool process_and_close_socket(socket_t sock) override {
    if (!AdmitSocket(static_cast<intptr_t>(sock), listener)) {
      httplib::detail::close_socket(sock);
      return false;
    }
    const bool processed = httplib::detail::process_server_socket(
        svr_sock_, sock, keep_alive_max_count_, keep_alive_timeout_sec_, read_timeout_sec_,
        read_timeout_usec_, write_timeout_sec_, write_timeout_usec_,
        [this](httplib::Stream &strm, bool close_connection, bool &connection_closed) {
          return process_request(strm, close_connection, connection_closed, nullptr);
        });
    ForgetSocket(static_cast<intptr_t>(sock));
    httplib::detail::shutdown_socket(sock);
    httplib::detail::close_socket(sock);
    return processed;
  }
};

void Reply(httplib::Response &res, int status, const std::string &body, const char *szType) {
  res.status = status;
  res.set_content(body, szType);
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Whether the request may change the generator: no token is needed, or its cookie names a
// session that is open.
bool HasValidSession(const httplib::Request &req) {
  if (!shared->config.authNeeded) return true;
  const std::string cookie = req.get_header_value("Cookie");
  std::string id;
  if (!FindCookie(cookie.data(), cookie.size(),
                  SessionCookieName(shared->config.names.port).c_str(), &id)) {
    return false;
  }
  std::lock_guard<std::mutex> lock(shared->mutex);
  return HasSession(shared->sessions, id, NowMs());
}

// A sign-in with this token (from the printed address's query or the page's form): a new session
// and a redirect to the page without the token in its address; 403 for a wrong token, 429 while
// its address is locked out.
void SignIn(const httplib::Request &req, httplib::Response &res, const std::string &token) {
  if (!shared->config.authNeeded) {
    res.set_redirect("/", 303);
    return;
  }
  const std::string &address = req.remote_addr;
  const int64_t now = NowMs();
  std::unique_lock<std::mutex> lock(shared->mutex);
  if (SignInLockedOut(shared->failures, address, now)) {
    lock.unlock();
    res.set_header("Retry-After", "60");
    Reply(res, 429, "429 Too Many Requests: too many wrong access tokens; try again in a minute\n",
          "text/plain");
    return;
  }
  if (!SameSecret(token, shared->config.token)) {
    bool lockedOut = false;
    shared->failures = WithFailedSignIn(std::move(shared->failures), address, now, &lockedOut);
    lock.unlock();
    shared->config.print("web panel: a wrong access token from " + address);
    if (lockedOut) {
      shared->config.print("web panel: 10 wrong access tokens from " + address +
                           " within 60 s: its sign-ins are refused for 60 s");
    }
    Reply(res, 403, "403 Forbidden: not this panel's access token\n", "text/plain");
    return;
  }
  uint8_t aId[kWebSessionBytes];
  if (!RandomBytes(aId, sizeof aId)) {
    lock.unlock();
    Reply(res, 503, "503 Service Unavailable: the system gave no random bytes\n", "text/plain");
    return;
  }
  const std::string id = UrlSafeText(aId, sizeof aId);
  shared->sessions = WithSession(std::move(shared->sessions), id, now);
  lock.unlock();
  res.set_header("Set-Cookie", SessionCookie(shared->config.names.port, id, shared->config.https));
  res.set_redirect("/", 303);
}

httplib::Server::HandlerResponse CheckRequest(const httplib::Request &req, httplib::Response &res) {
  const WebNames &names = shared->config.names;
  if (!IsOwnHost(names, req.get_header_value("Host").c_str())) {
    Reply(res, 403, "403 Forbidden: this server does not answer to that host name\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  }
  if (req.method != "GET" && req.method != "HEAD" && req.has_header("Origin") &&
      !IsOwnOrigin(names, req.get_header_value("Origin").c_str())) {
    Reply(res, 403, "403 Forbidden: a page of another site may not change the generator\n",
          "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  }
  // The printed address signs in; the page then loads without the token in its address.
  if ((req.method == "GET" || req.method == "HEAD") && req.path == "/" && req.has_param("token")) {
    SignIn(req, res, req.get_param_value("token"));
    return httplib::Server::HandlerResponse::Handled;
  }
  if (req.method == "POST" && (req.path == "/api/action" || req.path == "/api/waveform") &&
      !HasValidSession(req)) {
    Reply(res, 403, "{\"error\":\"sign in with the access token to change the generator\"}",
          "application/json");
    return httplib::Server::HandlerResponse::Handled;
  }
  return httplib::Server::HandlerResponse::Unhandled;
}

// The plain HTTP listener beside HTTPS: Host first (a foreign one never learns where the panel
// is), then the same path and query on the panel's port. Host is one of its own names here.
httplib::Server::HandlerResponse Redirect(const httplib::Request &req, httplib::Response &res) {
  const std::string host = req.get_header_value("Host");
  if (!IsOwnHost(redirectNames, host.c_str())) {
    Reply(res, 403, "403 Forbidden: this server does not answer to that host name\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  }
  const size_t nameEnd = host[0] == '[' ? host.find(']') + 1 : host.find(':');
  res.set_header("Location", "https://" + host.substr(0, nameEnd) + ":" +
                                 std::to_string(shared->config.names.port) + req.target);
  res.set_header("Cache-Control", "no-store");
  Reply(res, 307, "307 Temporary Redirect: the web panel is served over HTTPS\n", "text/plain");
  return httplib::Server::HandlerResponse::Handled;
}

void ServeAsset(const httplib::Request &req, httplib::Response &res) {
  const WebAsset *asset = FindWebAsset(req.path.c_str());
  res.set_header("Cache-Control", "no-cache");
  res.set_content(reinterpret_cast<const char *>(asset->pBytes), asset->dwLength, asset->szType);
}

// The state, and whether this page may change it: the page learns so here, since the strict
// cookie does not come with a page load that a link of another site started.
void ServeState(const httplib::Request &req, httplib::Response &res) {
  const bool session = HasValidSession(req);
  std::lock_guard<std::mutex> lock(shared->mutex);
  res.set_header("Cache-Control", "no-store");
  res.set_content(
      std::string("{\"session\":") + (session ? "true," : "false,") + shared->published.substr(1),
      "application/json");
}

void ServeIdentification(const httplib::Request &, httplib::Response &res) {
  std::lock_guard<std::mutex> lock(shared->mutex);
  res.set_content(shared->identificationXml, "text/xml");
}

// Server-sent events: the state at once, then each new one; a comment now and then, so that a
// stream whose reader went away is noticed and ended.
void ServeEvents(const httplib::Request &, httplib::Response &res) {
  res.set_header("Cache-Control", "no-store");
  uint64_t sent = 0;
  res.set_chunked_content_provider(
      "text/event-stream", [sent](size_t, httplib::DataSink &sink) mutable {
        std::unique_lock<std::mutex> lock(shared->mutex);
        shared->changed.wait_for(lock, std::chrono::seconds(kEventPingSeconds),
                                 [&] { return shared->stopping || shared->seq != sent; });
        if (shared->stopping) return false;
        std::string event = ": keep-alive\n\n";
        if (shared->seq != sent) {
          sent = shared->seq;
          event = "data: " + shared->published + "\n\n";
        }
        lock.unlock();
        return sink.write(event.data(), event.size());
      });
}

// Reads a body as it arrives, keeping at most limit bytes: 0 with *pBody, else the status to
// answer (413 for a longer one, 400 for one cut short or sent as a form). A longer body is read on
// to its end and dropped, as the library skips one whose length is over kMaxUpload, so that the
// client gets its answer and the connection stays usable.
int ReadBody(const httplib::Request &req, httplib::Response &res,
             const httplib::ContentReader &reader, size_t limit, std::string *pBody) {
  size_t dwTotal = 0;
  auto keep = [&](const char *pData, size_t dwLength) {
    dwTotal += dwLength;
    if (dwTotal > limit) {
      pBody->clear();
    } else {
      pBody->append(pData, dwLength);
    }
    return true;
  };
  bool read = false;
  if (req.is_multipart_form_data()) {
    // The page sends a file as it is; what a form brings is dropped.
    read = reader([](const httplib::MultipartFormData &) { return true; },
                  [&](const char *, size_t dwLength) {
                    dwTotal += dwLength;
                    return true;
                  });
    if (read && dwTotal <= limit) return 400;
  } else {
    read = reader(keep);
  }
  if (dwTotal > limit || res.status == 413) return 413;
  return read ? 0 : 400;
}

// Queues an action for the loop and answers what came of it, with the state after it.
void RunQueued(const std::shared_ptr<PendingAction> &pending, httplib::Response &res) {
  {
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->queue.push_back(pending);
    lock.unlock();
    shared->config.wake();
    lock.lock();
    bool answered = shared->changed.wait_for(lock, std::chrono::seconds(kActionWaitSeconds),
                                             [&] { return pending->done || shared->stopping; });
    if (!answered || !pending->done) {
      Reply(res, 503, "{\"error\":\"the server is ending\"}", "application/json");
      return;
    }
  }
  if (pending->error == 0) {
    Reply(res, 200, "{\"state\":" + pending->state + "}", "application/json");
    return;
  }
  nlohmann::json answer = {{"field", pending->action.szField},
                           {"error", WebErrorText(pending->error)}};
  std::string body = answer.dump();
  body.pop_back();
  Reply(res, 422, body + ",\"state\":" + pending->state + "}", "application/json");
}

void ServeAction(const httplib::Request &req, httplib::Response &res,
                 const httplib::ContentReader &reader) {
  std::string body;
  const int status = ReadBody(req, res, reader, kMaxBody, &body);
  if (status == 413) {
    res.status = 413;  // answered by AnswerError
    return;
  }
  auto pending = std::make_shared<PendingAction>();
  if (status != 0 || !ParseWebAction(body.data(), body.size(), &pending->action)) {
    Reply(res, 400, "{\"error\":\"not an action of the panel\"}", "application/json");
    return;
  }
  RunQueued(pending, res);
}

// A waveform's file, as its bytes: read here, off the loop, into the shape the loop then loads
// and chooses. A file that is refused changes nothing: its reason is answered with the state.
void ServeWaveform(const httplib::Request &req, httplib::Response &res,
                   const httplib::ContentReader &reader) {
  std::string bytes;
  const int status = ReadBody(req, res, reader, kMaxUpload, &bytes);
  if (status == 413) {
    Reply(res, 413, "413 Payload Too Large: a waveform's file is at most 16 MiB\n", "text/plain");
    return;
  }
  if (status != 0) {
    Reply(res, 400, "{\"error\":\"the body is the file itself, not a form\"}", "application/json");
    return;
  }
  std::vector<double> values;
  std::string reason;
  if (!ReadShapeBytes(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(), &values,
                      &reason)) {
    std::string published;
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      published = shared->published;
    }
    nlohmann::json answer = {{"field", "waveform"}, {"error", reason}};
    std::string body = answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    body.pop_back();
    Reply(res, 422, body + ",\"state\":" + published + "}", "application/json");
    return;
  }
  auto pending = std::make_shared<PendingAction>();
  pending->action.kind = kWebLoadShape;
  snprintf(pending->action.szField, sizeof(pending->action.szField), "waveform");
  ShapeSamples(values, pending->action.aShape);
  // The file (up to 16 MiB) and its values are not held while the loop runs the action.
  bytes = std::string();
  values = std::vector<double>();
  RunQueued(pending, res);
}

// The page's sign-in form: token=... as a form sends it.
void ServeSignIn(const httplib::Request &req, httplib::Response &res,
                 const httplib::ContentReader &reader) {
  std::string body;
  const int status = ReadBody(req, res, reader, kMaxSignInBody, &body);
  if (status != 0) {
    res.status = status;
    return;
  }
  std::string token;
  FindFormField(body.data(), body.size(), "token", &token);
  SignIn(req, res, token);
}

// Any other body: read and dropped within the limit of the panel's actions.
void ServeNoPage(const httplib::Request &req, httplib::Response &res,
                 const httplib::ContentReader &reader) {
  std::string body;
  res.status = ReadBody(req, res, reader, kMaxBody, &body) == 413 ? 413 : 404;
}

void AnswerError(const httplib::Request &, httplib::Response &res) {
  if (!res.body.empty()) return;
  switch (res.status) {
    case 404: res.set_content("404 Not Found\n", "text/plain"); break;
    case 413: res.set_content("413 Payload Too Large: at most 1 MiB\n", "text/plain"); break;
    default: res.set_content(std::to_string(res.status) + "\n", "text/plain");
  }
}

}  // namespace

int32_t BindWebServer(const WebServerConfig &config, int32_t *pPort, std::string *pMessage) {
  if (shared == nullptr) shared = new WebShared();
  shared->config = config;
  if (config.https) {
    server = NewTlsServer(config.identity, AdmitSocket, ForgetSocket, config.host, pMessage);
    if (server == nullptr) return kExitBadValue;
  } else {
    auto *plain = new AdmittingServer();
    plain->listener = config.host;
    server = plain;
  }
  server->new_task_queue = [] { return new GrowingPool(); };
  server->set_socket_options(
      [](socket_t sock) { shared->config.setListenSocketOptions(static_cast<intptr_t>(sock)); });
  server->set_read_timeout(kHeaderTimeoutSeconds, 0);
  server->set_write_timeout(kHeaderTimeoutSeconds, 0);
  server->set_keep_alive_timeout(kKeepAliveSeconds);
  server->set_payload_max_length(kMaxUpload);
  server->set_default_headers(
      {{"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
       {"X-Content-Type-Options", "nosniff"}});
  server->set_pre_routing_handler(CheckRequest);
  server->set_error_handler(AnswerError);
  for (const WebAsset &asset : kWebAssets) server->Get(asset.szPath, ServeAsset);
  server->Get("/api/state", ServeState);
  server->Get("/events", ServeEvents);
  server->Get("/lxi/identification", ServeIdentification);
  // Bodies are read by the handlers, each within its own limit.
  server->Post("/api/action", ServeAction);
  server->Post("/api/waveform", ServeWaveform);
  server->Post("/api/signin", ServeSignIn);
  server->Post(".*", ServeNoPage);
  server->Put(".*", ServeNoPage);
  server->Patch(".*", ServeNoPage);
  server->Delete(".*", ServeNoPage);

  int port = config.port;
  bool bound = config.port == 0 ? (port = server->bind_to_any_port(config.host)) > 0
                                : server->bind_to_port(config.host, config.port);
  if (!bound) {
    delete server;
    server = nullptr;
    return config.explainListenFailure(config.host, config.port, pMessage);
  }
  shared->config.names.port = port;
  *pPort = port;
  return kExitOk;
}

int32_t BindWebRedirect(const std::string &host, int32_t port, const WebNames &names,
                        int32_t *pPort, std::string *pMessage) {
  auto *plain = new AdmittingServer();
  plain->listener = host;
  redirector = plain;
  redirector->new_task_queue = [] { return new GrowingPool(); };
  redirector->set_socket_options(
      [](socket_t sock) { shared->config.setListenSocketOptions(static_cast<intptr_t>(sock)); });
  redirector->set_read_timeout(kHeaderTimeoutSeconds, 0);
  redirector->set_write_timeout(kHeaderTimeoutSeconds, 0);
  redirector->set_keep_alive_timeout(kKeepAliveSeconds);
  redirector->set_payload_max_length(kMaxBody);
  redirector->set_pre_routing_handler(Redirect);
  int bound = port;
  if (port == 0 ? (bound = redirector->bind_to_any_port(host)) <= 0
                : !redirector->bind_to_port(host, port)) {
    delete redirector;
    redirector = nullptr;
    return shared->config.explainListenFailure(host, port, pMessage);
  }
  redirectNames = names;
  redirectNames.port = bound;
  *pPort = bound;
  return kExitOk;
}

namespace {

// The library's stop() does nothing until its loop runs: a stop right after the start would leave
// the listener in accept() for good. Its loop marks itself running first of all.
void StartListening(httplib::Server *pServer, std::thread *pThread) {
  *pThread = std::thread([pServer] { pServer->listen_after_bind(); });
  for (int32_t i = 0; i < 5000 && !pServer->is_running(); i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

void RunWebServer(const std::string &identificationXml) {
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->identificationXml = identificationXml;
  }
  StartListening(server, &listener);
  if (redirector != nullptr) StartListening(redirector, &redirectListener);
}

void StopWebServer() {
  if (server == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->stopping = true;
  }
  shared->changed.notify_all();
  server->stop();
  if (listener.joinable()) listener.join();
  if (redirector != nullptr) redirector->stop();
  if (redirectListener.joinable()) redirectListener.join();
  // The connections being served end before the process does: a worker still inside the library
  // while the process's statics are destroyed would read freed memory. A kept-alive connection
  // waits for its client's next request: shutting its socket ends that wait, and any read, at
  // once; the end still waits no longer than this.
  std::unique_lock<std::mutex> lock(shared->mutex);
  for (intptr_t sock : shared->openSockets) {
    httplib::detail::shutdown_socket(static_cast<socket_t>(sock));
  }
  shared->idle.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [] {
    return shared->jobs.empty() && shared->idleWorkers == shared->workers;
  });
}

void ServeWebActions(WebRunFn run, WebStateFn state, void *context) {
  for (;;) {
    std::shared_ptr<PendingAction> pending;
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      if (shared->queue.empty()) return;
      pending = shared->queue.front();
      shared->queue.pop_front();
    }
    const int32_t error = run(context, pending->action);
    const std::string published = PublishWebState(state(context));
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      pending->error = error;
      pending->state = published;
      pending->done = true;
    }
    shared->changed.notify_all();
  }
}

std::string PublishWebState(const std::string &state) {
  if (shared == nullptr) return WebStateWithSeq(state, 0);
  std::string published;
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    changed = state != shared->state || shared->seq == 0;
    if (changed) {
      shared->state = state;
      shared->seq++;
      shared->published = WebStateWithSeq(state, shared->seq);
    }
    published = shared->published;
  }
  if (changed) shared->changed.notify_all();
  return published;
}
