// The reason the development host gave for the value it last rejected in
// the current call, kept for the reason trailer (reason_trailer.h).
//
// A call binds a fresh slot to the thread that runs it (BindCallReason);
// the value check (GRPC_CheckValueOfPara) records its reason in the slot
// bound to its thread (RecordRejection); the call unbinds it when it sends
// its status. The synchronous gRPC server runs a call's interceptor hooks,
// its handler and so every value check of it on one thread, one call at a
// time, which is what makes the thread a sound key for the call.
//
// Thread-safety: each thread has its own binding. A slot is shared by its
// call's interceptor and its thread's binding; the binding does not keep it
// alive, so a binding left behind records nowhere.

#ifndef ACL_DEVHOST_CALL_REASON_H_
#define ACL_DEVHOST_CALL_REASON_H_

#include <cstddef>
#include <memory>
#include <string>

namespace devhost {

// A new, empty slot, bound to the calling thread.
std::shared_ptr<std::string> BindCallReason();

// Unbinds the calling thread's slot, if any.
void UnbindCallReason();

// Stores `reason` (up to its first NUL, at most `size` bytes) in the slot
// bound to the calling thread; does nothing when none is. Out of memory,
// the slot is left empty.
void RecordRejection(const char* reason, size_t size) noexcept;

}  // namespace devhost

#endif  // ACL_DEVHOST_CALL_REASON_H_
