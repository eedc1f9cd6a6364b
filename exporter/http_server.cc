#include "exporter/http_server.h"

#include <civetweb.h>
#include <malloc.h>
#include <prometheus/text_serializer.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <vector>

namespace exporter {

namespace {

constexpr char kTextFormat[] = "text/plain; version=0.0.4; charset=utf-8";
constexpr char kTimeoutHeader[] = "X-Prometheus-Scrape-Timeout-Seconds";
constexpr double kMinTimeout = 0.1;
constexpr int kSpareThreads = 4;  // beyond the probes: /metrics and 503s
constexpr size_t kMaxTarget = 300;
constexpr size_t kLargeProbeSeries = 10000;

std::mutex logMu;

void Log(const std::string& line) {
  std::lock_guard<std::mutex> lock(logMu);
  std::fprintf(stderr, "acl-exporter: %s\n", line.c_str());
}

int LogCivetweb(const mg_connection*, const char* message) {
  Log(message);
  return 1;
}

// An output stream buffer that answers 200 with what is written: with a
// Content-Length when it all fits its buffer (the common, small answer:
// two sends), else as HTTP chunks, so a large answer is never held as one
// text.
class AnswerOut : public std::streambuf {
 public:
  explicit AnswerOut(mg_connection* conn)
      : conn_(conn), buffer_(new char[kSize]) {
    setp(buffer_.get(), buffer_.get() + kSize);
  }
  ~AnswerOut() override {
    const size_t n = static_cast<size_t>(pptr() - pbase());
    if (!chunked_) {
      mg_send_http_ok(conn_, kTextFormat, static_cast<long long>(n));
      mg_write(conn_, buffer_.get(), n);
      return;
    }
    Flush();
    mg_send_chunk(conn_, "", 0);
  }

 protected:
  int_type overflow(int_type c) override {
    if (!chunked_) {
      mg_send_http_ok(conn_, kTextFormat, -1);
      chunked_ = true;
    }
    Flush();
    if (c != traits_type::eof()) sputc(static_cast<char>(c));
    return traits_type::not_eof(c);
  }

 private:
  void Flush() {
    const unsigned n = static_cast<unsigned>(pptr() - pbase());
    if (n > 0) mg_send_chunk(conn_, pbase(), n);
    setp(buffer_.get(), buffer_.get() + kSize);
  }

