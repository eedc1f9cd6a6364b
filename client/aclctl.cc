// aclctl: a command-line client for every method of acl.ACLService.
//
// Nothing here knows a method by name: the method table, the request types
// and the reply type all come from the schema's descriptors linked into this
// program (DescriptorPool::generated_pool()). A request is read as the
// request message in the standard protobuf JSON mapping, sent as that
// message, and the reply's `result` text is printed. Unary methods go
// through BlockingUnaryCall, the server-streaming method through a
// ClientReader; both carry the session token as "token_id" metadata.
//
// Single-threaded; every object below lives for one run of the program.
//
// A unary call's trailing metadata "acl-devhost-reason" (which the
// development host adds to a rejected value's status) is printed with the
// error.
//
// Exit status: 0 on an OK status, 1 on a non-OK status (or no connection),
// 2 on a usage error or bad input.

#include <grpcpp/grpcpp.h>
#include <grpcpp/impl/client_unary_call.h>
#include <grpcpp/impl/codegen/proto_utils.h>
#include <grpcpp/impl/rpc_method.h>
#include <grpcpp/support/sync_stream.h>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/message.h>
#include <google/protobuf/util/json_util.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "acl_version.h"

namespace {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::MessageFactory;
using google::protobuf::MethodDescriptor;
using google::protobuf::ServiceDescriptor;

constexpr char kService[] = "acl.ACLService";
constexpr char kMethodPrefix[] = "GetJsonACL";
constexpr char kTokenKey[] = "token_id";
constexpr char kReasonKey[] = "acl-devhost-reason";
constexpr char kDefaultAddr[] = "127.0.0.1:50051";
constexpr double kDefaultTimeout = 30;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: aclctl [OPTIONS] METHOD [REQUEST]\n"
    "       aclctl list\n"
    "\n"
    "Calls one method of acl.ACLService and prints its answer.\n"
    "\n"
    "  METHOD   the method's name, with or without its GetJsonACL prefix:\n"
    "           IPv4BasicRules, GetJsonACLIPv4BasicRules and\n"
    "           IPv4BasicRulesStream all work; an exact match wins over a\n"
    "           case-insensitive one. `aclctl list` shows them all.\n"
    "  REQUEST  the request message as JSON (protobuf JSON mapping, the\n"
    "           schema's field names): inline text, @FILE, or - for stdin.\n"
    "           Absent: an empty request (every table field asked for).\n"
    "\n"
    "Options:\n"
    "  --addr HOST:PORT    server address (default 127.0.0.1:50051)\n"
    "  --token TEXT        session token, sent as \"token_id\" metadata\n"
    "                      (default: $ACL_TOKEN; none when both are unset)\n"
    "  --tls-ca FILE       use TLS, trusting the CA certificates in FILE\n"
    "                      (default: an insecure channel)\n"
    "  --timeout SECONDS   deadline of the call (default 30; 0: none)\n"
    "  --raw               print the answer as received, not re-indented\n"
    "  --pieces            streamed method: print each piece on its own line\n"
    "                      as it arrives, instead of the joined answer\n"
    "  -h, --help          show this text\n"
    "  --version           show the version\n"
    "\n"
    "The answer is pretty-printed when it is JSON. A non-OK status prints\n"
    "`error: CODE: message` (and any answer text sent with it) to stderr and\n"
    "exits 1; usage errors exit 2. The host's reason for a refused request\n"
    "value comes as the streamed method's \"{Err:...}\" message; a unary\n"
    "call carries no reply with its error, but acl-devhost sends the reason\n"
    "as trailing metadata, printed as `reason: TEXT`.\n"
    "\n"
    "Examples:\n"
    "  aclctl --token secret IPv4BasicRules\n"
    "  aclctl --token secret IPv4BasicRules \\\n"
    "      '{\"rule\":[{\"GroupID\":2000,\"RuleID\":5}]}'\n"
    "  ACL_TOKEN=secret aclctl --pieces IPv4BasicRulesStream @request.json\n";

struct Options {
  std::string addr = kDefaultAddr;
  std::string token;
  bool haveToken = false;
  std::string tlsCA;
  double timeout = kDefaultTimeout;
  bool raw = false;
  bool pieces = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> args;  // METHOD [REQUEST], or "list"
};

// Prints `message` and a hint to stderr; returns the usage exit status.
int UsageError(const std::string& message) {
  std::cerr << "aclctl: " << message << "\n"
            << "Try 'aclctl --help'.\n";
  return kExitUsage;
}

bool ParseSeconds(const std::string& text, double* seconds) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !(value >= 0) || value > 1e7) return false;
  *seconds = value;
  return true;
}

