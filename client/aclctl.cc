// aclctl: a command-line client for every method of acl.ACLService.
//
// Nothing here knows a method by name: calls go through the generic client
// (client/service_client.h), which makes every message from the schema's
// descriptors. A request is read as the request message in the standard
// protobuf JSON mapping, sent as that message, and the reply's `result`
// text is printed. The session token goes as "token_id" metadata.
//
// With --targets it runs one query on many devices: a few worker threads
// (--parallel) each take the next device, call it on a channel of its own
// and hand the device's line to the main thread, which prints the lines in
// the file's order. Every other object lives for one run of the program and
// is used by one thread, or read-only (the request) by all.
//
// A unary call's trailing metadata "acl-devhost-reason" (which the
// development host adds to a rejected value's status) is printed with the
// error.
//
// Exit status: 0 on an OK status, 1 on a non-OK status (or no connection;
// with --targets: any device failed), 2 on a usage error or bad input.

#include <grpcpp/grpcpp.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <google/protobuf/util/json_util.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "acl_version.h"
#include "client/command_line.h"
#include "client/grpc_log.h"
#include "client/service_client.h"

namespace {

using acl_client::CodeName;
using acl_client::kService;
using acl_client::Outcome;
using Credentials = std::shared_ptr<grpc::ChannelCredentials>;
using google::protobuf::Message;
using google::protobuf::MethodDescriptor;
constexpr char kDefaultAddr[] = "127.0.0.1:50051";
constexpr double kDefaultTimeout = 30;

constexpr int kDefaultParallel = 8;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr char kDescription[] =
    "Calls one method of acl.ACLService and prints its answer.\n"
    "Options take their value as --option VALUE or --option=VALUE.";

constexpr char kFooter[] =
    "A JSON answer is pretty-printed. A non-OK status prints `error: CODE:\n"
    "message` to stderr, with any answer text (the streamed method's\n"
    "\"{Err:...}\") and acl-devhost's reason trailer as `reason: TEXT`, and\n"
    "exits 1; usage errors exit 2.\n"
    "\n"
    "--targets FILE: `NAME ADDRESS [TOKEN]` a line (# comments; TOKEN\n"
    "overrides --token). One JSON object a line per device, in file order:\n"
    "  {\"device\":NAME,\"code\":\"OK\",\"result\":ANSWER}\n"
    "  {\"device\":NAME,\"code\":CODE,\"message\":TEXT,\"reason\":TEXT}\n"
    "It exits 1 if any device failed, saying how many on stderr.\n"
    "\n"
    "Examples:\n"
    "  aclctl --token secret IPv4BasicRules '{\"rule\":[{\"GroupID\":2000}]}'\n"
    "  ACL_TOKEN=secret aclctl --pieces IPv4BasicRulesStream @request.json\n"
    "  aclctl --targets devices.txt --parallel 16 IPv4BasicRules";

// What a failed call's status means to the one who ran aclctl, for the
// faults a newcomer meets: the status message gRPC or the host gave holds
// `needle`; `text` says in its place what was wrong and what to do ("%a":
// the address called; "%m": the message itself). gRPC's own message is
// shown as well with --verbose.
enum class Channel { kAny, kPlain, kTls };
struct Explanation {
  grpc::StatusCode code;
  Channel channel;
  const char* needle;
  const char* text;
};
constexpr Explanation kExplanations[] = {
    {grpc::StatusCode::UNAVAILABLE, Channel::kAny, "Connection refused",
     "nothing listens at %a: start the host there or check --addr"},
    {grpc::StatusCode::UNAVAILABLE, Channel::kPlain, "Socket closed",
     "%a closed the connection before answering: if it serves TLS, pass "
     "--tls-ca with the CA certificate that signed its certificate"},
    {grpc::StatusCode::UNAVAILABLE, Channel::kTls, "wrong version number",
     "%a does not answer TLS: leave out --tls-ca for a plaintext server"},
    {grpc::StatusCode::UNAVAILABLE, Channel::kTls, "certificate verify failed",
     "the certificate of %a is not signed by a CA of --tls-ca: pass the CA "
     "certificate that signed it"},
    {grpc::StatusCode::UNAVAILABLE, Channel::kTls, "Peer name",
     "the certificate of %a does not name that host: connect by a name or "
     "address the certificate holds"},
    {grpc::StatusCode::PERMISSION_DENIED, Channel::kAny, "no token ID",
     "%m: pass the host's session token with --token TEXT or $ACL_TOKEN"},
    {grpc::StatusCode::PERMISSION_DENIED, Channel::kAny, "invalid token ID",
     "%m: the host does not accept this token; pass the one it printed at "
     "start or was given with --token"},
};

// The message of `out` as shown: its explanation, if it has one.
std::string Explain(const Outcome& out, const std::string& addr, bool tls,
                    bool verbose) {
  for (const Explanation& e : kExplanations) {
    if (e.code != out.code || out.message.find(e.needle) == std::string::npos ||
        (e.channel == Channel::kPlain && tls) ||
        (e.channel == Channel::kTls && !tls)) {
      continue;
    }
    std::string text;
    for (const char* c = e.text; *c != '\0'; ++c) {
      if (c[0] == '%' && c[1] == 'a') {
        text += addr;
        ++c;
      } else if (c[0] == '%' && c[1] == 'm') {
        text += out.message;
        ++c;
      } else {
        text += *c;
      }
    }
    if (verbose && text.find(out.message) == std::string::npos) {
      text += " (" + out.message + ")";
    }
    return text;
  }
  return out.message;
}

struct Options {
  std::string addr = kDefaultAddr;
  std::string token;  // "": none
  std::string tlsCA;
  double timeout = kDefaultTimeout;
  bool raw = false;
  bool pieces = false;
  std::string targetsFile;  // "": one device, at addr
  int parallel = kDefaultParallel;
  bool verbose = false;
  std::string method;   // METHOD, or "list"
  std::string request;  // REQUEST: inline, @FILE or -
  bool haveRequest = false;
};

// Prints `message` and a hint to stderr; returns the usage exit status.
int UsageError(const std::string& message) {
  std::cerr << "aclctl: " << message << "\nTry 'aclctl --help'.\n";
  return kExitUsage;
}

// Fills `options` from argv. Returns false when the program is done (after
// --help, --version or a usage error), with its exit status in `*status`.
bool ParseArgs(int argc, char** argv, Options* options, int* status) {
  Options& o = *options;
  CLI::App app(kDescription, "aclctl");
  acl_client::StyleCommandLine(&app, kFooter, 24, acl_version::kVersion);
  app.add_option("METHOD", o.method,
                 "the method, with or without its GetJsonACL prefix;\n"
                 "exact matches first. `aclctl list` lists them.")
      ->required()
      ->option_text(" ");
  CLI::Option* request =
      app.add_option("REQUEST", o.request,
                     "the request as protobuf JSON: inline, @FILE or -\n"
                     "(stdin); absent: empty (the whole table)")
          ->option_text(" ");
  CLI::Option* addr =
      app.add_option("--addr", o.addr,
                     "server address (default 127.0.0.1:50051)")
          ->option_text("HOST:PORT")
          ->check([](const std::string& v) {
            return v.empty() ? "needs HOST:PORT" : "";
          });
  app.add_option("--token", o.token,
                 "session token, sent as \"token_id\" metadata\n"
                 "(default: $ACL_TOKEN; none when both are unset)")
      ->option_text("TEXT")
      ->envname("ACL_TOKEN");
  app.add_option("--tls-ca", o.tlsCA,
                 "use TLS, trusting the CA certificates in FILE\n"
                 "(default: an insecure channel)")
      ->option_text("FILE")
      ->check(CLI::ExistingFile);
  app.add_option("--timeout", o.timeout,
                 "deadline of the call, or of each device's with\n"
                 "--targets (default 30; 0: none)")
      ->option_text("SECONDS")
      ->check(CLI::Range(0.0, 1e7));
  app.add_flag("--raw", o.raw, "print the answer as received, not re-indented");
  CLI::Option* pieces =
      app.add_flag("--pieces", o.pieces,
                   "streamed method: print each piece on its own line\n"
                   "as it arrives, instead of the joined answer")
          ->option_text(" ");
  app.add_option("--targets", o.targetsFile, "ask every device FILE lists")
      ->option_text("FILE")
      ->check(CLI::ExistingFile)
      ->excludes(addr)
      ->excludes(pieces);
  app.add_option("--parallel", o.parallel,
                 "with --targets: devices asked at once (default 8)")
      ->option_text("N")
      ->check(CLI::Range(1, 1024));
  app.add_flag("--verbose", o.verbose,
               "also print gRPC's own log lines and messages");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    *status = app.exit(e) == 0 ? kExitOk : kExitUsage;
    return false;
  }
  o.haveRequest = request->count() > 0;
  return true;
}

