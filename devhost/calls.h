// Counts the server's calls in flight, for the stop and the memory trimmer,
// which need to know when the server is idle.
//
// A server interceptor counts each call from the moment the server takes it
// up (before its request message is parsed) until the call's context goes,
// after its status is sent: calls of every service and kind, the module's,
// reflection and health alike.
//
// Owned by main(); must outlive every server it is attached to. Its counts
// are atomics: any thread may read them at any time.

#ifndef ACL_DEVHOST_CALLS_H_
#define ACL_DEVHOST_CALLS_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include <grpcpp/support/server_interceptor.h>

namespace devhost {

class CallTracker {
 public:
  CallTracker() = default;
  CallTracker(const CallTracker&) = delete;
  CallTracker& operator=(const CallTracker&) = delete;

  // The interceptor that counts the calls of a server built with it.
  std::unique_ptr<grpc::experimental::ServerInterceptorFactoryInterface>
  InterceptorFactory();

  // Calls taken up and not yet over.
  uint64_t InFlight() const;
  // Calls taken up since the tracker was made.
  uint64_t Started() const { return started_.load(std::memory_order_acquire); }

 private:
  friend class CountingInterceptor;

  std::atomic<uint64_t> started_{0};
  std::atomic<uint64_t> ended_{0};
};

}  // namespace devhost

#endif  // ACL_DEVHOST_CALLS_H_
