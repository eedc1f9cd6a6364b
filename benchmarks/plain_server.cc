// plain_server: acl.ACLService served by bare gRPC (PlainService), with no
// module and no host behind it; the yardstick of benchmarks/load.sh.
//
//   plain_server --answer-file FILE [--listen HOST:PORT] [--split-bytes N]
//                [--bare yes]
//
// Every unary call is answered with the file's text; the streamed method
// sends it in pieces of at most N bytes (default 65536). The server is built
// as acl-devhost builds its own: synchronous, the same port options, server
// reflection and the default health service. The last matters: the health
// service runs on gRPC's callback API, which changes how the synchronous
// server polls (slower with one call in flight, faster with many), so a
// fair yardstick has it too. --bare yes leaves both out.
//
// Prints "listening on HOST:PORT" once serving; stops on SIGINT or SIGTERM.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include <grpcpp/ext/proto_server_reflection_plugin.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/health_check_service_interface.h>

#include "benchmarks/plain_service.h"

namespace {

constexpr char kUsage[] =
    "usage: plain_server --answer-file FILE [--listen HOST:PORT] "
    "[--split-bytes N] [--bare yes]\n";
constexpr char kServiceName[] = "acl.ACLService";
constexpr auto kShutdownGrace = std::chrono::seconds(2);

struct Options {
  std::string listen = "127.0.0.1:0";
  std::string answerFile;
  long splitBytes = 65536;
  bool bare = false;
};

bool ParseFlags(int argc, char** argv, Options* o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--listen") {
      o->listen = value;
    } else if (flag == "--answer-file") {
      o->answerFile = value;
    } else if (flag == "--bare") {
      o->bare = std::string(value) == "yes";
    } else if (flag == "--split-bytes") {
      o->splitBytes = std::strtol(value, nullptr, 10);
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && !o->answerFile.empty() && o->splitBytes > 0;
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  return static_cast<bool>(in);
}

}  // namespace

int main(int argc, char** argv) {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);

  Options o;
  if (!ParseFlags(argc, argv, &o)) {
    std::cerr << kUsage;
    return 2;
  }
  std::string answer;
  if (!ReadFile(o.answerFile, &answer)) {
    std::cerr << "plain_server: cannot read " << o.answerFile << "\n";
    return 1;
  }
  acl_bench::PlainService service(std::move(answer),
                                  static_cast<size_t>(o.splitBytes));
  if (!o.bare) {
    grpc::reflection::InitProtoReflectionServerBuilderPlugin();
    grpc::EnableDefaultHealthCheckService(true);
  }
  grpc::ServerBuilder builder;
  int port = 0;
  builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
  builder.AddListeningPort(o.listen, grpc::InsecureServerCredentials(), &port);
  builder.RegisterService(&service);
  std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
  if (server == nullptr || port == 0) {
    std::cerr << "plain_server: cannot serve on " << o.listen << "\n";
    return 1;
  }
  grpc::HealthCheckServiceInterface* health = server->GetHealthCheckService();
  if (health != nullptr) {
    health->SetServingStatus("", true);
    health->SetServingStatus(kServiceName, true);
  }
  const std::string host = o.listen.substr(0, o.listen.rfind(':'));
  std::cout << "listening on " << host << ":" << port << std::endl;

  int sig = 0;
  while (sigwait(&stops, &sig) != 0) {
  }
  server->Shutdown(std::chrono::system_clock::now() + kShutdownGrace);
  server->Wait();
  return 0;
}
