// What the development host does about its allocator, so that memory taken
// by large calls goes back to the system once they are over.
//
// A call with a large request tree or answer (some 100 MB for 100 000
// rules) frees its memory in small chunks, and glibc keeps the free pages:
// the resident size would stay near the high-water mark of every arena the
// server threads used. So the host
//   - runs a Trimmer: after a large call, once the server has been idle for
//     a moment, malloc_trim(0) hands the free pages of every arena back;
//   - keeps one arena per core (SetAllocatorPolicy): glibc would make up to
//     eight per core, and after many concurrent large calls the tops of
//     the thread arenas, which malloc_trim leaves alone, would keep tens of
//     megabytes each;
//   - fixes the trim threshold at glibc's starting value: left dynamic it
//     grows to twice the largest block freed (up to 64 MB), and an arena
//     top keeps up to that much; fixed, arena tops shrink as they are
//     freed. (This also fixes the mmap threshold at its starting value.)
//
// Why glibc and not mimalloc (measured: docs/host-integration.md, "The
// allocator"): mimalloc needs no trimmer and halves large calls' peak, but
// gRPC's sync server ends worker threads as calls come and go, and ending a
// thread costs mimalloc some 360 000 instructions: small calls, the common
// case, took up to 5 x the instructions and 1.3 to 1.5 x the CPU time.
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
