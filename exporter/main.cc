// acl-exporter: a Prometheus exporter for acl.ACLService devices in the
// multi-target pattern: Prometheus's relabelling puts the device in
// /probe?target=HOST:PORT, the exporter queries that device at scrape time
// and answers its counters.
//
// Once serving it prints one line "listening on HOST:PORT" to stdout;
// SIGINT or SIGTERM stops it (the probes in flight finish first) and it
// exits 0.

#include <malloc.h>
#include <signal.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "acl_version.h"
#include "exporter/http_server.h"
#include "exporter/prober.h"
#include "exporter/token_file.h"

namespace {

constexpr char kDescription[] =
    "Prometheus exporter for the ACL service of network devices. Prometheus "
    "scrapes /probe?target=HOST:PORT (the device's gRPC address) and gets "
    "that device's ACL counters; /metrics has the exporter's own.";
constexpr int kMallocMmapThreshold = 128 * 1024;

// Waits for SIGINT or SIGTERM (blocked in every thread since the start).
void WaitForStop(const sigset_t& stops) {
  int sig = 0;
  while (sigwait(&stops, &sig) != 0) {
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(kDescription, "acl-exporter");
  exporter::ServerOptions server;
  exporter::ProberOptions prober;
  std::string tokenFile;
  app.set_version_flag("--version",
                       std::string("acl-exporter ") + acl_version::kVersion);
  app.add_option("--listen", server.listen,
                 "where to serve HTTP, an IP address and port (0: a free one)")
      ->capture_default_str();
  app.add_option("--token-file", tokenFile,
                 "the session tokens: one token for every target, or lines "
                 "HOST:PORT TOKEN (read again when it changes)");
  app.add_option("--ca-file", prober.caFile,
                 "talk TLS to the targets, trusting the CA certificates in "
                 "this PEM file (default: plaintext)");
  app.add_option("--max-probes", server.maxProbes,
                 "probes in flight at most; more answer 503")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();
  app.add_option("--timeout", server.defaultTimeout,
                 "a probe's deadline in seconds when the scraper sends none")
      ->check(CLI::Range(0.1, 3600.0))
      ->capture_default_str();
  app.add_option("--timeout-margin", server.timeoutMargin,
                 "seconds taken off the scraper's timeout")
      ->check(CLI::Range(0.0, 60.0))
      ->capture_default_str();
  app.add_option("--max-reply-bytes", prober.maxReplyBytes,
                 "the largest answer of one table; a larger one fails the "
                 "probe")
      ->check(CLI::Range(size_t{1024}, size_t{1} << 34))
      ->capture_default_str();
  app.add_option("--max-series", prober.maxSeries,
                 "series of one probe at most; more are dropped and counted "
                 "in acl_probe_series_dropped")
      ->check(CLI::Range(size_t{1}, size_t{1} << 32))
      ->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;  // --help, --version; else a usage error
  }

  // Large blocks (table answers) come from mmap and go back when freed, and
  // grow by mremap without a copy (reply_buffer.h). One malloc arena per
  // core, not eight: probes run on many server threads, and freed memory
  // kept in each thread's arena would keep the resident size at the sum of
  // their peaks; HttpServer trims after a large probe.
  mallopt(M_MMAP_THRESHOLD, kMallocMmapThreshold);
  mallopt(M_TRIM_THRESHOLD, kMallocMmapThreshold);
  mallopt(M_ARENA_MAX,
          static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));

  // Stop signals are taken by sigwait() only: blocked before any thread.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  signal(SIGPIPE, SIG_IGN);

  exporter::TokenFile tokens(tokenFile);
  std::string error;
  std::unique_ptr<exporter::Prober> probes =
      exporter::Prober::Create(prober, &error);
  if (!probes) {
    std::cerr << "acl-exporter: " << error << "\n";
    return 1;
  }
  std::unique_ptr<exporter::HttpServer> http =
      exporter::HttpServer::Start(server, probes.get(), &tokens, &error);
  if (!http) {
    std::cerr << "acl-exporter: " << error << "\n";
    return 1;
  }
  std::cout << "listening on " << http->address() << std::endl;
  WaitForStop(stops);
  http.reset();
  return 0;
}
