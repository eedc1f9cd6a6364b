// The module's own cost, with the scripted test host behind it in its
// accept-all mode (testsupport/scripted_host.h: every token and value accepted,
// nothing recorded, no lock), each figure set beside a floor measured in
// the same run:
//
//   BM_TreeVsFloor/N    building and releasing the request tree of N IPv4
//                       advance rules (every field set, three elements of
//                       every nested list) against the floor: allocating,
//                       zeroing, linking and freeing the same records with
//                       the module's allocator, nothing else. Counters:
//                       ns per record of each, their ratio, and ns per rule
//                       (which must stay flat from 100 to 100 000 rules).
//   BM_CallVsPlain/M    one call over an in-process channel through the
//                       module against the same call to PlainService, which
//                       answers the same fixed bytes; M = 0 an empty Base
//                       request, M = 1 one full IPv4 advance rule. Counters:
//                       microseconds per call of each, and their ratio.
//
// Run: build/pipeline_bench [--benchmark_filter=...]

#include <malloc.h>
#include <time.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <grpcpp/grpcpp.h>

#include "benchmarks/plain_service.h"
#include "proto/acl_tree.grpc.pb.h"
#include "service/acl_service.h"
#include "tables/builder.h"
#include "tables/tables.h"
#include "testsupport/scripted_host.h"
#include "tree/tree_alloc.h"
#include "tree/tree.h"

namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

constexpr char kToken[] = "bench-token";
constexpr char kAnswer[] = R"({"Base":{"ProcessingStatus":1}})";
constexpr int kElements = 3;  // elements of every nested list

// Sets every scalar field of `message`, and fills every repeated nested
// field with kElements elements set the same way.
void FillAll(Message* message, uint32_t seed) {
  const Reflection* r = message->GetReflection();
  const google::protobuf::Descriptor* d = message->GetDescriptor();
  for (int i = 0; i < d->field_count(); ++i) {
    const FieldDescriptor* f = d->field(i);
    const uint32_t v = seed + static_cast<uint32_t>(i);
    switch (f->cpp_type()) {
      case FieldDescriptor::CPPTYPE_UINT32: r->SetUInt32(message, f, v); break;
      case FieldDescriptor::CPPTYPE_UINT64:
        r->SetUInt64(message, f, uint64_t{v} << 32 | v);
        break;
      case FieldDescriptor::CPPTYPE_BOOL: r->SetBool(message, f, v & 1); break;
      case FieldDescriptor::CPPTYPE_STRING:
        r->SetString(message, f, "10.1." + std::to_string(v % 256) + ".7");
        break;
      case FieldDescriptor::CPPTYPE_MESSAGE:
        for (int k = 0; k < kElements; ++k) FillAll(r->AddMessage(message, f), v + k);
        break;
      default:
        break;
    }
  }
}

acl::ACLIPv4AdvanceRules FullRules(int n) {
  acl::ACLIPv4AdvanceRules request;
  for (int i = 0; i < n; ++i) FillAll(request.add_rule(), static_cast<uint32_t>(i));
  return request;
}

// The tree for `request`, built and released once.
void BuildAndRelease(const acl::ACLIPv4AdvanceRules& request) {
  static tagZormRegNode* regNode = ZORM_GetRegTreeRoot();
  zorm_mor_value::NodePtr table =
      zorm_mor_value::MakeNode(zorm_mor_value::kTableNode, regNode);
  acl_tables::Rejection rejection;
  auto result = acl_tables::BuildTree(acl_tables::kIPv4AdvanceRules, request,
                                      kToken, table.get(), &rejection);
  benchmark::DoNotOptimize(result);
}

// ---- The floor: the same records, allocated, zeroed, linked, freed ---------
// Through the module's own allocator (tree/tree_alloc.h), so that the ratio
// is the builder's cost above allocating the same blocks the same way.

template <class T>
T* New() {
  return static_cast<T*>(zorm_mor_value::TreeCalloc(sizeof(T)));
}

void AppendFloorColumns(size_t n, tagGrpcColumn** head, tagGrpcColumn** tail) {
  for (size_t i = 0; i < n; ++i) {
    auto* c = New<tagGrpcColumn>();
    if (*tail == nullptr) *head = c; else (*tail)->next = c;
    *tail = c;
  }
}

void FreeFloorColumns(tagGrpcColumn* c) {
  while (c != nullptr) {
    tagGrpcColumn* next = c->next;
    zorm_mor_value::TreeFree(c);
    c = next;
  }
}

