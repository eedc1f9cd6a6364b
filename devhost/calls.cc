#include "devhost/calls.h"

#include <memory>
#include <utility>
#include <vector>

#include <grpcpp/support/server_interceptor.h>

namespace devhost {

namespace exp = grpc::experimental;

// One per call: made when the server takes the call up, deleted with the
// call's context.
class CountingInterceptor : public exp::Interceptor {
 public:
  explicit CountingInterceptor(CallTracker* tracker) : tracker_(tracker) {
    tracker_->started_.fetch_add(1, std::memory_order_acq_rel);
  }
  ~CountingInterceptor() override {
    tracker_->ended_.fetch_add(1, std::memory_order_acq_rel);
  }
  void Intercept(exp::InterceptorBatchMethods* methods) override {
    methods->Proceed();
  }

 private:
  CallTracker* const tracker_;
};

namespace {

class CountingFactory : public exp::ServerInterceptorFactoryInterface {
 public:
  explicit CountingFactory(CallTracker* tracker) : tracker_(tracker) {}
  exp::Interceptor* CreateServerInterceptor(exp::ServerRpcInfo*) override {
    return new CountingInterceptor(tracker_);
  }

 private:
  CallTracker* const tracker_;
};

}  // namespace

std::unique_ptr<exp::ServerInterceptorFactoryInterface>
CallTracker::InterceptorFactory() {
  return std::make_unique<CountingFactory>(this);
}

uint64_t CallTracker::InFlight() const {
  // Ends first: a call that ends between the two reads was counted started,
  // so the difference never goes below zero.
  const uint64_t ended = ended_.load(std::memory_order_acquire);
  return started_.load(std::memory_order_acquire) - ended;
}

}  // namespace devhost
