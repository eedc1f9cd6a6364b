// acl-exporter: a Prometheus exporter for acl.ACLService devices in the
// multi-target pattern: Prometheus's relabelling puts the device in
// /probe?target=HOST:PORT, the exporter queries that device at scrape time
// and answers its counters.
//
// Once serving it prints one line "listening on HOST:PORT" to stdout.
// SIGHUP re-reads the files (Reloader). SIGINT or SIGTERM cancels the
// probes in flight and stops; it exits 0 within kStopGrace.

#include <malloc.h>
#include <signal.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "acl_version.h"
#include "client/command_line.h"
#include "client/grpc_log.h"
#include "exporter/http_server.h"
#include "exporter/prober.h"
#include "exporter/reloader.h"

namespace {

constexpr char kProgram[] = "acl-exporter";
constexpr char kDescription[] =
    "Prometheus exporter for the ACL service of network devices. Prometheus\n"
    "scrapes /probe?target=HOST:PORT[&module=NAME] (the device's gRPC\n"
    "address) and gets that device's ACL counters; /metrics has the\n"
    "exporter's own.\n"
    "Options take their value as --option VALUE or --option=VALUE.";
constexpr char kFooter[] =
    "--token-file: lines `PATTERN TOKEN`, PATTERN one of HOST:PORT,\n"
    "A.B.C.D/N:PORT, [V6]/N:PORT, *.SUFFIX:PORT, or * (every target); the\n"
    "file must not be open to other users (chmod 600). A target that neither\n"
    "it nor --config.file's allowed_targets names is refused (403); with\n"
    "neither, every target may be probed without a token.\n"
    "\n"
    "SIGHUP or POST /-/reload re-reads the files, as does a change to one;\n"
    "a bad new file is not applied. Exit status: 0 after SIGTERM or SIGINT,\n"
    "1 on a bad file or address at start, 2 on a usage error.";
constexpr char kConfigOk[] = "configuration OK";
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kMallocMmapThreshold = 128 * 1024;
constexpr std::chrono::seconds kWatchFiles{1};
constexpr std::chrono::seconds kStopGrace{2};

struct Options {
  exporter::ServerOptions server;
  exporter::ProberOptions prober;
  exporter::Paths paths;
  bool check = false;
  bool verbose = false;
};

using acl_client::AddFlag;

// The options of the command line. Exits on --help and --version (0) and
// on bad flags (2).
Options ParseFlags(int argc, char** argv) {
  Options o;
  CLI::App app(kDescription, kProgram);
  acl_client::StyleCommandLine(&app, kFooter, 30, acl_version::kVersion);
  const CLI::Validator& file = CLI::ExistingFile;
  AddFlag(&app, "--web.listen-address,--listen", "HOST:PORT", &o.server.listen,
          "where to serve HTTP; port 0 picks a free port\n"
          "(default: 127.0.0.1:9141)");
  AddFlag(&app, "--web.config.file", "FILE", &o.paths.webConfigFile,
          "TLS and basic authentication, in the standard\n"
          "exporter web configuration format (default: none)");
  AddFlag(&app, "--config.file", "FILE", &o.paths.configFile,
          "allowed_targets and modules (YAML; default: none)");
  AddFlag(&app, "--token-file", "FILE", &o.paths.tokenFile,
          "the session tokens of the targets, `PATTERN TOKEN`\n"
          "a line (default: none)");
  app.add_flag("--config.check", o.check,
               "read and check every file, print what is wrong\n"
               "(or \"configuration OK\") and exit 0 or 1");
  AddFlag(&app, "--ca-file", "FILE", &o.prober.caFile,
          "talk TLS to the targets, trusting the CA\n"
          "certificates of this PEM file (default: plaintext)")
      ->check(file);
  AddFlag(&app, "--max-probes", "N", &o.server.maxProbes,
          "probes in flight at most; more answer 503\n(default: 32)")
      ->check(CLI::Range(1, 4096));
  AddFlag(&app, "--timeout", "SECONDS", &o.server.defaultTimeout,
          "a probe's deadline when the scraper sends no\n"
          "usable X-Prometheus-Scrape-Timeout-Seconds\n(default: 10)")
      ->check(CLI::Range(0.1, 3600.0));
  AddFlag(&app, "--timeout-margin", "SECONDS", &o.server.timeoutMargin,
          "taken off the scraper's timeout (default: 0.5)")
      ->check(CLI::Range(0.0, 60.0));
  AddFlag(&app, "--max-timeout", "SECONDS", &o.server.maxTimeout,
          "the scraper's timeout at most (default: 120)")
      ->check(CLI::Range(0.1, 3600.0));
  AddFlag(&app, "--max-reply-bytes", "N", &o.prober.maxReplyBytes,
          "the largest answer of one table; a larger one\n"
          "fails the probe (default: 67108864)")
      ->check(CLI::Range(size_t{1024}, size_t{1} << 34));
  AddFlag(&app, "--max-series", "N", &o.prober.maxSeries,
          "series of one probe at most; more are dropped\n"
          "and counted in acl_probe_series_dropped\n(default: 1000000)")
      ->check(CLI::Range(size_t{1}, size_t{1} << 32));
  AddFlag(&app, "--web.max-connections", "N", &o.server.maxConnections,
          "open HTTP connections at most; more are refused\n"
          "and counted (default: 256)")
      ->check(CLI::Range(1, 65536));
  AddFlag(&app, "--web.read-timeout", "SECONDS", &o.server.readTimeout,
          "a request must arrive whole within this; slower\n"
          "clients are dropped and counted (default: 10)")
      ->check(CLI::Range(0.1, 3600.0));
  app.add_flag("--verbose", o.verbose, "also print gRPC's own log lines");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    std::exit(app.exit(e) == 0 ? kExitOk : kExitUsage);
  }
  return o;
}

