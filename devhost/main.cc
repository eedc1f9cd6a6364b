// acl-devhost: loads the ACL service module, serves it over gRPC and answers
// its queries from a device configuration (or echoes the request tree).
//
// Start-up: flags, registry, value checks, adapter and sessions make the
// Host (host.h); then the module is loaded and registers its service on the
// builder, the server starts, and one line "listening on HOST:PORT" goes to
// stdout. SIGINT or SIGTERM stops the server within a grace (stopper.h),
// then the module's service is destroyed and the process exits 0. Memory
// that large calls took goes back to the system (memory.h).
//
// Exit codes: 0 after a signal, 1 when start-up fails, 2 for bad flags.

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <grpcpp/ext/proto_server_reflection_plugin.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/health_check_service_interface.h>
#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server_builder.h>
#include <nlohmann/json.hpp>

#include "acl_version.h"
#include "devhost/adapter.h"
#include "devhost/calls.h"
#include "devhost/checks.h"
#include "devhost/fixed_adapter.h"
#include "devhost/host.h"
#include "devhost/memory.h"
#include "devhost/registry.h"
#include "devhost/stopper.h"

namespace devhost {
namespace {

constexpr char kProgram[] = "acl-devhost";
constexpr char kServiceName[] = "acl.ACLService";
constexpr char kModuleFile[] = "libacl_service.so";

// A start-up failure: reported on stderr, exit code 1.
struct StartError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A bad command line: reported with the usage, exit code 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
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
  std::vector<RejectRule> rejects;
  size_t splitBytes = 65536;
  std::optional<int> maxRecvBytes, maxSendBytes, threads;
  std::chrono::seconds grace{5};
};

constexpr char kUsage[] =
    "usage: acl-devhost [FLAGS]\n"
    "\n"
    "Loads the ACL service module, serves it over gRPC (with server\n"
    "reflection and the standard health service) and answers its queries\n"
    "from a device configuration.\n"
    "Flags take their value as --flag VALUE or --flag=VALUE.\n"
    "\n"
    "  --module PATH         the module to load (default: libacl_service.so\n"
    "                        beside this program, else the installed one)\n"
    "  --listen HOST:PORT    where to serve; port 0 picks a free port\n"
    "                        (default: 127.0.0.1:50051)\n"
    "  --tls-cert FILE       serve TLS with this PEM certificate chain\n"
    "                        (needs --tls-key; default: no TLS)\n"
    "  --tls-key FILE        the PEM private key of --tls-cert\n"
    "  --token TEXT          accept this session token; repeatable\n"
    "                        (default: one random token, printed as\n"
    "                        \"token: TEXT\")\n"
    "  --registry FILE       the registry data file\n"
    "                        (default: the built-in registry)\n"
    "  --adapter json|echo|fixed\n"
    "                        json: answer from the configuration;\n"
    "                        echo: answer with the request tree;\n"
    "                        fixed: answer every call with the text of\n"
    "                        --answer-file (load tests) (default: json)\n"
    "  --config FILE         the device configuration of the json adapter\n"
    "                        (default: the built-in sample)\n"
    "  --answer-file FILE    the answer of the fixed adapter\n"
    "  --reject PATH[=TEXT]  reject every value of the column at PATH, or\n"
    "                        only TEXT, such as\n"
    "                        ACL/IPv4BasicRules/Rule/GroupID=2001;\n"
    "                        repeatable (default: none)\n"
    "  --split-bytes N       largest piece of a streamed answer\n"
    "                        (default: 65536)\n"
    "  --max-recv-bytes N    largest request message (default: 4194304)\n"
    "  --max-send-bytes N    largest reply message (default: no limit)\n"
    "  --threads N           server worker threads: about N calls run at\n"
    "                        once, more fail with RESOURCE_EXHAUSTED\n"
    "                        (default: threads as gRPC needs them)\n"
    "  --grace SECONDS       how long a stop waits for calls in flight\n"
    "                        (default: 5)\n"
    "  --help                print this help and exit\n"
    "  --version             print the version and exit\n"
    "\n"
    "Once serving it prints one line \"listening on HOST:PORT\" (the real\n"
    "port) to stdout.\n"
    "\n"
    "SIGINT or SIGTERM stops it: it takes no new calls, and the calls in\n"
    "flight have the grace to finish; as soon as none is left it exits 0,\n"
    "whether or not clients keep connections open. Calls still running\n"
    "when the grace is over (or at a second signal) are cancelled: their\n"
    "clients see UNAVAILABLE, and the host stops serving them (no session,\n"
    "values rejected with \"the host is shutting down\", no answer), so\n"
    "they end as soon as they have released their memory; then it exits 0.\n";

// A whole decimal number from `min` to `max`.
long long ParseCount(const std::string& flag, const std::string& text,
                     long long min, long long max) {
  errno = 0;
  char* end = nullptr;
  long long v = text.empty() || text[0] == '-' || text[0] == '+'
                    ? -1
                    : std::strtoll(text.c_str(), &end, 10);
  if (v < min || v > max || errno != 0 || end == nullptr || *end != '\0') {
    throw UsageError(flag + " needs a number from " + std::to_string(min) +
                     " to " + std::to_string(max) + ", not \"" + text + "\"");
  }
  return v;
}

Options ParseFlags(int argc, char** argv) {
  Options o;
  using Setter = std::function<void(const std::string& flag,
                                    const std::string& value)>;
  const std::map<std::string, Setter> flags = {
      {"--module", [&](auto&, auto& v) { o.module = v; }},
      {"--listen", [&](auto&, auto& v) { o.listen = v; }},
      {"--tls-cert", [&](auto&, auto& v) { o.tlsCert = v; }},
      {"--tls-key", [&](auto&, auto& v) { o.tlsKey = v; }},
      {"--token",
       [&](auto& f, auto& v) {
         if (v.empty()) throw UsageError(f + " needs a non-empty text");
         o.tokens.push_back(v);
       }},
      {"--registry", [&](auto&, auto& v) { o.registryFile = v; }},
      {"--adapter",
       [&](auto& f, auto& v) {
         if (v != "json" && v != "echo" && v != "fixed") {
           throw UsageError(f + " must be json, echo or fixed, not \"" + v +
                            "\"");
         }
         o.adapter = v;
       }},
      {"--config", [&](auto&, auto& v) { o.configFile = v; }},
      {"--answer-file", [&](auto&, auto& v) { o.answerFile = v; }},
      {"--reject",
       [&](auto&, auto& v) {
         try {
           o.rejects.push_back(ParseRejectRule(v));
         } catch (const std::invalid_argument& e) {
           throw UsageError(e.what());
         }
       }},
      {"--split-bytes",
       [&](auto& f, auto& v) { o.splitBytes = ParseCount(f, v, 1, INT_MAX); }},
      {"--max-recv-bytes",
       [&](auto& f, auto& v) { o.maxRecvBytes = ParseCount(f, v, 1, INT_MAX); }},
      {"--max-send-bytes",
       [&](auto& f, auto& v) { o.maxSendBytes = ParseCount(f, v, 1, INT_MAX); }},
      {"--threads",
       [&](auto& f, auto& v) { o.threads = ParseCount(f, v, 1, 4096); }},
      {"--grace",
       [&](auto& f, auto& v) {
         o.grace = std::chrono::seconds(ParseCount(f, v, 0, 3600));
       }},
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (arg == "--version") {
      std::cout << kProgram << " " << acl_version::kVersion << "\n";
      std::exit(0);
    }
    std::optional<std::string> value;
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    auto it = flags.find(arg);
    if (it == flags.end()) throw UsageError("unknown flag " + arg);
    if (!value) {
      if (i + 1 >= argc) throw UsageError(arg + " needs a value");
      value = argv[++i];
    }
    it->second(arg, *value);
  }
  if (o.tlsCert.empty() != o.tlsKey.empty()) {
    throw UsageError("--tls-cert and --tls-key go together");
  }
  if (!o.configFile.empty() && o.adapter != "json") {
    throw UsageError("--config is for --adapter json");
  }
  if ((o.adapter == "fixed") != !o.answerFile.empty()) {
    throw UsageError("--answer-file goes with --adapter fixed");
  }
  return o;
}

// The HOST of HOST:PORT (which may be a bracketed IPv6 address), once the
// whole is found well formed.
std::string ListenHost(const std::string& listen) {
  const size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    throw UsageError("--listen needs HOST:PORT, not \"" + listen + "\"");
  }
  ParseCount("--listen's port", listen.substr(colon + 1), 0, 65535);
  return listen.substr(0, colon);
}