  // On the heap: a buffer on the stack would stay resident in every server
  // thread that ever answered.
  static constexpr size_t kSize = 64 * 1024;
  mg_connection* const conn_;
  const std::unique_ptr<char[]> buffer_;
  bool chunked_ = false;
};

void SendBody(mg_connection* conn, const std::string& body) {
  mg_send_http_ok(conn, kTextFormat, static_cast<long long>(body.size()));
  mg_write(conn, body.data(), body.size());
}

void SendText(mg_connection* conn,
              const std::vector<prometheus::MetricFamily>& families) {
  AnswerOut out(conn);
  std::ostream stream(&out);
  prometheus::TextSerializer().Serialize(stream, families);
}

// The HOST of HOST:PORT (civetweb's listening_ports take HOST:PORT as is).
std::string HostOf(const std::string& listen) {
  return listen.substr(0, listen.rfind(':'));
}

}  // namespace

std::unique_ptr<HttpServer> HttpServer::Start(const ServerOptions& options,
                                              Prober* prober, TokenFile* tokens,
                                              std::string* error) {
  if (!IsHostPort(options.listen) &&
      options.listen.substr(options.listen.rfind(':') + 1) != "0") {
    *error = "--listen needs HOST:PORT, not '" + options.listen + "'";
    return nullptr;
  }
  std::unique_ptr<HttpServer> server(new HttpServer(options, prober, tokens));
  const std::string threads = std::to_string(options.maxProbes + kSpareThreads);
  const char* config[] = {"listening_ports", options.listen.c_str(),
                          "num_threads", threads.c_str(),
                          "enable_keep_alive", "yes",
                          "tcp_nodelay", "1",
                          "request_timeout_ms", "60000",
                          nullptr};
  mg_callbacks callbacks = {};
  callbacks.log_message = LogCivetweb;
  mg_init_library(0);
  server->context_ = mg_start(&callbacks, server.get(), config);
  if (server->context_ == nullptr) {
    *error = "cannot listen on " + options.listen;
    return nullptr;
  }
  mg_server_port port = {};
  if (mg_get_server_ports(server->context_, 1, &port) < 1) {
    *error = "cannot listen on " + options.listen;
    return nullptr;
  }
  server->address_ = HostOf(options.listen) + ":" + std::to_string(port.port);
  mg_set_request_handler(server->context_, "/probe$", HandleProbe,
                         server.get());
  mg_set_request_handler(server->context_, "/metrics$", HandleMetrics,
                         server.get());
  return server;
}

HttpServer::HttpServer(const ServerOptions& options, Prober* prober,
                       TokenFile* tokens)
    : options_(options),
      prober_(prober),
      tokens_(tokens),
      registry_(std::make_shared<prometheus::Registry>()) {
  probes_ = &prometheus::BuildCounter()
                 .Name("acl_exporter_probes_total")
                 .Help("Probes run.")
                 .Register(*registry_)
                 .Add({});
  failures_ = &prometheus::BuildCounter()
                   .Name("acl_exporter_probe_failures_total")
                   .Help("Probes that answered acl_up 0, by cause.")
                   .Register(*registry_);
  rejected_ = &prometheus::BuildCounter()
                   .Name("acl_exporter_probes_rejected_total")
                   .Help("Probes answered 503: too many in flight.")
                   .Register(*registry_)
                   .Add({});
  inFlightGauge_ = &prometheus::BuildGauge()
                        .Name("acl_exporter_probes_in_flight")
                        .Help("Probes running now.")
                        .Register(*registry_)
                        .Add({});
  durations_ = &prometheus::BuildHistogram()
                    .Name("acl_exporter_probe_duration_seconds")
                    .Help("How long probes took.")
                    .Register(*registry_)
                    .Add({}, prometheus::Histogram::BucketBoundaries{
                                 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1,
                                 2.5, 5, 10, 30});
}

HttpServer::~HttpServer() {
  if (context_ != nullptr) mg_stop(context_);
}

int HttpServer::HandleProbe(mg_connection* conn, void* self) {
  return static_cast<HttpServer*>(self)->Probe(conn);
}

int HttpServer::HandleMetrics(mg_connection* conn, void* self) {
  SendText(conn, static_cast<HttpServer*>(self)->registry_->Collect());
  return 200;
}

std::chrono::milliseconds HttpServer::TimeoutFor(mg_connection* conn) const {
  double seconds = options_.defaultTimeout;
  if (const char* header = mg_get_header(conn, kTimeoutHeader)) {
    const double scrape = std::strtod(header, nullptr);
    if (scrape > 0) seconds = scrape - options_.timeoutMargin;
  }
  seconds = std::max(seconds, kMinTimeout);
  return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

int HttpServer::Probe(mg_connection* conn) {
  const mg_request_info* request = mg_get_request_info(conn);
  const char* query = request->query_string ? request->query_string : "";
  char target[kMaxTarget + 1];
  const int length = mg_get_var(query, std::strlen(query), "target", target,
                                sizeof target);
  if (length == -1) {
    mg_send_http_error(conn, 400, "missing target parameter");
    return 400;
  }
  if (inFlight_.fetch_add(1) >= options_.maxProbes) {
    inFlight_.fetch_sub(1);
    rejected_->Increment();
    mg_send_http_error(conn, 503, "too many probes in flight");
    return 503;
  }
  inFlightGauge_->Increment();
  const auto start = std::chrono::steady_clock::now();
  const std::string name = length < 0 ? std::string() : std::string(target);
  std::string token;
  std::string body;
  ProbeResult result;
  if (!IsHostPort(name)) {
    result.failure = "target";
    result.error = "target is not HOST:PORT";
  } else if (!tokens_->Lookup(name, &token, &result.error)) {
    result.failure = "token";
  }
  if (!result.failure.empty()) {
    body = "# HELP acl_up Whether the device answered every table (1) or "
           "not.\n# TYPE acl_up gauge\nacl_up 0\n";
  } else {
    result = prober_->Probe(name, token, Prober::kAllTables,
                            std::chrono::system_clock::now() + TimeoutFor(conn),
                            nullptr, &body);
  }
  probes_->Increment();
  if (!result.up) {
    failures_->Add({{"cause", result.failure}}).Increment();
    // Only a well-formed target goes into the log as it came.
    Log("probe of " + (IsHostPort(name) ? name : std::string("a bad target")) +
        " failed: " + result.error);
  }
  SendBody(conn, body);
  const bool large = result.series > kLargeProbeSeries;
  std::string().swap(body);
  // Give the pages of a large probe back now (malloc keeps freed small
  // blocks otherwise).
  if (large) malloc_trim(0);
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  durations_->Observe(took.count());
  inFlightGauge_->Decrement();
  inFlight_.fetch_sub(1);
  return 200;
}

}  // namespace exporter
