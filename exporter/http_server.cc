#include "exporter/http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <microhttpd.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <prometheus/text_serializer.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/host_port.h"

namespace exporter {

// What a refusal answers: status, text, and the cause it is counted as.
struct HttpServer::Refusal {
  unsigned status;
  const char* text;
  const char* cause;
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kTextFormat[] = "text/plain; version=0.0.4; charset=utf-8";
constexpr char kPlain[] = "text/plain; charset=utf-8";
constexpr char kHtml[] = "text/html; charset=utf-8";
constexpr char kTimeoutHeader[] = "X-Prometheus-Scrape-Timeout-Seconds";
constexpr size_t kLargeBody = 4 << 20;       // malloc_trim after sending
constexpr size_t kRequestMemory = 32 << 10;  // a request's head at most
constexpr int kSpareConnections = 8;         // libmicrohttpd's own limit
constexpr int kListenBacklog = 128;
constexpr int kMhdLogsPerMinute = 20;        // libmicrohttpd's own messages
// libmicrohttpd's idle timeout, past --web.read-timeout: the watcher drops
// (and counts) a slow request first; this one ends stalled answers.
constexpr unsigned kIdleSlackSeconds = 2;

constexpr char kLanding[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>acl-exporter</title></head>
<body><h1>acl-exporter</h1>
<p>Prometheus exporter for the ACL service of network devices.</p>
<ul><li><a href="metrics">/metrics</a>: the exporter's own metrics</li>
<li><a href="-/healthy">/-/healthy</a></li></ul>
<form action="probe" method="get"><p>
<label>target (HOST:PORT) <input name="target" required></label>
<label>module <input name="module" value="default"></label>
<input type="submit" value="Probe"></p></form>
</body></html>
)";

using Refusal = HttpServer::Refusal;
constexpr Refusal kNoTarget = {400, "exactly one target=HOST:PORT is needed\n",
                               "bad_request"};
constexpr Refusal kBadTarget = {400, "target is not HOST:PORT\n",
                                "bad_request"};
constexpr Refusal kLongTarget = {400, "target is too long\n", "bad_request"};
constexpr Refusal kBadModule = {400, "unknown module\n", "bad_request"};
constexpr Refusal kNotAllowed = {
    403, "target not allowed: neither the token file nor allowed_targets "
         "names it\n", "not_allowed"};
constexpr Refusal kNoClientCert = {
    403, "a valid client certificate is required\n", "client_cert"};
constexpr Refusal kAtCap = {503, "too many probes in flight\n", "probe_limit"};
constexpr Refusal kStopping = {503, "stopping\n", "stopping"};
constexpr Refusal kNotFound = {404, "not found\n", "not_found"};
constexpr Refusal kBadMethod = {405, "method not allowed\n", "bad_request"};

std::mutex logMu;

void Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMu);
  std::fprintf(stderr, "acl-exporter: %s\n", line.c_str());
}

// libmicrohttpd's messages, at most kMhdLogsPerMinute (a flood of bad
// clients must not flood the log).
void MhdLog(void*, const char* format, va_list args) {
  static Clock::time_point minute;
  static int count = 0;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  std::lock_guard<std::mutex> lock(logMu);
  const auto now = Clock::now();
  if (now - minute > std::chrono::minutes(1)) {
    minute = now;
    count = 0;
  }
  if (++count > kMhdLogsPerMinute) return;
  std::string line = text;
  while (!line.empty() && line.back() == '\n') line.pop_back();
  std::fprintf(stderr, "acl-exporter: http: %s\n", line.c_str());
}

// Frees a response's body (a std::string or a ProbeText). Gives the pages
// of a large one back now (malloc keeps freed small blocks otherwise).
template <typename Body>
void FreeBody(void* cls) {
  auto* body = static_cast<Body*>(cls);
  const bool large = body->size() > kLargeBody;
  delete body;
  if (large) malloc_trim(0);
}

MHD_Response* Response(std::string text, const char* type) {
  auto* body = new std::string(std::move(text));
  MHD_Response* response = MHD_create_response_from_buffer_with_free_callback_cls(
      body->size(), body->data(), FreeBody<std::string>, body);
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  return response;
}

