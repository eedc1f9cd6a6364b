// HttpServer: the exporter's HTTP side, on libmicrohttpd (GnuTLS for TLS).
//
//   GET  /probe?target=HOST:PORT[&module=NAME]  probes that device (Prober)
//   GET  /metrics     the exporter's own metrics (prometheus-cpp)
//   GET  /-/healthy   "Healthy"
//   POST /-/reload    re-reads the files (the reload callback)
//   GET  /            a landing page with links and a probe form
//
// Not civetweb, which the exporter used first: its TLS loads libssl at run
// time and calls OpenSSL 1.1 functions that OpenSSL 3 (Debian 12) no longer
// exports, so the first TLS request crashed the process. libmicrohttpd is
// made for embedding: TLS through GnuTLS, and bounds on connections, their
// idle time and the size of a request's head.
//
// Every request passes the web configuration's client certificate check
// (403) and basic authentication (401) first. A probe's target must be
// HOST:PORT, once, at most kMaxTarget long (else 400), its module known
// (400), and the target allowed by the token file or allowed_targets (403,
// nothing sent). Past `maxProbes` probes in flight it answers 503. Its
// deadline is the scraper's X-Prometheus-Scrape-Timeout-Seconds, clamped
// to [kMinTimeout, maxTimeout], less the margin; the default timeout
// without a usable header. A failed probe is still 200 (acl_up 0), logged
// once and counted by cause.
//
// One thread per connection (libmicrohttpd's), at most `maxConnections`;
// more are refused and counted. A watcher thread, every kWatchInterval,
// drops a connection whose request has not arrived whole within
// `readTimeout` (counted as cause "timeout"), and cancels a probe whose
// client has closed its connection, so the probe gives its slot back.
//
// Apply() puts new settings in force; a new web configuration starts a
// new libmicrohttpd daemon on the same listening socket (certificates
// rotate without a restart) while the old one finishes its connections,
// probes included, and is stopped once it has none left.
//
// Owns the listening socket and the daemons. The destructor cancels the
// probes in flight and stops serving. Thread-safe.

#ifndef ACL_EXPORTER_HTTP_SERVER_H_
#define ACL_EXPORTER_HTTP_SERVER_H_

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "exporter/credentials.h"
#include "exporter/exporter_config.h"
#include "exporter/prober.h"
#include "exporter/web_config.h"

struct MHD_Connection;

namespace exporter {

struct ServerOptions {
  std::string listen = "127.0.0.1:9141";
  int maxProbes = 32;
  double defaultTimeout = 10;   // seconds, without the scraper's header
  double timeoutMargin = 0.5;   // seconds taken off the scraper's timeout
  double maxTimeout = 120;      // the header's value at most
  int maxConnections = 256;
  double readTimeout = 10;      // seconds for a request to arrive whole
};

// The files' contents in force, replaced whole on reload.
struct Settings {
  std::shared_ptr<const Credentials> credentials;  // null: no token file
  std::shared_ptr<const ExporterConfig> config;
  std::shared_ptr<const WebConfig> web;
};

class HttpServer {
 public:
  static constexpr size_t kMaxTarget = 300;
  static constexpr double kMinTimeout = 0.1;
  static constexpr std::chrono::milliseconds kWatchInterval{100};

  // Re-reads the files and Apply()s them; false with `*error` when a file
  // is bad (the old settings stay).
  using ReloadFn = std::function<bool(std::string* error)>;

  // `prober` must outlive the server; `reload` serves POST /-/reload.
  // Returns nullptr with `*error` set when it cannot listen.
  static std::unique_ptr<HttpServer> Start(const ServerOptions& options,
                                           Prober* prober, Settings settings,
                                           ReloadFn reload, std::string* error);
  ~HttpServer();

  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // HOST:PORT it listens on, with the real port.
  const std::string& address() const { return address_; }

  // Puts `settings` in force (see above). False with `*error` set when the
  // new web configuration cannot serve (the old one stays).
  bool Apply(Settings settings, std::string* error);

  // Records a reload's outcome in the exporter's metrics.
  void ReloadDone(bool ok);

  // Cancels every probe in flight and answers 503 to new ones (stopping).
  void CancelProbes();

  // Stops the old daemons that have no connection left.
  void Reap();

  // For libmicrohttpd's callbacks (http_server.cc), on its threads.
  struct Connection;  // one client connection's state
  struct Listener;    // one daemon and its web configuration
  struct Refusal;     // an answer of refusal and its counted cause
  void Opened(Listener* listener, MHD_Connection* connection, void** context);
  void Closed(Connection* conn);
  void RequestBegun(MHD_Connection* connection);    // its request line came
  void RequestHandled(MHD_Connection* connection);  // it came whole
  void RequestDone(MHD_Connection* connection);     // answered
  bool Accept();  // whether a new connection may be opened
  int Serve(Listener* listener, Connection* conn, MHD_Connection* connection,
            const std::string& url, const std::string& method);

 private:
  HttpServer(const ServerOptions& options, Prober* prober, ReloadFn reload);

  static std::chrono::steady_clock::duration Seconds(double seconds);
  bool StartListener(std::shared_ptr<const WebConfig> web, std::string* error);
  Settings Current() const;
  void Watch();
  int Probe(Connection* conn, MHD_Connection* connection);
  std::chrono::milliseconds TimeoutFor(MHD_Connection* connection) const;
  void Refuse(const char* cause);  // counts it
  int Refuse(MHD_Connection* connection, const Refusal& refusal);  // answers
  unsigned IdleTimeout() const;  // libmicrohttpd's, seconds
  // Logs a warning, `hint` at its end, when `web` leaves a server beyond
  // loopback open: neither TLS nor basic authentication.
  void WarnIfOpen(const WebConfig& web, const char* hint) const;

  const ServerOptions options_;
  Prober* const prober_;
  const ReloadFn reload_;
  std::string address_;
  int listenFd_ = -1;
  bool loopback_ = true;

  std::mutex applyMu_;     // one Apply() at a time
  mutable std::mutex mu_;  // guards the members below
  Settings settings_;
  std::list<std::unique_ptr<Listener>> listeners_;  // current one first
  std::set<Connection*> connections_;
  bool stopping_ = false;  // probes refused
  bool quit_ = false;      // the watcher ends
  std::condition_variable wake_;

  std::atomic<int> inFlight_{0};
  std::thread watcher_;

  std::shared_ptr<prometheus::Registry> registry_;
  prometheus::Counter* probes_;
  prometheus::Family<prometheus::Counter>* failures_;
  prometheus::Family<prometheus::Counter>* skipped_;
  prometheus::Family<prometheus::Counter>* refused_;
  prometheus::Counter* rejected_;
  prometheus::Gauge* inFlightGauge_;
  prometheus::Histogram* durations_;
  prometheus::Gauge* reloadOk_;
  prometheus::Gauge* reloadTime_;
};

}  // namespace exporter

#endif  // ACL_EXPORTER_HTTP_SERVER_H_
