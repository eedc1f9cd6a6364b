// The development host's reason trailer: the host's reason for a rejected
// value reaches unary clients as the trailing metadata entry
// "acl-devhost-reason".
//
// The module answers a rejected value with status INVALID_ARGUMENT and the
// reply text "{Err:<reason>}", but gRPC sends no reply message with a
// non-OK unary status, so without this a unary client never sees the
// reason. The streamed method already carries the text as a message and is
// left alone. This is the development host's own addition; the module and
// a device's host know nothing of it.
//
// The call hooks (calls.h) bind each call of acl.ACLService to its thread
// while its handler runs (call_scope.h), a unary one with this as its
// reason sink: the value check's reason goes straight into the call's
// trailing metadata. Characters a metadata value cannot carry become '?'.

#ifndef ACL_DEVHOST_REASON_TRAILER_H_
#define ACL_DEVHOST_REASON_TRAILER_H_

#include <string_view>

namespace devhost {

// The trailing metadata key of the reason.
inline constexpr char kReasonTrailerKey[] = "acl-devhost-reason";

// Adds `reason` as the trailer of `call`, a grpc::ServerContext* (a
// ReasonSink of call_scope.h).
void AddReasonTrailer(void* call, std::string_view reason);

}  // namespace devhost

#endif  // ACL_DEVHOST_REASON_TRAILER_H_
