// acl-devhost: loads the ACL service module, serves it over gRPC and answers
// its queries from a device configuration (or echoes the request tree).
// Start-up: flags, registry, value checks, adapter and sessions make the
// Host (host.h); the module is loaded and registers its service on the
// builder; the server starts and "listening on HOST:PORT" goes to stdout.
// The main thread then waits for SIGINT or SIGTERM, giving memory back
// whenever the server rests after a large call (memory.h); a signal stops
// the server within a grace (stopper.h) and the process exits 0.

#include <dlfcn.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <grpcpp/ext/proto_server_reflection_plugin.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/health_check_service_interface.h>
#include <nlohmann/json.hpp>

#include <CLI/CLI.hpp>

#include "acl_version.h"
#include "client/command_line.h"
#include "client/grpc_log.h"
#include "client/host_port.h"
#include "devhost/adapter.h"
#include "devhost/checks.h"
#include "devhost/config.h"
#include "devhost/host.h"
#include "devhost/memory.h"
#include "devhost/registry.h"
#include "devhost/stopper.h"

namespace devhost {
namespace {

constexpr char kProgram[] = "acl-devhost";
constexpr char kServiceName[] = "acl.ACLService";
constexpr char kModuleFile[] = "libacl_service.so";
constexpr char kPemCertificate[] = "-----BEGIN CERTIFICATE-----";
constexpr char kPemPrivateKey[] = "PRIVATE KEY-----";
// How long the server must rest before memory goes back.
constexpr timespec kRest = {0, 250 * 1000 * 1000};
constexpr char kListenHint[] =
    "pick another --listen HOST:PORT (port 0 picks a free one)";

// A start-up failure: exit code 1, or 2 for a bad value only start-up finds
// (a --reject path the registry lacks).
struct StartError : std::runtime_error {
  explicit StartError(const std::string& what, int code = 1)
      : std::runtime_error(what), exitCode(code) {}
  int exitCode;
};

struct Options {
  std::string module;  // "": DefaultModule()
  std::string listen = "127.0.0.1:50051";
  std::string tlsCert, tlsKey;
  std::vector<std::string> tokens;
  std::string registryFile;  // "": built in
  std::string adapter = "json";
  std::string configFile;  // "": the built-in sample
  std::string answerFile;  // the fixed adapter's answer
  std::vector<std::string> rejects;  // PATH[=TEXT]
  size_t splitBytes = 65536;
  std::optional<int> maxRecvBytes, maxSendBytes, threads;
  int graceSeconds = 5;
  bool verbose = false;
};

constexpr char kDescription[] =
    "Loads the ACL service module, serves it over gRPC (with server\n"
    "reflection and the standard health service) and answers its queries\n"
    "from a device configuration.\n"
    "Flags take their value as --flag VALUE or --flag=VALUE.";

constexpr char kFooter[] =
    "Once serving it prints one line \"listening on HOST:PORT\" (the real\n"
    "port) to stdout. SIGINT or SIGTERM stops it: no new calls; the calls\n"
    "in flight have the grace to finish, then are cancelled (UNAVAILABLE).\n"
    "Exit status: 0 after a signal, 1 when start-up fails, 2 for bad flags.";

using acl_client::AddFlag;

// The options of the command line. Exits on --help and --version (0) and
// on bad flags (2). A file that a flag names must exist; whether it reads
// well is up to start-up (exit 1).
Options ParseFlags(int argc, char** argv) {
  Options o;
  CLI::App app(kDescription, kProgram);
  acl_client::StyleCommandLine(&app, kFooter, 26, acl_version::kVersion);
  const CLI::Validator& file = CLI::ExistingFile;
  const CLI::Range count(1, INT_MAX);
  // No ExistingFile for the module: dlopen() also searches the library
  // path for a bare file name.
  AddFlag(&app, "--module", "PATH", &o.module,
          "the module to load (default: libacl_service.so\n"
          "beside this program, else the installed one)");
  AddFlag(&app, "--listen", "HOST:PORT", &o.listen,
          "where to serve; port 0 picks a free port\n"
          "(default: 127.0.0.1:50051)")
      ->check(CLI::Validator(
          [](std::string& v) {
            std::string host;  // a bracketed IPv6 address too
            int port;
            return acl_client::SplitHostPort(v, &host, &port)
                       ? ""
                       : "needs HOST:PORT with a port from 0 to 65535, not \"" +
                             v + "\"";
          },
          ""));
  CLI::Option* cert = AddFlag(&app, "--tls-cert", "FILE", &o.tlsCert,
                              "serve TLS with this PEM certificate chain\n"
                              "(needs --tls-key; default: no TLS)");
  CLI::Option* key = AddFlag(&app, "--tls-key", "FILE", &o.tlsKey,
                             "the PEM private key of --tls-cert");
  cert->check(file)->needs(key);
  key->check(file)->needs(cert);
  AddFlag(&app, "--token", "TEXT", &o.tokens,
          "accept this session token; repeatable\n"
          "(default: a random one, printed)")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
      ->check(CLI::Validator(
          [](std::string& v) { return v.empty() ? "needs a text" : ""; }, ""));
  AddFlag(&app, "--registry", "FILE", &o.registryFile,
          "the registry data file (default: built in)")
      ->check(file);
  AddFlag(&app, "--adapter", "json|echo|fixed", &o.adapter,
          "answer from the configuration, with the\n"
          "request tree, or with --answer-file's text\n(default: json)")
      ->check(CLI::IsMember({"json", "echo", "fixed"}));
  AddFlag(&app, "--config", "FILE", &o.configFile,
          "the json adapter's device configuration\n"
          "(default: the built-in sample)")
      ->check(file);
  AddFlag(&app, "--answer-file", "FILE", &o.answerFile,
          "the answer of the fixed adapter")
      ->check(file);
  AddFlag(&app, "--reject", "PATH[=TEXT]", &o.rejects,
          "reject every value of the column at PATH,\n"
          "or only TEXT; repeatable. PATH is\n"
          "ACL/TABLE[/ROW]/COLUMN, such as\n"
          "ACL/IPv4BasicRules/Rule/RuleID")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  AddFlag(&app, "--split-bytes", "N", &o.splitBytes,
          "largest piece of a streamed answer\n(default: 65536)")
      ->check(count);
  AddFlag(&app, "--max-recv-bytes", "N", &o.maxRecvBytes,
          "largest request message (default: 4194304)")
      ->check(count);
  AddFlag(&app, "--max-send-bytes", "N", &o.maxSendBytes,
          "largest reply message (default: no limit)")
      ->check(count);
  AddFlag(&app, "--threads", "N", &o.threads,
          "worker threads: about N calls at once, more\n"
          "fail (default: as gRPC needs them)")
      ->check(CLI::Range(1, 4096));
  AddFlag(&app, "--grace", "SECONDS", &o.graceSeconds,
          "how long a stop waits for calls in flight\n(default: 5)")
      ->check(CLI::Range(0, 3600));
  app.add_flag("--verbose", o.verbose, "also print gRPC's own log lines");
  try {
    app.parse(argc, argv);
    // What CLI11 does not express: checks on another flag's value.
    if (!o.configFile.empty() && o.adapter != "json") {
      throw CLI::ValidationError("--config", "is for --adapter json");
    }
    if ((o.adapter == "fixed") != !o.answerFile.empty()) {
      throw CLI::ValidationError("--answer-file", "goes with --adapter fixed");
    }
  } catch (const CLI::ParseError& e) {
    std::exit(app.exit(e) == 0 ? 0 : 2);
  }
  return o;
}

std::string ReadFile(const std::string& flag, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw StartError("cannot read " + flag + " " + path + ": " +
                     std::strerror(errno));
  }
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The module beside this program (in a build tree), else the installed one
// in the module directory relative to the program's.
std::string DefaultModule() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) return kModuleFile;
  std::string dir(self, static_cast<size_t>(n));
  dir.resize(dir.rfind('/') + 1);
  const std::string beside = dir + kModuleFile;
  const std::string installed =
      dir + acl_version::kModuleDirFromPrograms + "/" + kModuleFile;
  const bool useInstalled = access(beside.c_str(), F_OK) != 0 &&
                            access(installed.c_str(), F_OK) == 0;
  return useInstalled ? installed : beside;
}