// One device of --targets.
struct Target {
  std::string name;
  std::string addr;
  std::string token;  // "": none
};

// Reads the --targets file: `NAME ADDRESS [TOKEN]` a line, blank lines and
// lines starting with # skipped; a device without TOKEN gets `token`.
// Returns false with `*error` naming the first bad line, if any.
bool ReadTargets(const std::string& path, const std::string& token,
                 std::vector<Target>* targets, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read targets file '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    std::istringstream fields(line);
    std::vector<std::string> words{std::istream_iterator<std::string>(fields),
                                   std::istream_iterator<std::string>()};
    if (words.empty() || words[0][0] == '#') continue;
    if (words.size() < 2 || words.size() > 3) {
      // Not the line itself: it may hold a token.
      *error = path + ":" + std::to_string(number) +
               ": expected NAME ADDRESS [TOKEN], found " +
               std::to_string(words.size()) + " fields";
      return false;
    }
    targets->push_back({words[0], words[1],
                        words.size() == 3 ? words[2] : token});
  }
  if (file.bad() || targets->empty()) {
    *error = "no devices in " + path;
    return false;
  }
  return true;
}

int ListMethods() {
  size_t width = 0;
  for (const MethodDescriptor* method : acl_client::Methods()) {
    width = std::max(width, method->name().size());
  }
  std::printf("%-*s  %s\n", static_cast<int>(width), "METHOD", "REQUEST");
  for (const MethodDescriptor* method : acl_client::Methods()) {
    std::printf("%-*s  %s%s\n", static_cast<int>(width),
                method->name().c_str(),
                method->input_type()->full_name().c_str(),
                method->server_streaming() ? "  (streamed)" : "");
  }
  return kExitOk;
}