// Records of `rows` full rules of `table`, as the builder makes them.
size_t FloorBuildAndRelease(const acl_tables::Table& table, int rows) {
  size_t records = 1;
  auto* top = New<tagGrpcTableOrRow>();
  for (int r = 0; r < rows; ++r) {
    auto* row = New<tagGrpcTableOrRow>();
    AppendFloorColumns(table.columns.size, &row->columnHead, &row->columnTail);
    records += 1 + table.columns.size;
    for (const acl_tables::SubEntry& sub : table.sub_entries) {
      for (int k = 0; k < kElements; ++k) {
        auto* e = New<tagGrpcSubEntry>();
        e->name = sub.name;
        AppendFloorColumns(sub.columns.size, &e->columnHead, &e->columnTail);
        if (row->subTail == nullptr) row->subHead = e; else row->subTail->next = e;
        row->subTail = e;
        records += 1 + sub.columns.size;
      }
    }
    row->next = top->firstRow;
    top->firstRow = row;
  }
  for (tagGrpcTableOrRow* row = top->firstRow; row != nullptr;) {
    tagGrpcTableOrRow* next = row->next;
    FreeFloorColumns(row->columnHead);
    for (tagGrpcSubEntry* e = row->subHead; e != nullptr;) {
      tagGrpcSubEntry* after = e->next;
      FreeFloorColumns(e->columnHead);
      zorm_mor_value::TreeFree(e);
      e = after;
    }
    zorm_mor_value::TreeFree(row);
    row = next;
  }
  zorm_mor_value::TreeFree(top);
  return records;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

// CPU time of `clock` in seconds: the tree figures are taken on the calling
// thread's clock, so that other work on a busy machine stays out of them.
double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double ThreadSeconds() { return CpuSeconds(CLOCK_THREAD_CPUTIME_ID); }

// Times building and releasing the tree of N full rules, and the floor for
// the same records, in alternating passes on this thread's CPU clock; one
// untimed pass of each first, so that both find the heap already grown.
void BM_TreeVsFloor(benchmark::State& state) {
  const int rules = static_cast<int>(state.range(0));
  const acl::ACLIPv4AdvanceRules request = FullRules(rules);
  BuildAndRelease(request);
  const size_t records = FloorBuildAndRelease(acl_tables::kIPv4AdvanceRules, rules);
  double tree = 0, floor = 0;
  bool treeFirst = true;
  for (auto _ : state) {
    for (int pass = 0; pass < 2; ++pass) {
      const double start = ThreadSeconds();
      if (treeFirst == (pass == 0)) {
        BuildAndRelease(request);
        tree += ThreadSeconds() - start;
      } else {
        FloorBuildAndRelease(acl_tables::kIPv4AdvanceRules, rules);
        floor += ThreadSeconds() - start;
      }
    }
    treeFirst = !treeFirst;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["records"] = static_cast<double>(records);
  state.counters["tree_ns_per_record"] = tree * 1e9 / (n * records);
  state.counters["floor_ns_per_record"] = floor * 1e9 / (n * records);
  state.counters["tree_ns_per_rule"] = tree * 1e9 / (n * rules);
  state.counters["ratio"] = tree / floor;
}
BENCHMARK(BM_TreeVsFloor)->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000)
    ->Unit(benchmark::kMillisecond);

// ---- One call: the module against the plain service --------------------

// A server in this process with the module's service (from ServiceCreate,
// through the trivial host) or with PlainService, and a stub for it.
class InProcess {
 public:
  explicit InProcess(bool module) {
    grpc::ServerBuilder builder;
    if (module) {
      scripted::TheHost().config.builder = &builder;
      ServiceCreate();
      scripted::TheHost().config.builder = nullptr;
    } else {
      plain_ = std::make_unique<acl_bench::PlainService>(kAnswer, 65536);
      builder.RegisterService(plain_.get());
    }
    module_ = module;
    server_ = builder.BuildAndStart();
    stub_ = acl::ACLService::NewStub(
        server_->InProcessChannel(grpc::ChannelArguments()));
  }
  ~InProcess() {
    server_->Shutdown();
    if (module_) ServiceDestroy();
  }

  bool Call(const acl::ACLBase& request) {
    grpc::ClientContext context;
    context.AddMetadata("token_id", kToken);
    grpc_service::GetJsonReply reply;
    return stub_->GetJsonACLBase(&context, request, &reply).ok();
  }
  bool Call(const acl::ACLIPv4AdvanceRules& request) {
    grpc::ClientContext context;
    context.AddMetadata("token_id", kToken);
    grpc_service::GetJsonReply reply;
    return stub_->GetJsonACLIPv4AdvanceRules(&context, request, &reply).ok();
  }

 private:
  bool module_ = false;
  std::unique_ptr<acl_bench::PlainService> plain_;
  std::unique_ptr<grpc::Server> server_;
  std::unique_ptr<acl::ACLService::Stub> stub_;
};

// Alternates batches of calls to the two servers; times both by wall clock
// and by the process's CPU time (client and server alike).
template <class Request>
void CallVsPlain(benchmark::State& state, const Request& request) {
  constexpr int kBatch = 32;
  scripted::TheHost().config.answer = kAnswer;
  scripted::TheHost().config.splitBytes = 65536;
  InProcess module(true), plain(false);
  double wall[2] = {0, 0}, cpu[2] = {0, 0};
  int first = 0;
  for (auto _ : state) {
    for (int pass = 0; pass < 2; ++pass) {
      const int which = pass ^ first;
      InProcess& server = which == 0 ? module : plain;
      const auto start = std::chrono::steady_clock::now();
      const double cpuStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
      for (int i = 0; i < kBatch; ++i) {
        if (!server.Call(request)) state.SkipWithError("call failed");
      }
      cpu[which] += CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
      wall[which] += Seconds(start);
    }
    first ^= 1;
  }
  const double calls = static_cast<double>(state.iterations() * kBatch);
  state.counters["module_us"] = wall[0] * 1e6 / calls;
  state.counters["plain_us"] = wall[1] * 1e6 / calls;
  state.counters["ratio"] = wall[0] / wall[1];
  state.counters["cpu_ratio"] = cpu[0] / cpu[1];
}

void BM_CallVsPlain(benchmark::State& state) {
  if (state.range(0) == 0) {
    CallVsPlain(state, acl::ACLBase());
  } else {
    CallVsPlain(state, FullRules(1));
  }
}
BENCHMARK(BM_CallVsPlain)->Arg(0)->Arg(1)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  // Memory freed by one pass stays mapped for the next: page faults are the
  // kernel's cost, and on a virtual machine they would swamp what is
  // measured here (the 100 000-rule tree takes some 700 MB).
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
  scripted::SetAcceptAll(true);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
