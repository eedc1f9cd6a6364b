// The development host's hooks on every call of the module's service: it
// counts the calls in flight, for the stop and the memory trimmer, which
// need to know when the server is idle, and binds each call to its thread
// while its handler runs (call_scope.h), for the reason trailer of a unary
// call (reason_trailer.h) and the streamed answer's text (split.h).
//
// A call is counted from the moment the server takes it up, before its
// request message is parsed, until its handler has returned. The hooks
// cost a call next to nothing: an interceptor factory that counts the call
// and makes no interceptor (so gRPC runs no interceptor machinery), and
// gRPC's process-wide callbacks around every synchronous handler. Both run
// on the thread that runs the call. Calls of other services (health,
// reflection) are neither counted nor bound.
//
// Owned by main(); must outlive every server it is attached to. Its counts
// are atomics: any thread may read them at any time.

#ifndef ACL_DEVHOST_CALLS_H_
#define ACL_DEVHOST_CALLS_H_

#include <atomic>
#include <cstdint>

namespace grpc {
class ServerBuilder;
}

namespace devhost {

class CallTracker {
 public:
  CallTracker() = default;
  CallTracker(const CallTracker&) = delete;
  CallTracker& operator=(const CallTracker&) = delete;

  // Hooks the calls of the server `builder` will build. Sets gRPC's
  // process-wide server callbacks: once per process.
  void Attach(grpc::ServerBuilder* builder);

  // Calls taken up and not yet over.
  uint64_t InFlight() const;
  // Calls taken up since the tracker was made.
  uint64_t Started() const { return started_.load(std::memory_order_acquire); }

 private:
  friend class CallStart;
  friend class CallEnd;

  std::atomic<uint64_t> started_{0};
  std::atomic<uint64_t> ended_{0};
};

}  // namespace devhost

#endif  // ACL_DEVHOST_CALLS_H_