// Reads the REQUEST argument's text: inline, "@FILE" or "-" (stdin).
bool ReadRequestText(const std::string& arg, std::string* text,
                     std::string* error) {
  if (arg == "-") {
    text->assign(std::istreambuf_iterator<char>(std::cin),
                 std::istreambuf_iterator<char>());
    return true;
  }
  if (!arg.empty() && arg[0] == '@') {
    const std::string path = arg.substr(1);
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      *error = "cannot read request file '" + path +
               "': " + std::strerror(errno);
      return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    *text = content.str();
    return true;
  }
  *text = arg;
  return true;
}

// Parses `text` (JSON, may be empty or blank) into `request`.
bool ParseRequest(const std::string& text, Message* request,
                  std::string* error) {
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) return true;
  const auto status =
      google::protobuf::util::JsonStringToMessage(text, request);
  if (!status.ok()) {
    *error = "bad request for " + request->GetDescriptor()->full_name() +
             ": " + std::string(status.message());
    return false;
  }
  return true;
}

// The answer as printed: re-indented JSON, or the text as it is.
std::string Render(const std::string& text, bool raw) {
  if (raw) return text;
  nlohmann::ordered_json json =
      nlohmann::ordered_json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (json.is_discarded()) return text;
  return json.dump(2, ' ', false,
                   nlohmann::ordered_json::error_handler_t::replace);
}

// One query: the method and its request, read by every call.
struct Query {
  const MethodDescriptor* method = nullptr;
  std::unique_ptr<Message> request;
};

int Finish(const Outcome& out, const Options& options) {
  const std::string answer = out.Joined();
  if (!out.ok()) {
    const std::string message =
        Explain(out, options.addr, !options.tlsCA.empty(), options.verbose);
    std::fprintf(stderr, "error: %s: %s\n", CodeName(out.code).c_str(),
                 message.c_str());
    if (!answer.empty()) std::fprintf(stderr, "%s\n", answer.c_str());
    if (!out.reason.empty()) {
      std::fprintf(stderr, "reason: %s\n", out.reason.c_str());
    }
    return kExitFailed;
  }
  std::string text = Render(answer, options.raw);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stdout);
  return kExitOk;
}

