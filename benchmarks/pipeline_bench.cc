// The module's cost per request, with the development host's registry,
// value checks and json adapter behind it (sample configuration):
//
//   BM_BuildTree/N    token-free tree building and release for N advance
//                     rules, the checks included, no gRPC
//   BM_UnaryCall/N    one IPv4AdvanceRules call with N rules over an
//                     in-process channel: pipeline, adapter, reply
//   BM_StreamCall     the streamed basic-rules method for the whole table
//
// Run: build/pipeline_bench [--benchmark_filter=...]

#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <google/protobuf/text_format.h>
#include <grpcpp/grpcpp.h>

#include "devhost/host.h"
#include "proto/acl_tree.grpc.pb.h"
#include "service/acl_service.h"
#include "tables/builder.h"
#include "tables/tables.h"

namespace {

constexpr char kToken[] = "bench";

// A realistic rule: group, action, protocol, a source net and a port.
constexpr char kRule[] =
    R"(rule { GroupID: 3000 RuleID: 5 Action: 1 ProtocolType: 6 )"
    R"(Comment: "web" srcipv4 { SrcIPv4Addr: "10.1.0.0" )"
    R"(SrcIPv4Wildcard: "0.0.255.255" } dstport { DstPortOp: 3 )"
    R"(DstPortValue1: 443 } })";

acl::ACLIPv4AdvanceRules Rules(int n) {
  std::string text;
  for (int i = 0; i < n; ++i) text += kRule;
  acl::ACLIPv4AdvanceRules request;
  google::protobuf::TextFormat::ParseFromString(text, &request);
  return request;
}

// The development host's state, made once for the process.
void SetUpHost() {
  devhost::Host& host = devhost::TheHost();
  if (host.registry) return;
  host.registry = devhost::Registry::BuiltIn();
  host.checker = std::make_unique<devhost::Checker>(
      *host.registry, std::vector<devhost::RejectRule>{});
  host.adapter =
      devhost::MakeJsonAdapter(*host.registry, devhost::SampleConfig());
  host.tokens = {kToken};
}

void BM_BuildTree(benchmark::State& state) {
  SetUpHost();
  const acl::ACLIPv4AdvanceRules request = Rules(state.range(0));
  tagZormRegNode* regNode = ZORM_GetRegTreeRoot();  // any node will do
  for (auto _ : state) {
    zorm_mor_value::NodePtr table =
        zorm_mor_value::MakeNode(zorm_mor_value::kTableNode, regNode);
    acl_tables::Rejection rejection;
    auto result = acl_tables::BuildTree(acl_tables::kIPv4AdvanceRules,
                                        request, kToken, table.get(),
                                        &rejection);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_BuildTree)->Arg(1)->Arg(16)->Arg(256);

// A server serving the module in this process, and a stub for it.
struct InProcess {
  grpc::ServerBuilder builder;
  std::unique_ptr<grpc::Server> server;
  std::unique_ptr<acl::ACLService::Stub> stub;

  InProcess() {
    SetUpHost();
    devhost::TheHost().builder = &builder;
    ServiceCreate();
    server = builder.BuildAndStart();
    stub = acl::ACLService::NewStub(
        server->InProcessChannel(grpc::ChannelArguments()));
  }
  ~InProcess() {
    server->Shutdown();
    ServiceDestroy();
  }
};

void BM_UnaryCall(benchmark::State& state) {
  InProcess process;
  const acl::ACLIPv4AdvanceRules request = Rules(state.range(0));
  for (auto _ : state) {
    grpc::ClientContext context;
    context.AddMetadata("token_id", kToken);
    grpc_service::GetJsonReply reply;
    grpc::Status status =
        process.stub->GetJsonACLIPv4AdvanceRules(&context, request, &reply);
    if (!status.ok()) state.SkipWithError(status.error_message().c_str());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnaryCall)->Arg(1)->Arg(16)->Arg(256)->UseRealTime();

void BM_StreamCall(benchmark::State& state) {
  InProcess process;
  const acl::ACLIPv4BasicRules request;
  size_t bytes = 0;
  for (auto _ : state) {
    grpc::ClientContext context;
    context.AddMetadata("token_id", kToken);
    auto reader = process.stub->GetJsonACLIPv4BasicRulesStream(&context,
                                                               request);
    grpc_service::GetJsonReply reply;
    while (reader->Read(&reply)) bytes += reply.result().size();
    if (!reader->Finish().ok()) state.SkipWithError("stream failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}
BENCHMARK(BM_StreamCall)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
