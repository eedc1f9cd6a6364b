// A host of the installed module in a few lines: the toy host's operations,
// the module loaded from where the package put it, one call served in
// process. Prints the answer; exits 0 when it is the toy adapter's answer
// for the table asked.

#include <dlfcn.h>

#include <cstdio>
#include <memory>
#include <string>

#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/support/proto_buffer_reader.h>

#include "grpc_service.pb.h"
#include "toy_host.h"

namespace {

constexpr char kMethod[] = "/acl.ACLService/GetJsonACLBase";
constexpr char kExpected[] = "\"table\":\"Base\"";

// One GetJsonACLBase call with an empty request (zero bytes on the wire),
// through gRPC's generic stub: the process has no stub of the service.
grpc::Status CallBase(grpc::Server* server, grpc_service::GetJsonReply* reply) {
  grpc::GenericStub stub(server->InProcessChannel(grpc::ChannelArguments()));
  grpc::ClientContext context;
  context.AddMetadata("token_id", toyhost::Facts().liveToken);
  grpc::Slice nothing("");
  grpc::CompletionQueue queue;
  auto call = stub.PrepareUnaryCall(&context, kMethod,
                                    grpc::ByteBuffer(&nothing, 1), &queue);
  call->StartCall();
  grpc::ByteBuffer bytes;
  grpc::Status status;
  call->Finish(&bytes, &status, nullptr);
  void* tag;
  bool ok;
  queue.Next(&tag, &ok);
  queue.Shutdown();
  while (queue.Next(&tag, &ok)) {
  }
  grpc::ProtoBufferReader reader(&bytes);
  if (status.ok() && !reply->ParseFromZeroCopyStream(&reader)) {
    return grpc::Status(grpc::StatusCode::INTERNAL, "unparsable reply");
  }
  return status;
}

}  // namespace

int main() {
  grpc::ServerBuilder builder;
  toyhost::SetBuilder(&builder);
  // Kept loaded to the end of the process, as hosts keep their modules.
  void* module = dlopen(ACL_MODULE, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load the module: %s\n", dlerror());
    return 1;
  }
  auto create = reinterpret_cast<int (*)()>(dlsym(module, "ServiceCreate"));
  auto destroy = reinterpret_cast<void (*)()>(dlsym(module, "ServiceDestroy"));
  if (create == nullptr || destroy == nullptr) {
    std::fprintf(stderr, "the module lacks its entry points\n");
    return 1;
  }
  create();
  std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
  grpc_service::GetJsonReply reply;
  const grpc::Status status = CallBase(server.get(), &reply);
  server->Shutdown();
  destroy();
  std::printf("%d %s %s\n", status.error_code(), status.error_message().c_str(),
              reply.result().c_str());
  return status.ok() && reply.result().find(kExpected) != std::string::npos
             ? 0
             : 1;
}
