// What the development host keeps per call of the module's service.
//
//   count    calls in flight and large calls (kLargeCount value checks or
//            request rows, or a kLargeAnswer-byte answer), for the stop and
//            for giving memory back once the server rests (memory.h). A
//            call counts from the moment the server takes it up, before its
//            request is parsed, until its handler has returned.
//   reason   the host's reason for a rejected value reaches unary clients
//            as the trailing metadata entry kReasonTrailerKey (characters
//            a metadata value cannot carry become '?'): the module answers
//            "{Err:<reason>}" with INVALID_ARGUMENT, and gRPC sends no
//            reply message with a non-OK unary status. Streamed methods
//            carry the text as a message. The module knows nothing of it.
//   answer   the adapter's answer and its size. SplitAnswer points the
//            pieces into that text as it stands and keeps it until the
//            handler returns, then gives it back (memory.h): nothing is
//            copied or measured again.
//
// The hooks: an interceptor factory that counts the call and makes no
// interceptor (so gRPC runs no interception machinery), and gRPC's
// process-wide callbacks around every synchronous handler, which bind the
// call to its thread while the handler runs. The synchronous server runs a
// call's handler, and so every host operation of it, on one thread, so the
// operations find their call through their thread. Calls of other services
// (health, reflection) are neither counted nor bound; a thread with no call
// bound (a test, a benchmark) keeps nothing.
//
// The CallTracker is owned by main() and outlives every server it is
// attached to; its counts are atomics that any thread may read. The rest
// works on the calling thread's own call.

#ifndef ACL_DEVHOST_CALL_H_
#define ACL_DEVHOST_CALL_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

struct tagGrpcTableOrRow;

namespace grpc {
class ServerBuilder;
}

namespace devhost {

inline constexpr char kReasonTrailerKey[] = "acl-devhost-reason";
inline constexpr uint64_t kLargeCount = 1000;
inline constexpr size_t kLargeAnswer = size_t{1} << 20;

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
  // Calls taken up, and large calls over, since the tracker was made.
  uint64_t Started() const { return started_.load(std::memory_order_acquire); }
  uint64_t Large() const { return large_.load(std::memory_order_acquire); }

 private:
  friend class CallHooks;

  std::atomic<uint64_t> started_{0};
  std::atomic<uint64_t> ended_{0};
  std::atomic<uint64_t> large_{0};
};

// Counts a value check of the bound call.
void CountCheck() noexcept;

// Sends `reason` (up to its first NUL, at most `size` bytes) as the bound
// unary call's trailer, once per call; does nothing otherwise.
void RecordRejection(const char* reason, size_t size) noexcept;

// Notes the adapter's answer to `table` for the bound call: `size` bytes
// before its NUL.
void NoteAnswer(const tagGrpcTableOrRow* table, const char* text,
                size_t size) noexcept;

// The piece list of `text` (split.h), a malloc'd NUL-terminated text taken
// over: kept by the bound call and pointed into when there is one, else
// moved into the list. REQUIRES: maxPiece > 0; the module splits no other
// text at the address of an answer it released in the same call.
char** SplitAnswer(char* text, size_t maxPiece, uint64_t* count) noexcept;

}  // namespace devhost

#endif  // ACL_DEVHOST_CALL_H_
