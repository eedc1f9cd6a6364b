// A trivial host for the benchmarks: the host and registry operations of
// host/host_api.h doing as little as a host can. Every token and every value
// is accepted, every registry lookup finds the one node, setters store
// nothing (so no slot owns storage), and the adapter answers a fixed text.
// What a benchmark measures against it is the module's own cost.
//
// Set up before any call and left unchanged while calls run; the operations
// only read it, from any number of threads.

#ifndef ACL_BENCHMARKS_BENCH_HOST_H_
#define ACL_BENCHMARKS_BENCH_HOST_H_

#include <cstddef>
#include <string>

namespace grpc {
class ServerBuilder;
}

namespace acl_bench {

// The builder GRPC_GetServerBuilder hands the module.
void SetBuilder(grpc::ServerBuilder* builder);

// The adapter's answer (a malloc'd copy per call) and the largest piece of
// a streamed answer.
void SetAnswer(std::string answer, size_t pieceBytes);

}  // namespace acl_bench

#endif  // ACL_BENCHMARKS_BENCH_HOST_H_