std::string RandomToken() {
  std::random_device r;
  char token[33];
  std::snprintf(token, sizeof(token), "%08x%08x%08x%08x", r(), r(), r(), r());
  return token;
}

// Fills the Host from the options: everything but the module and the server.
void MakeHost(const Options& o, Host* host) {
  if (o.registryFile.empty()) {
    host->registry = Registry::BuiltIn();
  } else {
    const std::string text = ReadFile("--registry", o.registryFile);
    try {
      host->registry = Registry::Load(nlohmann::json::parse(text));
    } catch (const nlohmann::json::parse_error& e) {
      throw StartError("--registry " + o.registryFile + " is not JSON: " +
                       e.what());
    } catch (const std::runtime_error& e) {
      throw StartError("--registry " + o.registryFile + ": " + e.what());
    }
  }
  try {
    std::vector<RejectRule> rejects;
    for (const std::string& r : o.rejects) {
      rejects.push_back(ParseRejectRule(r));
    }
    host->checker = std::make_unique<Checker>(*host->registry, rejects);
  } catch (const std::invalid_argument& e) {
    throw StartError(e.what(), 2);
  }
  if (o.adapter == "echo") {
    host->adapter = MakeEchoAdapter(*host->registry);
  } else if (o.adapter == "fixed") {
    host->adapter = MakeFixedAdapter(ReadFile("--answer-file", o.answerFile));
  } else {
    const Registry& r = *host->registry;
    try {
      host->adapter = MakeJsonAdapter(
          r, o.configFile.empty() ? LoadConfig(r, kSampleConfigJson)
                                  : LoadConfigFile(r, o.configFile));
    } catch (const std::runtime_error& e) {
      throw StartError((o.configFile.empty()
                            ? std::string("the built-in sample configuration")
                            : "--config " + o.configFile) +
                       ": " + e.what());
    }
  }
  host->adapter->GiveUpWhen(&host->stopping);
  host->tokens.insert(o.tokens.begin(), o.tokens.end());
  host->splitBytes = o.splitBytes;
}

