#include "devhost/calls.h"

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <grpcpp/server.h>
#include <grpcpp/server_builder.h>
#include <grpcpp/support/server_interceptor.h>

#include "devhost/call_scope.h"
#include "devhost/reason_trailer.h"

namespace devhost {

namespace exp = grpc::experimental;

namespace {

constexpr char kServicePrefix[] = "/acl.ACLService/";

// What the start of a call left for its end, on the thread that runs it.
struct ThreadCall {
  bool counted = false;  // a call of the module's service
  bool unary = false;    // ... and a unary one
};
thread_local ThreadCall t_call;

}  // namespace

// Called by the server for every call it takes up, on the call's thread,
// before the request is parsed. Counts the module's calls; makes no
// interceptor.
class CallStart : public exp::ServerInterceptorFactoryInterface {
 public:
  explicit CallStart(CallTracker* tracker) : tracker_(tracker) {}
  exp::Interceptor* CreateServerInterceptor(exp::ServerRpcInfo* info) override {
    const bool ours = std::strncmp(info->method(), kServicePrefix,
                                   sizeof(kServicePrefix) - 1) == 0;
    t_call.counted = ours;
    t_call.unary = ours && info->type() == exp::ServerRpcInfo::Type::UNARY;
    if (ours) tracker_->started_.fetch_add(1, std::memory_order_acq_rel);
    return nullptr;
  }

 private:
  CallTracker* const tracker_;
};

// Around every synchronous handler, on its thread.
class CallEnd : public grpc::Server::GlobalCallbacks {
 public:
  explicit CallEnd(CallTracker* tracker) : tracker_(tracker) {}
  void PreSynchronousRequest(grpc::ServerContext* context) override {
    if (t_call.counted) {
      BindCall(context, t_call.unary ? AddReasonTrailer : nullptr);
    }
  }
  void PostSynchronousRequest(grpc::ServerContext*) override {
    EndCall();
    if (t_call.counted) tracker_->ended_.fetch_add(1, std::memory_order_acq_rel);
    t_call = ThreadCall();
  }

 private:
  CallTracker* const tracker_;
};

void CallTracker::Attach(grpc::ServerBuilder* builder) {
  std::vector<std::unique_ptr<exp::ServerInterceptorFactoryInterface>> list;
  list.push_back(std::make_unique<CallStart>(this));
  builder->experimental().SetInterceptorCreators(std::move(list));
  grpc::Server::SetGlobalCallbacks(new CallEnd(this));  // gRPC owns it
}

uint64_t CallTracker::InFlight() const {
  // Ends first: a call that ends between the two reads was counted started,
  // so the difference never goes below zero.
  const uint64_t ended = ended_.load(std::memory_order_acquire);
  return started_.load(std::memory_order_acquire) - ended;
}

}  // namespace devhost