// A probe's answer sent from its pieces as they are.
int Send(MHD_Connection* connection, unsigned status, ProbeText text,
         const char* type) {
  auto* owned = new ProbeText(std::move(text));
  std::vector<MHD_IoVec> iov;
  for (std::string_view piece : owned->Pieces()) {
    iov.push_back(MHD_IoVec{piece.data(), piece.size()});
  }
  MHD_Response* response = MHD_create_response_from_iovec(
      iov.data(), static_cast<unsigned>(iov.size()), FreeBody<ProbeText>,
      owned);
  if (response == nullptr) {
    delete owned;
    return MHD_NO;
  }
  MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
  const int rc = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return rc;
}

int Send(MHD_Connection* connection, unsigned status, std::string text,
         const char* type) {
  MHD_Response* response = Response(std::move(text), type);
  const int rc = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return rc;
}

struct Query {
  int targets = 0, modules = 0;
  std::string target, module = ExporterConfig::kDefaultModule;
};

MHD_Result AddArgument(void* cls, MHD_ValueKind, const char* key,
                       const char* value) {
  auto* query = static_cast<Query*>(cls);
  const std::string text = value == nullptr ? "" : value;
  if (std::strcmp(key, "target") == 0) {
    ++query->targets;
    query->target = text;
  } else if (std::strcmp(key, "module") == 0) {
    ++query->modules;
    query->module = text;
  }
  return MHD_YES;
}

bool IsLoopback(const sockaddr_storage& address) {
  if (address.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(address);
    return (ntohl(in.sin_addr.s_addr) >> 24) == 127;
  }
  const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
  return IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr);
}

// Opens the listening socket of HOST:PORT (port 0: a free one); -1 with
// `*error` set when the address is bad or taken.
int Listen(const std::string& listen, std::string* host, int* port,
           bool* loopback, std::string* error) {
  if (!acl_client::SplitHostPort(listen, host, port) ||
      !IsHostPort(*host + ":1")) {
    *error = "--web.listen-address needs HOST:PORT with a port from 0 to "
             "65535, not \"" + listen + "\"";
    return -1;
  }
  std::string name = *host;
  if (name.front() == '[') name = name.substr(1, name.size() - 2);
  addrinfo hints = {};
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), std::to_string(*port).c_str(), &hints, &found) != 0) {
    *error = "cannot listen on " + listen + ": unknown host";
    return -1;
  }
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  const bool ok = fd >= 0 && bind(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                  ::listen(fd, kListenBacklog) == 0;
  const int saved = errno;
  freeaddrinfo(found);
  sockaddr_storage bound = {};
  socklen_t length = sizeof bound;
  if (!ok || getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    if (fd >= 0) close(fd);
    *error = "cannot listen on " + listen + ": " + std::strerror(saved);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  *port = ntohs(bound.ss_family == AF_INET
                    ? reinterpret_cast<sockaddr_in&>(bound).sin_port
                    : reinterpret_cast<sockaddr_in6&>(bound).sin6_port);
  *loopback = IsLoopback(bound);
  return fd;
}

// Whether `a` and `b` serve TLS alike (basic_auth_users may differ).
bool SameTls(const WebConfig& a, const WebConfig& b) {
  return a.certPem() == b.certPem() && a.keyPem() == b.keyPem() &&
         a.caPem() == b.caPem() && a.priorities() == b.priorities() &&
         a.clientAuth() == b.clientAuth();
}

}  // namespace

struct HttpServer::Listener {
  HttpServer* server;
  std::shared_ptr<const WebConfig> web;
  MHD_Daemon* daemon = nullptr;
};

struct HttpServer::Connection {
  Listener* listener;
  int fd;
  Clock::time_point deadline;  // for the request to arrive whole
  bool begun = false;          // its request line has come
  bool handling = false;       // a whole request is being answered
  int requests = 0;            // answered on this connection
  ProbeCancel* cancel = nullptr;  // the probe in flight
};

namespace {

// libmicrohttpd's callbacks, on its threads.
void NotifyConnection(void* cls, MHD_Connection* connection, void** context,
                      MHD_ConnectionNotificationCode code) {
  auto* listener = static_cast<HttpServer::Listener*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    listener->server->Opened(listener, connection, context);
  } else if (*context != nullptr) {
    listener->server->Closed(static_cast<HttpServer::Connection*>(*context));
  }
}

MHD_Result AcceptPolicy(void* cls, const sockaddr*, socklen_t) {
  return static_cast<HttpServer::Listener*>(cls)->server->Accept() ? MHD_YES
                                                                   : MHD_NO;
}

void* UriLog(void* cls, const char*, MHD_Connection* connection) {
  static_cast<HttpServer*>(cls)->RequestBegun(connection);
  return nullptr;
}

