// What the development host keeps, behind the host and registry operations
// that the executable exports to the module (host_ops.cc).
//
// One Host per process: main() fills it in before it loads the module and
// leaves it unchanged until the server has shut down and the module is
// gone; meanwhile the operations read it from any number of server threads
// without a lock, and only its atomics change.
//
// Each call of the module's service keeps a record, bound by HookCalls to
// the thread that runs its handler (the synchronous server runs a handler,
// and so every host operation of it, on one thread). Calls of other
// services (health, reflection) are neither counted nor bound; a thread
// with no call bound (a test, a benchmark) keeps nothing.
//
//   count    calls in flight and large calls (kLargeCount value checks or
//            request rows, or a kLargeAnswer-byte answer), for the stop and
//            for giving memory back once the server rests (memory.h),
//            from the moment the server takes the call up, before its
//            request is parsed, until its handler has returned.
//   reason   the reason for a rejected value, sent to unary clients as the
//            trailer kReasonTrailerKey (bytes a metadata value cannot carry
//            become '?'): gRPC sends no reply message, and so not the
//            module's "{Err:<reason>}", with a non-OK unary status.
//   answer   the adapter's answer and its size. The split points the
//            pieces into that text as it stands and keeps it until the
//            handler returns, then gives it back (memory.h).

#ifndef ACL_DEVHOST_HOST_H_
#define ACL_DEVHOST_HOST_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "devhost/adapter.h"
#include "devhost/checks.h"
#include "devhost/registry.h"

namespace grpc {
class ServerBuilder;
}

namespace devhost {

inline constexpr char kReasonTrailerKey[] = "acl-devhost-reason";
inline constexpr uint64_t kLargeCount = 1000;
inline constexpr size_t kLargeAnswer = size_t{1} << 20;

struct Host {
  std::unique_ptr<Registry> registry;
  std::unique_ptr<Checker> checker;        // refers to *registry
  std::unique_ptr<Adapter> adapter;        // refers to *registry
  std::unordered_set<std::string> tokens;  // the live sessions
  size_t splitBytes = 65536;               // largest streamed piece
  grpc::ServerBuilder* builder = nullptr;  // owned by main()

  // Raised once a stop's grace has passed: from then on the operations
  // answer at once (no session, every value rejected, no answer), so that
  // the handlers still running return quickly.
  std::atomic<bool> stopping{false};

  // The module's calls taken up, calls over and large calls over.
  std::atomic<uint64_t> started{0}, ended{0}, large{0};
  // Calls taken up and not yet over.
  uint64_t InFlight() const {
    // Ends first: a call that ends between the two reads was counted
    // started, so the difference never goes below zero.
    const uint64_t over = ended.load(std::memory_order_acquire);
    return started.load(std::memory_order_acquire) - over;
  }
};

// The one Host of the process.
Host& TheHost();

// Counts and binds the module's calls on the server `builder` will build.
// Sets gRPC's process-wide server callbacks: once per process.
void HookCalls(grpc::ServerBuilder* builder);

}  // namespace devhost

#endif  // ACL_DEVHOST_HOST_H_
