#include "devhost/reason_trailer.h"

#include <cstring>
#include <string>

#include "devhost/call_reason.h"

namespace devhost {
namespace {

using grpc::experimental::InterceptionHookPoints;

constexpr char kServicePrefix[] = "/acl.ACLService/";

// `text` with every byte a metadata value cannot carry replaced by '?'.
std::string Printable(std::string text) {
  for (char& c : text) {
    if (c < 0x20 || c > 0x7E) c = '?';
  }
  return text;
}

// One per unary call; the gRPC runtime owns it and calls it from the call's
// thread.
class ReasonTrailer : public grpc::experimental::Interceptor {
 public:
  void Intercept(grpc::experimental::InterceptorBatchMethods* methods) override {
    if (methods->QueryInterceptionHookPoint(
            InterceptionHookPoints::POST_RECV_INITIAL_METADATA)) {
      reason_ = BindCallReason();
    }
    if (methods->QueryInterceptionHookPoint(
            InterceptionHookPoints::PRE_SEND_STATUS)) {
      UnbindCallReason();
      if (reason_ != nullptr && !reason_->empty() &&
          methods->GetSendStatus().error_code() ==
              grpc::StatusCode::INVALID_ARGUMENT) {
        methods->GetSendTrailingMetadata()->emplace(kReasonTrailerKey,
                                                    Printable(*reason_));
      }
    }
    methods->Proceed();
  }

 private:
  std::shared_ptr<std::string> reason_;
};

class ReasonTrailerFactory
    : public grpc::experimental::ServerInterceptorFactoryInterface {
 public:
  grpc::experimental::Interceptor* CreateServerInterceptor(
      grpc::experimental::ServerRpcInfo* info) override {
    const bool ours = std::strncmp(info->method(), kServicePrefix,
                                   sizeof(kServicePrefix) - 1) == 0;
    if (!ours || info->type() != grpc::experimental::ServerRpcInfo::Type::UNARY) {
      return nullptr;
    }
    return new ReasonTrailer();
  }
};

}  // namespace

std::unique_ptr<grpc::experimental::ServerInterceptorFactoryInterface>
MakeReasonTrailerFactory() {
  return std::make_unique<ReasonTrailerFactory>();
}

}  // namespace devhost
