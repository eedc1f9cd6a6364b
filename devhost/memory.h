// What the development host does about its allocator, so that memory taken
// by large calls goes back to the system once they are over.
//
// A call with a large request tree or answer (some 100 MB for 100 000
// rules) frees its memory in small chunks spread over the arenas of the
// server threads, and glibc keeps the free pages: the resident size would
// stay near the sum of the arenas' high-water marks. So the host
//   - runs a Trimmer: after a large call, once the server has been idle for
//     a moment, malloc_trim(0) hands the free pages of every arena back;
//   - fixes glibc's trim and mmap thresholds at their starting values
//     (SetAllocatorPolicy). Left dynamic, both grow after the first large
//     block is freed (the trim threshold to twice the block), and the top
//     of each thread arena, which malloc_trim leaves alone, then keeps up to
//     that much; fixed, the tops shrink as they are freed, and large blocks
//     are always mapped on their own and unmapped when freed.
//
// Thread-safety: SetAllocatorPolicy runs once, before any other thread.
// A Trimmer's public methods may be called from any thread.

#ifndef ACL_DEVHOST_MEMORY_H_
#define ACL_DEVHOST_MEMORY_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "devhost/calls.h"

namespace devhost {

// REQUIRES: called at the start of main(), before any thread starts.
void SetAllocatorPolicy();

class Trimmer {
 public:
  // How long the server must be idle before a trim.
  static constexpr std::chrono::milliseconds kQuiet{250};

  // Starts the trimmer's thread. It trims once the count of large calls at
  // `largeCalls` has grown and no call has run on `calls` for kQuiet.
  // REQUIRES: both outlive the trimmer.
  Trimmer(const CallTracker* calls, const std::atomic<uint64_t>* largeCalls);
  // Stops the thread.
  ~Trimmer();

  Trimmer(const Trimmer&) = delete;
  Trimmer& operator=(const Trimmer&) = delete;

 private:
  void Run();
  // Waits kQuiet; false when the trimmer is stopping.
  bool Sleep();

  const CallTracker* const calls_;
  const std::atomic<uint64_t>* const largeCalls_;
  std::mutex mu_;
  std::condition_variable wake_;
  bool stopping_ = false;  // guarded by mu_
  std::thread thread_;     // last: starts once the rest is ready
};

}  // namespace devhost

#endif  // ACL_DEVHOST_MEMORY_H_
