// The development host's reason trailer: a server interceptor that sends
// the host's reason for a rejected value to unary clients as the trailing
// metadata entry "acl-devhost-reason".
//
// The module answers a rejected value with status INVALID_ARGUMENT and the
// reply text "{Err:<reason>}", but gRPC sends no reply message with a
// non-OK unary status, so without this a unary client never sees the
// reason. The streamed method already carries the text as a message and is
// left alone. This is the development host's own addition; the module and
// a device's host know nothing of it.
//
// For each unary call of acl.ACLService the interceptor binds a reason slot
// to the call's thread when the request arrives (call_reason.h) and, before
// the status goes out, adds the slot's text as the trailer when the status
// is INVALID_ARGUMENT. Characters a metadata value cannot carry become '?'.

#ifndef ACL_DEVHOST_REASON_TRAILER_H_
#define ACL_DEVHOST_REASON_TRAILER_H_

#include <memory>

#include <grpcpp/support/server_interceptor.h>

namespace devhost {

// The trailing metadata key of the reason.
inline constexpr char kReasonTrailerKey[] = "acl-devhost-reason";

// The interceptor's factory, to hand to the server builder.
std::unique_ptr<grpc::experimental::ServerInterceptorFactoryInterface>
MakeReasonTrailerFactory();

}  // namespace devhost

#endif  // ACL_DEVHOST_REASON_TRAILER_H_
