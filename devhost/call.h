// What the development host keeps per call of the module's service: its
// count, its rejection reason and its blocks.
//
//   count    calls in flight, for the stop and the memory trimmer, which
//            need to know when the server is idle, and large calls (many
//            value checks or rows, or a long answer), after which the
//            trimmer gives memory back. A call is counted from the moment
//            the server takes it up, before its request is parsed, until
//            its handler has returned.
//   reason   the host's reason for a rejected value reaches unary clients
//            as the trailing metadata entry kReasonTrailerKey (characters
//            a metadata value cannot carry become '?'). The module answers
//            a rejected value with INVALID_ARGUMENT and the reply
//            "{Err:<reason>}", but gRPC sends no reply message with a
//            non-OK unary status. The streamed methods carry the text as a
//            message and get no trailer. The development host's own
//            addition: the module and a device's host know nothing of it.
//   blocks   the adapter's answer (its size, so that the split need not
//            measure it again) and the texts handed to the split, which
//            its pieces point into: given back (memory.h) when the handler
//            returns.
//
// The hooks: an interceptor factory that counts the call and makes no
// interceptor (so gRPC runs no interceptor machinery), and gRPC's
// process-wide callbacks around every synchronous handler, which bind the
// call to its thread while the handler runs. The host operations the
// handler calls meanwhile find the call through their thread: the
// synchronous server runs a call's handler, and so every host operation of
// it, on one thread, one call at a time. Calls of other services (health,
// reflection) are neither counted nor bound; a thread with no call bound
// (a test, a benchmark) keeps nothing.
//
// The CallTracker is owned by main() and must outlive every server it is
// attached to; its counts are atomics that any thread may read. The rest
// works on the calling thread's own call.

#ifndef ACL_DEVHOST_CALL_H_
#define ACL_DEVHOST_CALL_H_

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace grpc {
class ServerBuilder;
}

namespace devhost {

// The trailing metadata key of the reason.
inline constexpr char kReasonTrailerKey[] = "acl-devhost-reason";

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
  // Calls taken up since the tracker was made.
  uint64_t Started() const { return started_.load(std::memory_order_acquire); }
  // Large calls over since the tracker was made.
  uint64_t Large() const { return large_.load(std::memory_order_acquire); }

 private:
  friend class CallStart;
  friend class CallEnd;

  std::atomic<uint64_t> started_{0};
  std::atomic<uint64_t> ended_{0};
  std::atomic<uint64_t> large_{0};
};

// A call is large with this many value checks or request rows, or an
// answer of this many bytes.
inline constexpr uint64_t kLargeCount = 1000;
inline constexpr size_t kLargeAnswer = size_t{1} << 20;

// Counts a value check of the bound call.
void CountCheck() noexcept;

// Sends `reason` (up to its first NUL, at most `size` bytes) as the bound
// unary call's trailer, once per call; does nothing otherwise.
void RecordRejection(const char* reason, size_t size) noexcept;

// Notes the adapter's answer of the bound call: `size` bytes before its
// NUL. Marks the call large when `rows` or the size is large.
void NoteAnswer(const char* text, size_t size, uint64_t rows) noexcept;

// The size noted for `text` when it is the bound call's answer (its block
// still large enough to hold it); SIZE_MAX otherwise. REQUIRES: the module
// splits no other text at the address of an answer it released in the
// same call.
size_t AnswerSize(const char* text) noexcept;

// Has the bound call give `block` (from malloc) back when it ends. False,
// with nothing taken, when no call is bound or it keeps all it can.
bool KeepUntilCallEnd(void* block) noexcept;

}  // namespace devhost

#endif  // ACL_DEVHOST_CALL_H_