// Fills `options` from argv. Returns kExitOk, or the exit status after a
// usage message.
int ParseArgs(int argc, char** argv, Options* options) {
  if (const char* token = std::getenv("ACL_TOKEN")) {
    options->token = token;
    options->haveToken = true;
  }
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (!optionsDone && arg == "-h") arg = "--help";
    if (optionsDone || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      options->args.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsDone = true;
      continue;
    }
    std::string value;
    bool inlineValue = false;
    const size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
      inlineValue = true;
    }
    if (arg == "--raw" || arg == "--pieces" || arg == "--help" ||
        arg == "--version") {
      if (inlineValue) return UsageError(arg + " takes no value");
      if (arg == "--raw") options->raw = true;
      if (arg == "--pieces") options->pieces = true;
      if (arg == "--help") options->help = true;
      if (arg == "--version") options->version = true;
      continue;
    }
    if (arg != "--addr" && arg != "--token" && arg != "--tls-ca" &&
        arg != "--timeout") {
      return UsageError("unknown option " + arg);
    }
    if (!inlineValue) {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      value = argv[++i];
    }
    if (arg == "--addr") {
      if (value.empty()) return UsageError("--addr needs HOST:PORT");
      options->addr = value;
    } else if (arg == "--token") {
      options->token = value;
      options->haveToken = true;
    } else if (arg == "--tls-ca") {
      options->tlsCA = value;
    } else if (!ParseSeconds(value, &options->timeout)) {
      return UsageError("--timeout needs a number of seconds, not '" +
                        value + "'");
    }
  }
  return kExitOk;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

const ServiceDescriptor* Service() {
  return DescriptorPool::generated_pool()->FindServiceByName(kService);
}

// The method `name` stands for: its full name or the name without the
// GetJsonACL prefix; exact matches first, then case-insensitive ones.
const MethodDescriptor* FindMethod(const std::string& name) {
  const ServiceDescriptor* service = Service();
  const std::string full = kMethodPrefix + name;
  for (int i = 0; i < service->method_count(); ++i) {
    const MethodDescriptor* method = service->method(i);
    if (method->name() == name || method->name() == full) return method;
  }
  for (int i = 0; i < service->method_count(); ++i) {
    const MethodDescriptor* method = service->method(i);
    if (EqualsIgnoreCase(method->name(), name) ||
        EqualsIgnoreCase(method->name(), full)) {
      return method;
    }
  }
  return nullptr;
}