void Completed(void* cls, MHD_Connection* connection, void**,
               MHD_RequestTerminationCode) {
  static_cast<HttpServer*>(cls)->RequestDone(connection);
}

HttpServer::Connection* ConnectionOf(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  return info == nullptr ? nullptr
                         : static_cast<HttpServer::Connection*>(info->socket_context);
}

MHD_Result AccessHandler(void* cls, MHD_Connection* connection,
                         const char* url, const char* method, const char*,
                         const char*, size_t* uploadSize, void** request) {
  static int kSeen;
  auto* listener = static_cast<HttpServer::Listener*>(cls);
  // The first call has the head; the answer goes after the body (not
  // read: no endpoint takes one), so that the connection may be kept.
  if (*request == nullptr) {
    *request = &kSeen;
    listener->server->RequestHandled(connection);
    return MHD_YES;
  }
  if (*uploadSize != 0) {
    *uploadSize = 0;
    return MHD_YES;
  }
  return listener->server->Serve(listener, ConnectionOf(connection),
                                 connection, url, method) == MHD_YES
             ? MHD_YES
             : MHD_NO;
}

}  // namespace

std::unique_ptr<HttpServer> HttpServer::Start(const ServerOptions& options,
                                              Prober* prober, Settings settings,
                                              ReloadFn reload,
                                              std::string* error) {
  std::unique_ptr<HttpServer> server(
      new HttpServer(options, prober, std::move(reload)));
  std::string host;
  int port = 0;
  server->listenFd_ =
      Listen(options.listen, &host, &port, &server->loopback_, error);
  if (server->listenFd_ < 0) return nullptr;
  server->address_ = host + ":" + std::to_string(port);
  server->settings_ = settings;
  if (!server->StartListener(settings.web, error)) return nullptr;
  server->watcher_ = std::thread([s = server.get()] { s->Watch(); });
  server->WarnIfOpen(*settings.web, " (--web.config.file)");
  return server;
}

HttpServer::HttpServer(const ServerOptions& options, Prober* prober,
                       ReloadFn reload)
    : options_(options),
      prober_(prober),
      reload_(std::move(reload)),
      registry_(std::make_shared<prometheus::Registry>()) {
  using prometheus::BuildCounter;
  using prometheus::BuildGauge;
  probes_ = &BuildCounter()
                 .Name("acl_exporter_probes_total")
                 .Help("Probes asked for with a good target and module.")
                 .Register(*registry_)
                 .Add({});
  failures_ = &BuildCounter()
                   .Name("acl_exporter_probe_failures_total")
                   .Help("Probes that failed (acl_up 0) or were not allowed, "
                         "by cause.")
                   .Register(*registry_);
  skipped_ = &BuildCounter()
                  .Name("acl_exporter_rows_skipped_total")
                  .Help("Device rows left out of probes, by cause.")
                  .Register(*registry_);
  refused_ = &BuildCounter()
                  .Name("acl_exporter_http_refused_total")
                  .Help("HTTP connections and requests refused, by cause.")
                  .Register(*registry_);
  rejected_ = &BuildCounter()
                   .Name("acl_exporter_probes_rejected_total")
                   .Help("Probes answered 503: too many in flight.")
                   .Register(*registry_)
                   .Add({});
  inFlightGauge_ = &BuildGauge()
                        .Name("acl_exporter_probes_in_flight")
                        .Help("Probes running now.")
                        .Register(*registry_)
                        .Add({});
  BuildGauge()
      .Name("acl_exporter_max_probes")
      .Help("Probes in flight at most (--max-probes).")
      .Register(*registry_)
      .Add({})
      .Set(options.maxProbes);
  durations_ = &prometheus::BuildHistogram()
                    .Name("acl_exporter_probe_duration_seconds")
                    .Help("How long probes took.")
                    .Register(*registry_)
                    .Add({}, prometheus::Histogram::BucketBoundaries{
                                 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1,
                                 2.5, 5, 10, 30});
  reloadOk_ = &BuildGauge()
                   .Name("acl_exporter_config_last_reload_successful")
                   .Help("Whether the last reload of the files worked.")
                   .Register(*registry_)
                   .Add({});
  reloadTime_ = &BuildGauge()
                     .Name("acl_exporter_config_last_reload_success_"
                           "timestamp_seconds")
                     .Help("When the files were last read well.")
                     .Register(*registry_)
                     .Add({});
  ReloadDone(true);
}