int RunOne(const Options& options, const Query& query,
           const Credentials& credentials) {
  const std::shared_ptr<grpc::Channel> channel =
      grpc::CreateChannel(options.addr, credentials);
  acl_client::PieceCallback print;
  if (options.pieces) {
    print = [](const std::string& text) {
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
      return true;
    };
  }
  const Outcome out = acl_client::Call(channel, *query.method,
                                       *query.request,
                                       {options.token, options.timeout, print});
  if (print && out.ok() && query.method->server_streaming()) {
    return kExitOk;
  }
  return Finish(out, options);
}

// A device's line of --targets output: one JSON object.
std::string DeviceLine(const std::string& name, const Outcome& out,
                       const std::string& message) {
  using Json = nlohmann::ordered_json;
  const std::string answer = out.Joined();
  Json line = {{"device", name}, {"code", CodeName(out.code)}};
  if (out.ok()) {
    Json result = Json::parse(answer, nullptr, /*allow_exceptions=*/false);
    line["result"] = result.is_discarded() ? Json(answer) : result;
  } else {
    line["message"] = message;
    if (!answer.empty()) line["answer"] = answer;
    if (!out.reason.empty()) line["reason"] = out.reason;
  }
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

// Runs `query` on every target, --parallel at a time, and prints each
// device's line in the targets' order as soon as it and those before it
// are done.
int RunMany(const Options& options, const Query& query,
            const std::vector<Target>& targets,
            const Credentials& credentials) {
  std::mutex mu;
  std::condition_variable done;
  std::vector<std::optional<std::string>> lines(targets.size());  // by mu
  size_t failed = 0;                                             // by mu
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i; (i = next++) < targets.size();) {
      const Target& t = targets[i];
      const Outcome out = acl_client::Call(
          grpc::CreateChannel(t.addr, credentials), *query.method,
          *query.request, {t.token, options.timeout});
      std::string line = DeviceLine(
          t.name, out,
          Explain(out, t.addr, !options.tlsCA.empty(), options.verbose));
      std::lock_guard<std::mutex> lock(mu);
      lines[i] = std::move(line);
      failed += out.ok() ? 0 : 1;
      done.notify_one();
    }
  };
  std::vector<std::thread> workers;
  const size_t n = std::min<size_t>(options.parallel, targets.size());
  for (size_t k = 0; k < n; ++k) workers.emplace_back(work);
  for (auto& line : lines) {
    std::unique_lock<std::mutex> lock(mu);
    done.wait(lock, [&] { return line.has_value(); });
    std::fwrite(line->data(), 1, line->size(), stdout);
    std::fflush(stdout);
    line.reset();
  }
  for (std::thread& worker : workers) worker.join();
  if (failed == 0) return kExitOk;
  std::fprintf(stderr, "aclctl: %zu of %zu devices failed\n", failed,
               targets.size());
  return kExitFailed;
}

int Run(const Options& options) {
  if (acl_client::Service() == nullptr) {
    std::cerr << "aclctl: the schema of " << kService << " is not built in\n";
    return kExitUsage;
  }
  if (options.method == "list") {
    if (options.haveRequest) return UsageError("list takes no arguments");
    return ListMethods();
  }
  Query query;
  query.method = acl_client::FindMethod(options.method);
  if (query.method == nullptr) {
    return UsageError("no method '" + options.method + "' (see 'aclctl list')");
  }
  query.request = acl_client::NewMessage(query.method->input_type());
  std::string text, error;
  std::vector<Target> targets;
  if ((options.haveRequest &&
       (!ReadRequestText(options.request, &text, &error) ||
        !ParseRequest(text, query.request.get(), &error))) ||
      (!options.targetsFile.empty() &&
       !ReadTargets(options.targetsFile, options.token, &targets, &error))) {
    std::cerr << "aclctl: " << error << "\n";
    return kExitUsage;
  }
  const Credentials credentials =
      acl_client::Credentials(options.tlsCA, &error);
  if (credentials == nullptr) {
    std::cerr << "aclctl: " << error << "\n";
    return kExitUsage;
  }
  return targets.empty() ? RunOne(options, query, credentials)
                         : RunMany(options, query, targets, credentials);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int status = kExitOk;
  if (!ParseArgs(argc, argv, &options, &status)) return status;
  acl_client::QuietGrpcLog(options.verbose);
  return Run(options);
}
