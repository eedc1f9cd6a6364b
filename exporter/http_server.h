// HttpServer: the exporter's HTTP side, on civetweb.
//
//   GET /probe?target=HOST:PORT  probes that device (Prober) and answers its
//                                series in the Prometheus text format
//   GET /metrics                 the exporter's own metrics
//
// A probe's deadline is the scraper's X-Prometheus-Scrape-Timeout-Seconds
// less a margin, or the default timeout without that header. At most
// `maxProbes` probes run at once; a probe past that answers 503. A failed
// probe is still a 200 answer (acl_up 0) and one log line with its reason.
//
// Owns the civetweb context: the destructor stops serving and waits for the
// requests in flight. The handlers run on civetweb's threads; everything
// they share is thread-safe.

#ifndef ACL_EXPORTER_HTTP_SERVER_H_
#define ACL_EXPORTER_HTTP_SERVER_H_

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <atomic>
#include <memory>
#include <string>

#include "exporter/prober.h"
#include "exporter/token_file.h"

struct mg_context;
struct mg_connection;

namespace exporter {

struct ServerOptions {
  std::string listen = "127.0.0.1:9141";
  int maxProbes = 32;
  double defaultTimeout = 10;   // seconds, without the scraper's header
  double timeoutMargin = 0.5;   // seconds taken off the scraper's timeout
};

class HttpServer {
 public:
  // `prober` and `tokens` must outlive the server. Returns nullptr with
  // `*error` set when it cannot listen.
  static std::unique_ptr<HttpServer> Start(const ServerOptions& options,
                                           Prober* prober, TokenFile* tokens,
                                           std::string* error);
  ~HttpServer();

  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // HOST:PORT it listens on, with the real port.
  const std::string& address() const { return address_; }

 private:
  HttpServer(const ServerOptions& options, Prober* prober, TokenFile* tokens);

  static int HandleProbe(mg_connection* conn, void* self);
  static int HandleMetrics(mg_connection* conn, void* self);
  int Probe(mg_connection* conn);
  std::chrono::milliseconds TimeoutFor(mg_connection* conn) const;

  const ServerOptions options_;
  Prober* const prober_;
  TokenFile* const tokens_;
  std::string address_;
  mg_context* context_ = nullptr;
  std::atomic<int> inFlight_{0};

  std::shared_ptr<prometheus::Registry> registry_;
  prometheus::Counter* probes_;
  prometheus::Family<prometheus::Counter>* failures_;
  prometheus::Counter* rejected_;
  prometheus::Gauge* inFlightGauge_;
  prometheus::Histogram* durations_;
};

}  // namespace exporter

#endif  // ACL_EXPORTER_HTTP_SERVER_H_