HttpServer::~HttpServer() {
  CancelProbes();
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  wake_.notify_all();
  if (watcher_.joinable()) watcher_.join();
  std::list<std::unique_ptr<Listener>> listeners;
  {
    std::lock_guard<std::mutex> lock(mu_);
    listeners.swap(listeners_);
  }
  for (auto& listener : listeners) {
    MHD_quiesce_daemon(listener->daemon);  // the socket stays ours
    MHD_stop_daemon(listener->daemon);
  }
  if (listenFd_ >= 0) close(listenFd_);
}

bool HttpServer::StartListener(std::shared_ptr<const WebConfig> web,
                               std::string* error) {
  auto listener = std::make_unique<Listener>();
  listener->server = this;
  listener->web = web;
  unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL_INTERNAL_THREAD |
                   MHD_USE_ITC | MHD_USE_ERROR_LOG;
  const auto pointer = [](const std::string& text) {
    return const_cast<char*>(text.c_str());
  };
  std::vector<MHD_OptionItem> items = {
      {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&MhdLog),
       nullptr},
      {MHD_OPTION_LISTEN_SOCKET, listenFd_, nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, options_.maxConnections + kSpareConnections,
       nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, IdleTimeout(), nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, kRequestMemory, nullptr},
      {MHD_OPTION_NOTIFY_CONNECTION,
       reinterpret_cast<intptr_t>(&NotifyConnection), listener.get()},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&Completed),
       this},
      {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&UriLog), this},
  };
  if (web->tls()) {
    flags |= MHD_USE_TLS;
    items.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, pointer(web->certPem())});
    items.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, pointer(web->keyPem())});
    items.push_back({MHD_OPTION_HTTPS_PRIORITIES, 0, pointer(web->priorities())});
    if (!web->caPem().empty()) {
      items.push_back({MHD_OPTION_HTTPS_MEM_TRUST, 0, pointer(web->caPem())});
    }
  }
  items.push_back({MHD_OPTION_END, 0, nullptr});
  listener->daemon = MHD_start_daemon(
      flags, 0, &AcceptPolicy, listener.get(), &AccessHandler, listener.get(),
      MHD_OPTION_ARRAY, items.data(), MHD_OPTION_END);
  if (listener->daemon == nullptr) {
    *error = "cannot serve on " + options_.listen +
             (web->tls() ? " with TLS" : "");
    return false;
  }
  std::lock_guard<std::mutex> lock(mu_);
  listeners_.push_front(std::move(listener));
  return true;
}

Settings HttpServer::Current() const {
  std::lock_guard<std::mutex> lock(mu_);
  return settings_;
}

bool HttpServer::Apply(Settings settings, std::string* error) {
  std::lock_guard<std::mutex> applying(applyMu_);
  Listener* current;
  {
    std::lock_guard<std::mutex> lock(mu_);
    current = listeners_.front().get();
  }
  if (!SameTls(*current->web, *settings.web)) {
    // The old daemon gives the socket up and serves on what it has.
    MHD_quiesce_daemon(current->daemon);
    if (!StartListener(settings.web, error)) {
      std::string ignored;
      StartListener(current->web, &ignored);  // back to the old one
      return false;
    }
  }
  std::lock_guard<std::mutex> lock(mu_);
  settings_ = std::move(settings);
  WarnIfOpen(*settings_.web, "");
  return true;
}

void HttpServer::WarnIfOpen(const WebConfig& web, const char* hint) const {
  if (!loopback_ && !web.tls() && !web.authRequired()) {
    Log("warning: serving " + address_ +
        " beyond loopback with neither TLS nor basic authentication" + hint);
  }
}

void HttpServer::Reap() {
  std::vector<std::unique_ptr<Listener>> idle;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (auto it = std::next(listeners_.begin()); it != listeners_.end();) {
      const MHD_DaemonInfo* info = MHD_get_daemon_info(
          (*it)->daemon, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
      if (info != nullptr && info->num_connections == 0) {
        idle.push_back(std::move(*it));
        it = listeners_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& listener : idle) MHD_stop_daemon(listener->daemon);
}

void HttpServer::ReloadDone(bool ok) {
  reloadOk_->Set(ok ? 1 : 0);
  if (ok) {
    reloadTime_->Set(std::chrono::duration<double>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count());
  }
}

void HttpServer::CancelProbes() {
  std::lock_guard<std::mutex> lock(mu_);
  stopping_ = true;
  for (Connection* conn : connections_) {
    if (conn->cancel != nullptr) conn->cancel->Cancel();
  }
}

bool HttpServer::Accept() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (connections_.size() < static_cast<size_t>(options_.maxConnections)) {
      return true;
    }
  }
  Refuse("connection_limit");
  return false;
}