std::string ReadFile(const std::string& flag, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw StartError("cannot read " + flag + " " + path + ": " +
                     std::strerror(errno));
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

nlohmann::json ReadJson(const std::string& flag, const std::string& path) {
  try {
    return nlohmann::json::parse(ReadFile(flag, path));
  } catch (const nlohmann::json::parse_error& e) {
    throw StartError(flag + " " + path + " is not JSON: " + e.what());
  }
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
  std::random_device random;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof(part), "%08x", random());
    token += part;
  }
  return token;
}

// Fills the Host from the options: everything but the module and the server.
void MakeHost(const Options& o, Host* host) {
  if (o.registryFile.empty()) {
    host->registry = Registry::BuiltIn();
  } else {
    const nlohmann::json data = ReadJson("--registry", o.registryFile);
    try {
      host->registry = Registry::Load(data);
    } catch (const std::runtime_error& e) {
      throw StartError("--registry " + o.registryFile + ": " + e.what());
    }
  }
  try {
    host->checker = std::make_unique<Checker>(*host->registry, o.rejects);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
  if (o.adapter == "echo") {
    host->adapter = MakeEchoAdapter(*host->registry);
  } else if (o.adapter == "fixed") {
    host->adapter = MakeFixedAdapter(ReadFile("--answer-file", o.answerFile));
  } else {
    try {
      host->adapter = o.configFile.empty()
                          ? MakeJsonAdapter(*host->registry, SampleConfig())
                          : LoadJsonAdapter(*host->registry, o.configFile);
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

// The module's entry points.
struct Module {
  int (*create)() = nullptr;
  void (*destroy)() = nullptr;
};

// Loads the module; the host operations must be ready, since the loader
// resolves the module's undefined ones from this executable now. The module
// stays loaded to the end of the process.
Module LoadModule(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = dlerror();
    std::string why = error != nullptr ? error : "unknown reason";
    if (why.rfind(path + ": ", 0) == 0) why.erase(0, path.size() + 2);
    throw StartError("cannot load module " + path + ": " + why);
  }
  Module m;
  m.create = reinterpret_cast<int (*)()>(dlsym(handle, "ServiceCreate"));
  m.destroy = reinterpret_cast<void (*)()>(dlsym(handle, "ServiceDestroy"));
  if (m.create == nullptr || m.destroy == nullptr) {
    throw StartError("module " + path + " lacks the entry point " +
                     (m.create == nullptr ? "ServiceCreate" : "ServiceDestroy"));
  }
  return m;
}

std::shared_ptr<grpc::ServerCredentials> Credentials(const Options& o) {
  if (o.tlsCert.empty()) return grpc::InsecureServerCredentials();
  grpc::SslServerCredentialsOptions ssl;
  ssl.pem_key_cert_pairs.push_back(
      {ReadFile("--tls-key", o.tlsKey), ReadFile("--tls-cert", o.tlsCert)});
  return grpc::SslServerCredentials(ssl);
}

// Waits for SIGINT or SIGTERM (blocked in every thread since the start).
int WaitForStop(const sigset_t& stops) {
  int sig = 0;
  while (sigwait(&stops, &sig) != 0) {
  }
  return sig;
}

int Run(int argc, char** argv, const sigset_t& stops) {
  const Options o = ParseFlags(argc, argv);
  const std::string host = ListenHost(o.listen);
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
  auto builder = std::make_unique<grpc::ServerBuilder>();
  h.builder = builder.get();

  const std::string modulePath =
      o.module.empty() ? DefaultModule() : o.module;
  const Module module = LoadModule(modulePath);
  module.create();

  CallTracker calls;
  calls.Attach(builder.get());
  int selectedPort = 0;
  // A port taken by another server is an error, not a shared port.
  builder->AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
  builder->AddListeningPort(o.listen, Credentials(o), &selectedPort);
  if (o.maxRecvBytes) builder->SetMaxReceiveMessageSize(*o.maxRecvBytes);
  if (o.maxSendBytes) builder->SetMaxSendMessageSize(*o.maxSendBytes);
  if (o.threads) {
    // One thread waits for calls; N more run them. A call that finds all N
    // busy fails with RESOURCE_EXHAUSTED (the sync server does not queue).
    builder->SetSyncServerOption(grpc::ServerBuilder::MIN_POLLERS, 1);
    builder->SetSyncServerOption(grpc::ServerBuilder::MAX_POLLERS, 1);
    grpc::ResourceQuota quota("acl-devhost");
    // One more for a worker that has replied but not yet returned.
    quota.SetMaxThreads(*o.threads + 2);
    builder->SetResourceQuota(quota);
  }
  std::unique_ptr<grpc::Server> server = builder->BuildAndStart();
  if (server == nullptr || selectedPort == 0) {
    module.destroy();
    throw StartError("cannot serve on " + o.listen +
                     " (address in use or not local, or bad TLS files?)");
  }
  grpc::HealthCheckServiceInterface* health = server->GetHealthCheckService();
  if (health != nullptr) {
    health->SetServingStatus("", true);
    health->SetServingStatus(kServiceName, true);
  }
  if (!madeToken.empty()) std::cout << "token: " << madeToken << "\n";
  std::cout << "listening on " << host << ":" << selectedPort << std::endl;

  int sig = 0;
  {
    const Trimmer trimmer(&calls, &h.largeCalls);  // not while stopping
    sig = WaitForStop(stops);
  }
  std::cerr << kProgram << ": " << strsignal(sig) << ", shutting down"
            << std::endl;
  Stopper(server.get(), &calls, &h.stopping, stops).Stop(o.grace);
  server.reset();
  module.destroy();
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
  } catch (const devhost::UsageError& e) {
    std::cerr << devhost::kProgram << ": " << e.what() << "\n\n"
              << devhost::kUsage;
    return 2;
  } catch (const std::exception& e) {
    std::cerr << devhost::kProgram << ": " << e.what() << std::endl;
    return 1;
  }
}
