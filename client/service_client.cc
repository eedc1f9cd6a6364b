#include "client/service_client.h"

#include <grpcpp/impl/client_unary_call.h>
#include <grpcpp/impl/codegen/proto_utils.h>
#include <grpcpp/impl/rpc_method.h>
#include <grpcpp/support/sync_stream.h>

#include <google/protobuf/util/json_util.h>

#include <strings.h>

#include <absl/status/status.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

namespace acl_client {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::MessageFactory;
using google::protobuf::MethodDescriptor;
using google::protobuf::ServiceDescriptor;
using grpc::internal::RpcMethod;

const char kService[] = "acl.ACLService";
const char kTokenKey[] = "token_id";
const char kReasonKey[] = "acl-devhost-reason";

namespace {

constexpr char kMethodPrefix[] = "GetJsonACL";

void PrepareContext(const CallOptions& options,
                    grpc::ClientContext* context) {
  if (!options.token.empty()) context->AddMetadata(kTokenKey, options.token);
  if (options.timeout > 0) {
    context->set_deadline(
        std::chrono::system_clock::now() +
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::duration<double>(options.timeout)));
  }
}

grpc::Status CallUnary(grpc::ChannelInterface* channel, const RpcMethod& rpc,
                       const MethodDescriptor& method, const Message& request,
                       grpc::ClientContext* context, Outcome* out) {
  std::unique_ptr<Message> reply = NewMessage(method.output_type());
  grpc::Status status = grpc::internal::BlockingUnaryCall<Message, Message>(
      channel, rpc, context, request, reply.get());
  out->results.push_back(ResultOf(*reply));
  return status;
}

grpc::Status CallStream(grpc::ChannelInterface* channel, const RpcMethod& rpc,
                        const MethodDescriptor& method,
                        const Message& request, const PieceCallback& onPiece,
                        grpc::ClientContext* context, Outcome* out) {
  std::unique_ptr<grpc::ClientReader<Message>> reader(
      grpc::internal::ClientReaderFactory<Message>::Create(channel, rpc,
                                                           context, request));
  std::unique_ptr<Message> piece = NewMessage(method.output_type());
  bool watching = static_cast<bool>(onPiece);
  while (reader->Read(piece.get())) {
    out->results.push_back(ResultOf(*piece));
    if (watching && !onPiece(out->results.back())) {
      watching = false;
      context->TryCancel();
    }
    piece->Clear();
  }
  return reader->Finish();
}

}  // namespace

// The server's reason trailer of a finished call, or "".
std::string ReasonOf(const grpc::ClientContext& context) {
  const auto& trailers = context.GetServerTrailingMetadata();
  auto it = trailers.find(kReasonKey);
  return it == trailers.end() ? ""
                              : std::string(it->second.data(),
                                            it->second.size());
}

std::string CodeName(grpc::StatusCode code) {
  // gRPC's codes are abseil's.
  const std::string name =
      absl::StatusCodeToString(static_cast<absl::StatusCode>(code));
  return name.empty() ? "UNKNOWN" : name;
}

std::shared_ptr<grpc::ChannelCredentials> Credentials(
    const std::string& caFile, std::string* error) {
  if (caFile.empty()) return grpc::InsecureChannelCredentials();
  std::ifstream file(caFile, std::ios::binary);
  if (!file) {
    *error = "cannot read CA file '" + caFile + "': " + std::strerror(errno);
    return nullptr;
  }
  grpc::SslCredentialsOptions ssl;
  ssl.pem_root_certs.assign(std::istreambuf_iterator<char>(file),
                            std::istreambuf_iterator<char>());
  return grpc::SslCredentials(ssl);
}

const ServiceDescriptor* Service() {
  return DescriptorPool::generated_pool()->FindServiceByName(kService);
}

std::vector<const MethodDescriptor*> Methods() {
  const ServiceDescriptor* service = Service();
  std::vector<const MethodDescriptor*> methods;
  for (int i = 0; i < service->method_count(); ++i) {
    methods.push_back(service->method(i));
  }
  return methods;
}

const MethodDescriptor* FindMethod(const std::string& name) {
  const std::string full = kMethodPrefix + name;
  for (const MethodDescriptor* method : Methods()) {
    if (method->name() == name || method->name() == full) return method;
  }
  for (const MethodDescriptor* method : Methods()) {
    if (strcasecmp(method->name().c_str(), name.c_str()) == 0 ||
        strcasecmp(method->name().c_str(), full.c_str()) == 0) {
      return method;
    }
  }
  return nullptr;
}

std::unique_ptr<Message> NewMessage(const Descriptor* type) {
  const Message* prototype =
      MessageFactory::generated_factory()->GetPrototype(type);
  return std::unique_ptr<Message>(prototype->New());
}

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

std::string Outcome::Joined() const {
  std::string all;
  for (const std::string& result : results) all += result;
  return all;
}

Outcome Call(grpc::ChannelInterface* channel, const MethodDescriptor& method,
             const Message& request, const CallOptions& options) {
  const std::string path =
      "/" + method.service()->full_name() + "/" + method.name();
  const bool streamed = method.server_streaming();
  const RpcMethod rpc(path.c_str(), streamed ? RpcMethod::SERVER_STREAMING
                                             : RpcMethod::NORMAL_RPC);
  grpc::ClientContext context;
  PrepareContext(options, &context);
  Outcome out;
  const grpc::Status status =
      streamed ? CallStream(channel, rpc, method, request, options.onPiece,
                            &context, &out)
               : CallUnary(channel, rpc, method, request, &context, &out);
  out.code = status.error_code();
  out.message = status.error_message();
  out.reason = ReasonOf(context);
  return out;
}

}  // namespace acl_client
