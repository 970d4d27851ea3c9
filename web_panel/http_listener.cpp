#include "web_panel/http_listener.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "link/exit_codes.h"
#include "web_panel/web_assets.h"

namespace {

enum : int32_t {
  kMaxWorkers = 240,           // connections served at once: 200 idle ones leave room for pages
  kHeaderTimeoutSeconds = 10,  // a request's headers must have come by then
  kKeepAliveSeconds = 5,       // an idle kept-alive connection is closed after this
  kEventPingSeconds = 15,      // an open event stream hears a comment this often
  kActionWaitSeconds = 60,     // a start takes under a second; the loop answers long before
};
const size_t kMaxBody = 1024 * 1024;

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
  std::deque<std::function<void()>> jobs;
  int32_t workers = 0;
  int32_t idleWorkers = 0;
};

WebShared *shared = nullptr;
httplib::Server *server = nullptr;
std::thread listener;

void Work() {
  std::unique_lock<std::mutex> lock(shared->mutex);
  for (;;) {
    shared->idleWorkers++;
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

void Reply(httplib::Response &res, int status, const std::string &body, const char *szType) {
  res.status = status;
  res.set_content(body, szType);
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
  return httplib::Server::HandlerResponse::Unhandled;
}

void ServeAsset(const httplib::Request &req, httplib::Response &res) {
  const WebAsset *asset = FindWebAsset(req.path.c_str());
  res.set_header("Cache-Control", "no-cache");
  res.set_content(reinterpret_cast<const char *>(asset->pBytes), asset->dwLength, asset->szType);
}

void ServeState(const httplib::Request &, httplib::Response &res) {
  std::lock_guard<std::mutex> lock(shared->mutex);
  res.set_header("Cache-Control", "no-store");
  res.set_content(shared->published, "application/json");
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

void ServeAction(const httplib::Request &req, httplib::Response &res) {
  auto pending = std::make_shared<PendingAction>();
  if (!ParseWebAction(req.body.data(), req.body.size(), &pending->action)) {
    Reply(res, 400, "{\"error\":\"not an action of the panel\"}", "application/json");
    return;
  }
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
  server = new httplib::Server();
  server->new_task_queue = [] { return new GrowingPool(); };
  server->set_socket_options(
      [](socket_t sock) { shared->config.setListenSocketOptions(static_cast<intptr_t>(sock)); });
  server->set_read_timeout(kHeaderTimeoutSeconds, 0);
  server->set_write_timeout(kHeaderTimeoutSeconds, 0);
  server->set_keep_alive_timeout(kKeepAliveSeconds);
  server->set_payload_max_length(kMaxBody);
  server->set_default_headers(
      {{"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
       {"X-Content-Type-Options", "nosniff"}});
  server->set_pre_routing_handler(CheckRequest);
  server->set_error_handler(AnswerError);
  for (const WebAsset &asset : kWebAssets) server->Get(asset.szPath, ServeAsset);
  server->Get("/api/state", ServeState);
  server->Get("/events", ServeEvents);
  server->Get("/lxi/identification", ServeIdentification);
  server->Post("/api/action", ServeAction);

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

void RunWebServer(const std::string &identificationXml) {
  {
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->identificationXml = identificationXml;
  }
  listener = std::thread([] { server->listen_after_bind(); });
  // The library's stop() does nothing until its loop runs: a stop right after the start would
  // leave the listener in accept() for good. Its loop marks itself running first of all.
  for (int32_t i = 0; i < 5000 && !server->is_running(); i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
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