int ListMethods() {
  const ServiceDescriptor* service = Service();
  size_t width = 0;
  for (int i = 0; i < service->method_count(); ++i) {
    width = std::max(width, service->method(i)->name().size());
  }
  std::printf("%-*s  %s\n", static_cast<int>(width), "METHOD", "REQUEST");
  for (int i = 0; i < service->method_count(); ++i) {
    const MethodDescriptor* method = service->method(i);
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

std::unique_ptr<Message> NewMessage(const Descriptor* type) {
  const Message* prototype =
      MessageFactory::generated_factory()->GetPrototype(type);
  return std::unique_ptr<Message>(prototype->New());
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

bool ReadFile(const std::string& path, std::string* content) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream text;
  text << file.rdbuf();
  *content = text.str();
  return true;
}

// REQUIRES: options.tlsCA is empty or a readable file (checked by caller).
std::shared_ptr<grpc::Channel> MakeChannel(const Options& options,
                                           const std::string& caPem) {
  std::shared_ptr<grpc::ChannelCredentials> credentials;
  if (options.tlsCA.empty()) {
    credentials = grpc::InsecureChannelCredentials();
  } else {
    grpc::SslCredentialsOptions ssl;
    ssl.pem_root_certs = caPem;
    credentials = grpc::SslCredentials(ssl);
  }
  return grpc::CreateChannel(options.addr, credentials);
}

void PrepareContext(const Options& options, grpc::ClientContext* context) {
  if (options.haveToken && !options.token.empty()) {
    context->AddMetadata(kTokenKey, options.token);
  }
  if (options.timeout > 0) {
    context->set_deadline(
        std::chrono::system_clock::now() +
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(options.timeout)));
  }
}

// The reply's `result` text; a reply type without one prints as JSON.
std::string ResultOf(const Message& reply) {
  const FieldDescriptor* field =
      reply.GetDescriptor()->FindFieldByName("result");
  if (field != nullptr && field->type() == FieldDescriptor::TYPE_STRING &&
      !field->is_repeated()) {
    return reply.GetReflection()->GetString(reply, field);
  }
  std::string json;
  (void)google::protobuf::util::MessageToJsonString(reply, &json);
  return json;
}

const char* CodeName(grpc::StatusCode code) {
  static const char* const kNames[] = {
      "OK",
      "CANCELLED",
      "UNKNOWN",
      "INVALID_ARGUMENT",
      "DEADLINE_EXCEEDED",
      "NOT_FOUND",
      "ALREADY_EXISTS",
      "PERMISSION_DENIED",
      "RESOURCE_EXHAUSTED",
      "FAILED_PRECONDITION",
      "ABORTED",
      "OUT_OF_RANGE",
      "UNIMPLEMENTED",
      "INTERNAL",
      "UNAVAILABLE",
      "DATA_LOSS",
      "UNAUTHENTICATED",
  };
  const int index = static_cast<int>(code);
  if (index < 0 || index >= static_cast<int>(std::size(kNames))) {
    return "UNKNOWN";
  }
  return kNames[index];
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

// The server's reason trailer of a finished call, or "".
std::string ReasonOf(const grpc::ClientContext& context) {
  const auto& trailers = context.GetServerTrailingMetadata();
  auto it = trailers.find(kReasonKey);
  return it == trailers.end() ? "" : std::string(it->second.data(),
                                                 it->second.size());
}

int Finish(const grpc::Status& status, const std::string& answer,
           const std::string& reason, const Options& options) {
  if (!status.ok()) {
    std::fprintf(stderr, "error: %s: %s\n", CodeName(status.error_code()),
                 status.error_message().c_str());
    if (!answer.empty()) std::fprintf(stderr, "%s\n", answer.c_str());
    if (!reason.empty()) std::fprintf(stderr, "reason: %s\n", reason.c_str());
    return kExitFailed;
  }
  std::string out = Render(answer, options.raw);
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kExitOk;
}

int CallUnary(grpc::Channel* channel, const MethodDescriptor* method,
              const std::string& path, const Message& request,
              const Options& options) {
  const grpc::internal::RpcMethod rpc(path.c_str(),
                                      grpc::internal::RpcMethod::NORMAL_RPC);
  grpc::ClientContext context;
  PrepareContext(options, &context);
  std::unique_ptr<Message> reply = NewMessage(method->output_type());
  const grpc::Status status =
      grpc::internal::BlockingUnaryCall<Message, Message>(
          channel, rpc, &context, request, reply.get());
  return Finish(status, ResultOf(*reply), ReasonOf(context), options);
}

int CallStream(grpc::Channel* channel, const MethodDescriptor* method,
               const std::string& path, const Message& request,
               const Options& options) {
  const grpc::internal::RpcMethod rpc(
      path.c_str(), grpc::internal::RpcMethod::SERVER_STREAMING);
  grpc::ClientContext context;
  PrepareContext(options, &context);
  std::unique_ptr<grpc::ClientReader<Message>> reader(
      grpc::internal::ClientReaderFactory<Message>::Create(
          channel, rpc, &context, request));
  std::unique_ptr<Message> piece = NewMessage(method->output_type());
  std::string joined;
  while (reader->Read(piece.get())) {
    const std::string text = ResultOf(*piece);
    if (options.pieces) {
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    }
    joined += text;
    piece->Clear();
  }
  const grpc::Status status = reader->Finish();
  if (options.pieces && status.ok()) return kExitOk;
  return Finish(status, joined, ReasonOf(context), options);
}

int Run(const Options& options) {
  if (options.args.empty()) return UsageError("no METHOD given");
  if (Service() == nullptr) {
    std::cerr << "aclctl: the schema of " << kService << " is not built in\n";
    return kExitUsage;
  }
  if (options.args[0] == "list") {
    if (options.args.size() > 1) return UsageError("list takes no arguments");
    return ListMethods();
  }
  if (options.args.size() > 2) {
    return UsageError("unexpected argument '" + options.args[2] + "'");
  }
  const MethodDescriptor* method = FindMethod(options.args[0]);
  if (method == nullptr) {
    return UsageError("no method '" + options.args[0] +
                      "' (see 'aclctl list')");
  }
  std::unique_ptr<Message> request = NewMessage(method->input_type());
  std::string text, error;
  if (options.args.size() == 2 &&
      (!ReadRequestText(options.args[1], &text, &error) ||
       !ParseRequest(text, request.get(), &error))) {
    std::cerr << "aclctl: " << error << "\n";
    return kExitUsage;
  }
  std::string caPem;
  if (!options.tlsCA.empty() && !ReadFile(options.tlsCA, &caPem)) {
    std::cerr << "aclctl: cannot read CA file '" << options.tlsCA
              << "': " << std::strerror(errno) << "\n";
    return kExitUsage;
  }
  const std::shared_ptr<grpc::Channel> channel = MakeChannel(options, caPem);
  const std::string path =
      "/" + method->service()->full_name() + "/" + method->name();
  if (method->server_streaming()) {
    return CallStream(channel.get(), method, path, *request, options);
  }
  return CallUnary(channel.get(), method, path, *request, options);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  const int parsed = ParseArgs(argc, argv, &options);
  if (parsed != kExitOk) return parsed;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (options.version) {
    std::printf("aclctl %s\n", acl_version::kVersion);
    return kExitOk;
  }
  return Run(options);
}