void HttpServer::Opened(Listener* listener, MHD_Connection* connection,
                        void** context) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
  auto* conn = new Connection{listener, info == nullptr ? -1 : info->connect_fd,
                              Clock::now() + Seconds(options_.readTimeout)};
  *context = conn;
  std::lock_guard<std::mutex> lock(mu_);
  connections_.insert(conn);
}

void HttpServer::Closed(Connection* conn) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    connections_.erase(conn);
  }
  delete conn;
}

void HttpServer::RequestBegun(MHD_Connection* connection) {
  Connection* conn = ConnectionOf(connection);
  std::lock_guard<std::mutex> lock(mu_);
  if (conn != nullptr) conn->begun = true;
}

void HttpServer::RequestHandled(MHD_Connection* connection) {
  Connection* conn = ConnectionOf(connection);
  std::lock_guard<std::mutex> lock(mu_);
  if (conn != nullptr) conn->handling = true;
}

void HttpServer::RequestDone(MHD_Connection* connection) {
  Connection* conn = ConnectionOf(connection);
  std::lock_guard<std::mutex> lock(mu_);
  if (conn == nullptr) return;
  conn->handling = false;
  conn->begun = false;
  ++conn->requests;
  conn->deadline = Clock::now() + Seconds(options_.readTimeout);
}

unsigned HttpServer::IdleTimeout() const {
  return static_cast<unsigned>(std::ceil(options_.readTimeout)) +
         kIdleSlackSeconds;
}

void HttpServer::Refuse(const char* cause) {
  refused_->Add({{"cause", cause}}).Increment();
}

int HttpServer::Refuse(MHD_Connection* connection, const Refusal& refusal) {
  Refuse(refusal.cause);
  return Send(connection, refusal.status, refusal.text, kPlain);
}

Clock::duration HttpServer::Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(seconds));
}

// Every kWatchInterval: drops connections past their read deadline and
// cancels the probes whose client has gone. The lock keeps each descriptor
// open meanwhile (libmicrohttpd closes it after Closed()).
void HttpServer::Watch() {
  std::unique_lock<std::mutex> lock(mu_);
  std::vector<pollfd> fds;
  std::vector<Connection*> probing;
  while (!quit_) {
    wake_.wait_for(lock, kWatchInterval);
    const auto now = Clock::now();
    fds.clear();
    probing.clear();
    for (Connection* conn : connections_) {
      if (conn->cancel != nullptr) {
        fds.push_back({conn->fd, POLLRDHUP, 0});
        probing.push_back(conn);
      } else if (!conn->handling && now > conn->deadline) {
        shutdown(conn->fd, SHUT_RDWR);
        // An idle keep-alive connection is merely closed.
        if (conn->begun || conn->requests == 0) Refuse("timeout");
        conn->deadline = Clock::time_point::max();
      }
    }
    if (fds.empty() || poll(fds.data(), fds.size(), 0) <= 0) continue;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) {
        probing[i]->cancel->Cancel();
      }
    }
  }
}

int HttpServer::Serve(Listener* listener, Connection* conn,
                      MHD_Connection* connection, const std::string& url,
                      const std::string& method) {
  const Settings settings = Current();
  if (listener->web->tls()) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_GNUTLS_SESSION);
    if (info == nullptr ||
        !listener->web->CheckClientCert(
            static_cast<gnutls_session_t>(info->tls_session))) {
      return Refuse(connection, kNoClientCert);
    }
  }
  if (settings.web->authRequired()) {
    char* password = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &password);
    const bool good = user != nullptr && password != nullptr &&
                      settings.web->CheckUser(user, password);
    if (password != nullptr) {
      std::memset(password, 0, std::strlen(password));
      MHD_free(password);
    }
    if (user != nullptr) MHD_free(user);
    if (!good) {
      Refuse("unauthorized");
      MHD_Response* response = Response("unauthorized\n", kPlain);
      const int rc = MHD_queue_basic_auth_fail_response(
          connection, WebConfig::kRealm, response);
      MHD_destroy_response(response);
      return rc;
    }
  }
  const bool get = method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD;
  if (url == "/probe") {
    return get ? Probe(conn, connection) : Refuse(connection, kBadMethod);
  }
  if (url == "/metrics" && get) {
    return Send(connection, MHD_HTTP_OK,
                prometheus::TextSerializer().Serialize(registry_->Collect()),
                kTextFormat);
  }
  if (url == "/-/healthy" && get) {
    return Send(connection, MHD_HTTP_OK, "Healthy\n", kPlain);
  }
  if (url == "/-/reload") {
    if (method != MHD_HTTP_METHOD_POST) return Refuse(connection, kBadMethod);
    std::string error;
    if (!reload_(&error)) {
      return Send(connection, MHD_HTTP_INTERNAL_SERVER_ERROR,
                  "reload failed: " + error + "\n", kPlain);
    }
    return Send(connection, MHD_HTTP_OK, "reloaded\n", kPlain);
  }
  if (url == "/" && get) return Send(connection, MHD_HTTP_OK, kLanding, kHtml);
  return Refuse(connection, kNotFound);
}

