// What the development host keeps for the call the current thread runs:
// where the call's rejection reason goes (the reason trailer,
// reason_trailer.h) and heap blocks to release when the call ends (the
// streamed answer, split.h).
//
// The server binds a call to the thread that runs it (BindCall) when its
// handler starts and ends the binding when the handler returns (EndCall).
// The host operations the handler calls meanwhile (the value check, the
// split) find the call through their thread. The synchronous gRPC server
// runs a call's handler, and so every host operation of it, on one thread,
// one call at a time, which is what makes the thread a sound key for the
// call.
//
// Thread-safety: each thread has its own binding. This file knows nothing
// of gRPC: the call is an opaque pointer, and the sink does the rest. A
// thread with no call bound (a test, a benchmark) keeps nothing.

#ifndef ACL_DEVHOST_CALL_SCOPE_H_
#define ACL_DEVHOST_CALL_SCOPE_H_

#include <cstddef>
#include <string_view>

namespace devhost {

// Takes a call's reason. Called on the call's thread, at most once per call.
using ReasonSink = void (*)(void* call, std::string_view reason);

// Binds `call` to the calling thread; its first rejection goes to `sink`
// (none when null).
void BindCall(void* call, ReasonSink sink);

// Ends the calling thread's call, if any: releases with free() every block
// handed to ReleaseAtCallEnd.
void EndCall();

// Hands `reason` (up to its first NUL, at most `size` bytes) to the sink
// of the call bound to the calling thread, once; does nothing when none is.
void RecordRejection(const char* reason, size_t size) noexcept;

// Has the bound call release `block` (from malloc) when it ends. False,
// with nothing taken, when no call is bound or when out of memory.
bool ReleaseAtCallEnd(void* block) noexcept;

}  // namespace devhost

#endif  // ACL_DEVHOST_CALL_SCOPE_H_