// Loads the module and creates its service; returns its ServiceDestroy. The
// host operations must be ready: the loader resolves the module's undefined
// ones from this executable now. The module stays loaded to the end.
using DestroyFunction = void (*)();
DestroyFunction StartModule(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    std::string why = error != nullptr ? error : "unknown reason";
    if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
    const bool isPath = path.find('/') != std::string::npos;
    if (isPath && access(path.c_str(), F_OK) != 0) {
      why = "no such file; build it (cmake --build build) or name the "
            "module with --module PATH";
    }
    throw StartError("cannot load module " + path + ": " + why);
  }
  auto create = reinterpret_cast<int (*)()>(dlsym(handle, "ServiceCreate"));
  auto destroy =
      reinterpret_cast<DestroyFunction>(dlsym(handle, "ServiceDestroy"));
  if (create == nullptr || destroy == nullptr) {
    throw StartError("module " + path + " lacks the entry point " +
                     (create == nullptr ? "ServiceCreate" : "ServiceDestroy"));
  }
  create();
  return destroy;
}

// The file a TLS flag names; it must hold the PEM block `marker` begins
// or ends (gRPC would only refuse to serve).
std::string ReadPem(const std::string& flag, const std::string& path,
                    const char* marker, const char* what) {
  std::string text = ReadFile(flag, path);
  if (text.find(marker) == std::string::npos) {
    throw StartError(flag + " " + path + " holds no PEM " + what +
                     ": give the PEM file of the server's " + what);
  }
  return text;
}

std::shared_ptr<grpc::ServerCredentials> Credentials(const Options& o) {
  if (o.tlsCert.empty()) return grpc::InsecureServerCredentials();
  grpc::SslServerCredentialsOptions ssl;
  ssl.pem_key_cert_pairs.push_back(
      {ReadPem("--tls-key", o.tlsKey, kPemPrivateKey, "private key"),
       ReadPem("--tls-cert", o.tlsCert, kPemCertificate, "certificate")});
  return grpc::SslServerCredentials(ssl);
}

// Why the server could not serve on o.listen, in one sentence: the error
// of binding a socket there ourselves, else the TLS pair gRPC refused.
std::string WhyNotServing(const Options& o) {
  std::string host;
  int number = 0;
  acl_client::SplitHostPort(o.listen, &host, &number);  // checked by the flag
  const std::string port = std::to_string(number);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const bool named = getaddrinfo(host.empty() ? nullptr : host.c_str(),
                                 port.c_str(), &hints, &found) == 0;
  int error = named ? 0 : EADDRNOTAVAIL;
  bool listener = false;  // when in use: by a server, not a closed connection
  for (addrinfo* a = found; a != nullptr && error == 0; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd < 0) continue;
    const int on = 1;  // as gRPC binds
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0) error = errno;
    close(fd);
    if (error != EADDRINUSE) continue;
    const int probe = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    listener = probe >= 0 && connect(probe, a->ai_addr, a->ai_addrlen) == 0;
    if (probe >= 0) close(probe);
  }
  if (found != nullptr) freeaddrinfo(found);
  std::string why = std::string(std::strerror(error)) + "; ";
  if (error == EADDRINUSE && !listener) {
    why = "a recent connection still holds the port (for up to a minute); "
          "wait, or ";
  } else if (error == EADDRINUSE) {
    why = "another program listens there; stop it, or ";
  } else if (error == EADDRNOTAVAIL) {
    why = host + (named ? " is no address" : " is no name or address") +
          " of this machine; ";
  } else if (error == EACCES) {
    why = "ports below 1024 need privileges; ";
  } else if (error == 0 && !o.tlsCert.empty()) {
    return "cannot serve on " + o.listen + ": gRPC refused --tls-cert " +
           o.tlsCert + " and --tls-key " + o.tlsKey +
           "; give a certificate and the private key it was made for";
  } else if (error == 0) {
    why = "gRPC refused to listen there; ";
  }
  return "cannot serve on " + o.listen + ": " + why + kListenHint;
}