std::chrono::milliseconds HttpServer::TimeoutFor(
    MHD_Connection* connection) const {
  double seconds = options_.defaultTimeout;
  const char* header =
      MHD_lookup_connection_value(connection, MHD_HEADER_KIND, kTimeoutHeader);
  if (header != nullptr) {
    char* end = nullptr;
    const double scrape = std::strtod(header, &end);
    if (end != header && *end == '\0' && std::isfinite(scrape) && scrape > 0) {
      seconds = std::min(scrape, options_.maxTimeout) - options_.timeoutMargin;
    }
  }
  seconds = std::clamp(seconds, kMinTimeout, options_.maxTimeout);
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

int HttpServer::Probe(Connection* conn, MHD_Connection* connection) {
  Query query;
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &AddArgument,
                            &query);
  if (query.targets != 1) return Refuse(connection, kNoTarget);
  if (query.target.size() > kMaxTarget) {
    return Refuse(connection, kLongTarget);
  }
  if (!IsHostPort(query.target)) return Refuse(connection, kBadTarget);
  const Settings settings = Current();
  uint64_t tables = 0;
  if (query.modules > 1 || !settings.config->Module(query.module, &tables)) {
    return Refuse(connection, kBadModule);
  }
  const std::string& target = query.target;
  const std::string* token =
      settings.credentials ? settings.credentials->Find(target) : nullptr;
  const bool open = !settings.credentials && !settings.config->hasAllowedTargets();
  if (token == nullptr && !open && !settings.config->Allows(target)) {
    probes_->Increment();
    failures_->Add({{"cause", "not_allowed"}}).Increment();
    return Send(connection, kNotAllowed.status, kNotAllowed.text, kPlain);
  }
  if (inFlight_.fetch_add(1) >= options_.maxProbes) {
    inFlight_.fetch_sub(1);
    rejected_->Increment();
    return Refuse(connection, kAtCap);
  }
  ProbeCancel cancel;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (stopping_) cancel.Cancel();
    if (conn != nullptr) conn->cancel = &cancel;
  }
  if (cancel.cancelled()) {
    inFlight_.fetch_sub(1);
    return Refuse(connection, kStopping);
  }
  inFlightGauge_->Increment();
  const auto start = Clock::now();
  ProbeText body;
  const ProbeResult result = prober_->Probe(
      target, token == nullptr ? std::string() : *token, tables,
      std::chrono::system_clock::now() + TimeoutFor(connection), &cancel,
      &body);
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (conn != nullptr) conn->cancel = nullptr;
  }
  probes_->Increment();
  if (!result.up) {
    failures_->Add({{"cause", result.failure}}).Increment();
    Log("probe of " + target + " failed: " + result.failure + ": " +
        result.error);
  }
  if (!result.skippedRows.empty()) {
    std::string causes;
    for (const auto& [cause, rows] : result.skippedRows) {
      skipped_->Add({{"cause", cause}}).Increment(static_cast<double>(rows));
      causes += (causes.empty() ? "" : ", ") + cause + " " +
                std::to_string(rows);
    }
    Log("probe of " + target + " skipped rows: " + causes);
  }
  durations_->Observe(std::chrono::duration<double>(Clock::now() - start).count());
  inFlightGauge_->Decrement();
  inFlight_.fetch_sub(1);
  // The probe's time does not count as the connection's idle time.
  MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT,
                            IdleTimeout());
  return Send(connection, MHD_HTTP_OK, std::move(body), kTextFormat);
}

}  // namespace exporter