// Destroys the server (which cancels the probes in flight) within
// kStopGrace; past it the process ends anyway.
void Stop(std::unique_ptr<exporter::HttpServer> http) {
  http->CancelProbes();
  std::mutex mu;
  std::condition_variable done;
  bool stopped = false;
  std::thread stopper([&] {
    http.reset();
    std::lock_guard<std::mutex> lock(mu);
    stopped = true;
    done.notify_one();
  });
  std::unique_lock<std::mutex> lock(mu);
  if (!done.wait_for(lock, kStopGrace, [&] { return stopped; })) {
    std::fprintf(stderr, "acl-exporter: still stopping after %llds; exiting\n",
                 static_cast<long long>(kStopGrace.count()));
    std::_Exit(kExitOk);
  }
  lock.unlock();
  stopper.join();
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseFlags(argc, argv);
  acl_client::QuietGrpcLog(options.verbose);

  exporter::Reloader reloader(options.paths);
  exporter::Settings settings;
  std::vector<std::string> errors;
  const bool loaded = reloader.Load(&settings, &errors);
  if (options.check || !loaded) {
    for (const std::string& error : errors) {
      std::cerr << kProgram << ": " << error << "\n";
    }
    if (loaded) std::cout << kConfigOk << "\n";
    return loaded ? kExitOk : kExitFailed;
  }
  if (!settings.credentials && !settings.config->hasAllowedTargets()) {
    std::cerr << kProgram
              << ": warning: neither --token-file nor allowed_targets: any "
                 "target may be probed (an open proxy)\n";
  }

  // Large blocks (table answers) come from mmap and go back when freed. One
  // malloc arena per core, not eight: probes run on many server threads,
  // and freed memory kept in each thread's arena would keep the resident
  // size at the sum of their peaks; HttpServer trims after a large probe.
  mallopt(M_MMAP_THRESHOLD, kMallocMmapThreshold);
  mallopt(M_TRIM_THRESHOLD, kMallocMmapThreshold);
  mallopt(M_ARENA_MAX,
          static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));

  // The signals are taken by sigtimedwait() only: blocked before any thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::string error;
  std::unique_ptr<exporter::Prober> prober =
      exporter::Prober::Create(options.prober, &error);
  if (!prober) {
    std::cerr << kProgram << ": " << error << "\n";
    return kExitFailed;
  }
  std::unique_ptr<exporter::HttpServer> http = exporter::HttpServer::Start(
      options.server, prober.get(), settings,
      [&reloader](std::string* why) { return reloader.Reload(why); }, &error);
  if (!http) {
    std::cerr << kProgram << ": " << error << "\n";
    return kExitFailed;
  }
  reloader.Attach(http.get());
  std::cout << "listening on " << http->address() << std::endl;
  const timespec wait = {kWatchFiles.count(), 0};
  for (;;) {
    const int sig = sigtimedwait(&signals, nullptr, &wait);
    if (sig == SIGINT || sig == SIGTERM) break;
    if (sig == SIGHUP) {
      reloader.Reload(&error);
    } else {
      reloader.ReloadIfChanged();
    }
    http->Reap();
  }
  Stop(std::move(http));
  return kExitOk;
}