// Waits for SIGINT or SIGTERM (blocked in every thread since the start).
// Meanwhile, looking every kRest, gives memory back once a large call has
// ended and no call has run since the last look.
int WaitForStop(const sigset_t& stops, const Host& h) {
  uint64_t started = h.started.load(std::memory_order_acquire);
  uint64_t rested = h.large.load(std::memory_order_acquire);
  for (;;) {
    const int sig = sigtimedwait(&stops, nullptr, &kRest);
    if (sig > 0) return sig;
    const uint64_t nowStarted = h.started.load(std::memory_order_acquire);
    const uint64_t large = h.large.load(std::memory_order_acquire);
    if (large != rested && nowStarted == started && h.InFlight() == 0) {
      GiveMemoryBack();
      rested = large;
    }
    started = nowStarted;
  }
}

int Run(int argc, char** argv, const sigset_t& stops) {
  const Options o = ParseFlags(argc, argv);
  acl_client::QuietGrpcLog(o.verbose);
  Host& h = TheHost();
  MakeHost(o, &h);
  std::string madeToken;
  if (h.tokens.empty()) {
    madeToken = RandomToken();
    h.tokens.insert(madeToken);
  }

  // Both take effect for builders made and servers built after them.
  grpc::reflection::InitProtoReflectionServerBuilderPlugin();
  grpc::EnableDefaultHealthCheckService(true);
  grpc::ServerBuilder builder;
  h.builder = &builder;
  const DestroyFunction destroyModule =
      StartModule(o.module.empty() ? DefaultModule() : o.module);

  HookCalls(&builder);
  int selectedPort = 0;
  // A port taken by another server is an error, not a shared port.
  builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
  builder.AddListeningPort(o.listen, Credentials(o), &selectedPort);
  if (o.maxRecvBytes) builder.SetMaxReceiveMessageSize(*o.maxRecvBytes);
  if (o.maxSendBytes) builder.SetMaxSendMessageSize(*o.maxSendBytes);
  if (o.threads) {
    // One thread waits for calls; N more run them. A call that finds all N
    // busy fails with RESOURCE_EXHAUSTED (the sync server does not queue).
    builder.SetSyncServerOption(grpc::ServerBuilder::MIN_POLLERS, 1);
    builder.SetSyncServerOption(grpc::ServerBuilder::MAX_POLLERS, 1);
    grpc::ResourceQuota quota(kProgram);
    // One more for a worker that has replied but not yet returned.
    quota.SetMaxThreads(*o.threads + 2);
    builder.SetResourceQuota(quota);
  }
  std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
  if (server == nullptr || selectedPort == 0) {
    destroyModule();
    throw StartError(WhyNotServing(o));
  }
  if (auto* health = server->GetHealthCheckService()) {
    health->SetServingStatus("", true);
    health->SetServingStatus(kServiceName, true);
  }
  if (!madeToken.empty()) std::cout << "token: " << madeToken << "\n";
  std::cout << "listening on " << o.listen.substr(0, o.listen.rfind(':'))
            << ":" << selectedPort << std::endl;

  const int sig = WaitForStop(stops, h);
  std::cerr << kProgram << ": " << strsignal(sig) << ", shutting down"
            << std::endl;
  Stop(server.get(), &h, stops, std::chrono::seconds(o.graceSeconds));
  server.reset();
  destroyModule();
  h.builder = nullptr;
  return 0;
}

}  // namespace
}  // namespace devhost

int main(int argc, char** argv) {
  devhost::SetAllocatorPolicy();
  // Block the stop signals before any thread starts, so that every thread
  // inherits the mask and only sigwait() receives them.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  try {
    return devhost::Run(argc, argv, stops);
  } catch (const std::exception& e) {
    std::cerr << devhost::kProgram << ": " << e.what() << std::endl;
    const auto* start = dynamic_cast<const devhost::StartError*>(&e);
    return start != nullptr ? start->exitCode : 1;
  }
}
