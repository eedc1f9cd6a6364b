// The built module as a host sees it: exactly two exported names, the host
// and registry operations left for the loading process, and a call served
// end to end after dlopen.

#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <string>

#include <grpcpp/impl/client_unary_call.h>
#include <grpcpp/impl/codegen/proto_utils.h>
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include "grpc_service.pb.h"
#include "tests/test_host.h"

namespace {

std::set<std::string> Symbols(const std::string& nmFlags) {
  std::string command =
      "nm -D " + nmFlags + " --format=just-symbols " ACL_MODULE_PATH;
  std::set<std::string> names;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[512];
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    std::string name(line);
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) {
      name.pop_back();
    }
    names.insert(name);
  }
  pclose(pipe);
  return names;
}

TEST(ModuleSo, ExportsOnlyItsTwoEntryPoints) {
  EXPECT_EQ(Symbols("--defined-only"),
            (std::set<std::string>{"ServiceCreate", "ServiceDestroy"}));
}

TEST(ModuleSo, LeavesHostOperationsToTheLoadingProcess) {
  std::set<std::string> undefined = Symbols("--undefined-only");
  for (const char* name :
       {"GRPC_GetServerBuilder", "GRPC_SESSION_IsExisting",
        "GRPC_CheckValueOfPara", "GRPC_AdapterGet2Quorvex",
        "GRPC_Split_MassiveData", "ZORM_GetRegTreeRoot",
        "ZORM_GetChildZormRegNode", "ZORM_GetChildZormRegNodeIgnoreCase",
        "ZORM_SetMorValue", "ZORM_IPV4_SetMorValue", "ZORM_GetTypeInfo"}) {
    EXPECT_TRUE(undefined.count(name)) << name;
  }
}

TEST(ModuleSo, LoadsRegistersAndServes) {
  // Kept mapped after dlclose, as hosts keep their modules: the schema's
  // reflection data that protobuf caches points into it.
  void* module = dlopen(ACL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  ASSERT_NE(module, nullptr) << dlerror();
  auto create = reinterpret_cast<int (*)()>(dlsym(module, "ServiceCreate"));
  auto destroy = reinterpret_cast<void (*)()>(dlsym(module, "ServiceDestroy"));
  ASSERT_NE(create, nullptr);
  ASSERT_NE(destroy, nullptr);

  testhost::Reset();
  grpc::ServerBuilder builder;
  testhost::TheHost().config.builder = &builder;
  ASSERT_EQ(create(), 0);
  std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
  ASSERT_NE(server, nullptr);

  // An empty request is zero bytes on the wire, whatever its type.
  auto channel = server->InProcessChannel(grpc::ChannelArguments());
  grpc::ClientContext context;
  context.AddMetadata("token_id", "good-token");
  grpc::Slice nothing("");
  grpc::ByteBuffer request(&nothing, 1);
  grpc_service::GetJsonReply reply;
  grpc::Status status = grpc::internal::BlockingUnaryCall(
      channel.get(),
      grpc::internal::RpcMethod("/acl.ACLService/GetJsonACLBase",
                                grpc::internal::RpcMethod::NORMAL_RPC),
      &context, request, &reply);
  EXPECT_TRUE(status.ok()) << status.error_message();
  EXPECT_EQ(reply.result(), R"({"answer":1})");
  EXPECT_EQ(testhost::Snapshot().trees,
            std::vector<std::string>{
                R"({"kind":"table","columns":[{"morId":"0x02010101","type":0,)"
                R"("noValue":true}],"subEntries":[],"rows":[]})"});

  server->Shutdown();
  destroy();
  dlclose(module);
}

}  // namespace
