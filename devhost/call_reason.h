// The development host's reason for a rejected value, handed to the call
// that asked (the reason trailer, reason_trailer.h).
//
// The server binds a call to the thread that runs it (BindCallReason) when
// its handler starts and unbinds it when the handler returns; the value
// check (GRPC_CheckValueOfPara) hands its reason to the call bound to its
// thread (RecordRejection). The synchronous gRPC server runs a call's
// handler, and so every value check of it, on one thread, one call at a
// time, which is what makes the thread a sound key for the call.
//
// Thread-safety: each thread has its own binding. This file knows nothing
// of gRPC: the call is an opaque pointer, and the sink does the rest.

#ifndef ACL_DEVHOST_CALL_REASON_H_
#define ACL_DEVHOST_CALL_REASON_H_

#include <cstddef>
#include <string_view>

namespace devhost {

// Takes a call's reason. Called on the call's thread, at most once per call.
using ReasonSink = void (*)(void* call, std::string_view reason);

// Binds `call` to the calling thread: its first rejection goes to `sink`.
void BindCallReason(void* call, ReasonSink sink);

// Unbinds the calling thread's call, if any.
void UnbindCallReason();

// Hands `reason` (up to its first NUL, at most `size` bytes) to the call
// bound to the calling thread, then unbinds it; does nothing when none is.
void RecordRejection(const char* reason, size_t size) noexcept;

}  // namespace devhost

#endif  // ACL_DEVHOST_CALL_REASON_H_
