// The development host's memory, in one design: large blocks are mappings
// of their own, kept while the server is busy and given back once it is
// idle.
//
// glibc's malloc serves everything, with one arena per core and its mmap
// and trim thresholds fixed at their starting value (128 KiB, kAllocator).
// So every block from 128 KiB up is a mapping of its own: freed, it goes
// back to the system at once; grown with realloc, its pages move by mremap
// and are never copied (the configuration's arrays, PodArray in config.h);
// from 2 MiB on it is hinted to huge pages as it is taken (a fault per
// 2 MiB instead of one per 4 KiB). Small blocks live in the arenas, whose
// free pages glibc keeps: once the server has been idle for a moment after
// a large call, the Trimmer hands them back with malloc_trim(0) (left
// alone, ten 100 000-rule calls kept 200 MB for good; one arena per core
// and the fixed thresholds keep the arena tops, which malloc_trim leaves
// alone, small). The one exception to "a freed large block goes back at
// once" is the answer text the host itself releases (a streamed answer,
// call.h): GiveBack parks it, up to kParkedBlocks and kParkedBytes, and the
// next answer is written into it (TakeBlock) instead of into a fresh
// mapping, which would cost a page fault per page written and an munmap
// per call; the Trimmer frees the parked blocks with the rest.
//
// Why glibc and not mimalloc (measured: docs/integrating.md, "The
// allocator"): mimalloc needs no trimmer and halves large calls' peak, but
// gRPC's sync server ends worker threads as calls come and go, and ending a
// thread costs mimalloc some 360 000 instructions: small calls, the common
// case, took up to 5 x the instructions and 1.3 to 1.5 x the CPU time.
//
// Thread-safety: SetAllocatorPolicy runs once, before any other thread.
// Everything else may be called from any thread.

#ifndef ACL_DEVHOST_MEMORY_H_
#define ACL_DEVHOST_MEMORY_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

namespace devhost {

class CallTracker;

// REQUIRES: called at the start of main(), before any thread starts.
void SetAllocatorPolicy();

// A malloc block of at least `size` bytes for an answer: a parked one that
// fits, else a new one. Null when out of memory.
void* TakeBlock(size_t size) noexcept;

// Releases a malloc block: parks it when it is large and there is room,
// frees it otherwise. Null is ignored.
void GiveBack(void* block) noexcept;

// Frees every parked block.
void FreeParkedBlocks() noexcept;

// Hints the kernel to back the pages of a large block with huge pages.
// Only a hint: blocks under 2 MiB and refusals are ignored.
void AdviseHugePages(void* block, size_t size) noexcept;

class Trimmer {
 public:
  // How long the server must be idle before a trim.
  static constexpr std::chrono::milliseconds kQuiet{250};

  // Starts the trimmer's thread. It trims once a large call has ended on
  // `calls` and no call has run for kQuiet. REQUIRES: `calls` outlives the
  // trimmer.
  explicit Trimmer(const CallTracker* calls);
  // Stops the thread.
  ~Trimmer();

  Trimmer(const Trimmer&) = delete;
  Trimmer& operator=(const Trimmer&) = delete;

 private:
  void Run();
  // Waits kQuiet; false when the trimmer is stopping.
  bool Sleep();

  const CallTracker* const calls_;
  std::mutex mu_;
  std::condition_variable wake_;
  bool stopping_ = false;  // guarded by mu_
  std::thread thread_;     // last: starts once the rest is ready
};

}  // namespace devhost

#endif  // ACL_DEVHOST_MEMORY_H_
