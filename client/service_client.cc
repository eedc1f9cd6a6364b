#include "client/service_client.h"

#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/support/proto_buffer_reader.h>

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

const char kService[] = "acl.ACLService";
const char kTokenKey[] = "token_id";
const char kReasonKey[] = "acl-devhost-reason";

namespace {

constexpr char kMethodPrefix[] = "GetJsonACL";
constexpr char kPemCertificate[] = "-----BEGIN CERTIFICATE-----";
constexpr char kUnparsable[] = "the server's reply is not a reply message";

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

// The request's bytes, as gRPC sends them.
grpc::ByteBuffer BytesOf(const Message& request) {
  grpc::Slice slice(request.SerializeAsString());
  return grpc::ByteBuffer(&slice, 1);
}

// Parses `bytes` into `message`; false when they are no such message.
bool Parse(grpc::ByteBuffer* bytes, Message* message) {
  grpc::ProtoBufferReader reader(bytes);
  return reader.status().ok() && message->ParseFromZeroCopyStream(&reader);
}

// One call through a generic stub and its own completion queue, on which
// one operation at a time is waited for: a blocking call made of
// asynchronous steps. Owns the queue, which it drains when destroyed (after
// the call's reader). Used by the one thread that makes the call.
class BlockingCall {
 public:
  explicit BlockingCall(std::shared_ptr<grpc::ChannelInterface> channel)
      : stub_(std::move(channel)) {}
  ~BlockingCall() {
    queue_.Shutdown();
    void* tag;
    bool ok;
    while (queue_.Next(&tag, &ok)) {
    }
  }

  grpc::GenericStub* stub() { return &stub_; }
  grpc::CompletionQueue* queue() { return &queue_; }

  // Waits for the operation started with tag(): false when it failed.
  bool Wait() {
    void* tag;
    bool ok = false;
    return queue_.Next(&tag, &ok) && ok;
  }
  void* tag() { return this; }

 private:
  grpc::GenericStub stub_;
  grpc::CompletionQueue queue_;
};

grpc::Status CallUnary(BlockingCall* call, const std::string& path,
                       const MethodDescriptor& method, const Message& request,
                       grpc::ClientContext* context, Outcome* out) {
  std::unique_ptr<grpc::GenericClientAsyncResponseReader> reader =
      call->stub()->PrepareUnaryCall(context, path, BytesOf(request),
                                     call->queue());
  reader->StartCall();
  grpc::ByteBuffer bytes;
  grpc::Status status;
  reader->Finish(&bytes, &status, call->tag());
  call->Wait();
  std::unique_ptr<Message> reply = NewMessage(method.output_type());
  if (status.ok() && !Parse(&bytes, reply.get())) {
    status = grpc::Status(grpc::StatusCode::INTERNAL, kUnparsable);
  }
  out->results.push_back(ResultOf(*reply));
  return status;
}

// The server streams its replies; the client's side is one request, after
// which it closes.
grpc::Status CallStream(BlockingCall* call, const std::string& path,
                        const MethodDescriptor& method,
                        const Message& request, const PieceCallback& onPiece,
                        grpc::ClientContext* context, Outcome* out) {
  std::unique_ptr<grpc::GenericClientAsyncReaderWriter> stream =
      call->stub()->PrepareCall(context, path, call->queue());
  stream->StartCall(call->tag());
  if (call->Wait()) {
    stream->WriteLast(BytesOf(request), grpc::WriteOptions(), call->tag());
    call->Wait();
  }
  // A failed start or write ends the call: the read fails at once and the
  // status tells why.
  std::unique_ptr<Message> piece = NewMessage(method.output_type());
  bool watching = static_cast<bool>(onPiece);
  bool parsed = true;
  grpc::ByteBuffer bytes;
  for (;;) {
    stream->Read(&bytes, call->tag());
    if (!call->Wait()) break;
    piece->Clear();
    if (!Parse(&bytes, piece.get())) {
      parsed = false;
      context->TryCancel();
      continue;
    }
    out->results.push_back(ResultOf(*piece));
    if (watching && !onPiece(out->results.back())) {
      watching = false;
      context->TryCancel();
    }
  }
  grpc::Status status;
  stream->Finish(&status, call->tag());
  call->Wait();
  if (!parsed) status = grpc::Status(grpc::StatusCode::INTERNAL, kUnparsable);
  return status;
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
  // gRPC would take any file, and only refuse to connect.
  if (ssl.pem_root_certs.find(kPemCertificate) == std::string::npos) {
    *error = "CA file '" + caFile + "' holds no PEM certificate: give the " +
             "PEM file of the CA that signed the server's certificate";
    return nullptr;
  }
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

Outcome Call(const std::shared_ptr<grpc::ChannelInterface>& channel,
             const MethodDescriptor& method, const Message& request,
             const CallOptions& options) {
  const std::string path =
      "/" + method.service()->full_name() + "/" + method.name();
  grpc::ClientContext context;
  PrepareContext(options, &context);
  Outcome out;
  grpc::Status status;
  {
    BlockingCall call(channel);
    status = method.server_streaming()
                 ? CallStream(&call, path, method, request, options.onPiece,
                              &context, &out)
                 : CallUnary(&call, path, method, request, &context, &out);
  }
  out.code = status.error_code();
  out.message = status.error_message();
  out.reason = ReasonOf(context);
  return out;
}

}  // namespace acl_client
