// The development host's memory, in one design: glibc's malloc with large
// blocks as mappings of their own, answer blocks parked for the next
// answer, and the rest given back once the server rests.
//
// SetAllocatorPolicy fixes glibc's mmap and trim thresholds at their
// starting 128 KiB (left dynamic, they grow with the largest block freed)
// and allows one arena per core. So a block from 128 KiB up is a mapping
// that goes back to the system as it is freed and grows by mremap without
// a copy, and no arena top keeps more. The exception is the answer text
// the host gets back from a call (host.h): GiveBack parks it, up to
// kParkedBlocks and kParkedBytes, and TakeBlock writes the next answer into
// one that fits, which spares a page fault per page and an munmap per
// call. The small blocks of a large call
// (a 100 000-rule request tree is some 100 MB of them) stay in the arenas'
// free lists until the host has rested after the call (main.cc):
// GiveMemoryBack then frees the parked blocks and the arenas' free pages.
// glibc rather than mimalloc: docs/integrating.md. Thread-safe, but for
// SetAllocatorPolicy.

#ifndef ACL_DEVHOST_MEMORY_H_
#define ACL_DEVHOST_MEMORY_H_

#include <cstddef>

namespace devhost {

// REQUIRES: called at the start of main(), before any thread starts.
void SetAllocatorPolicy();

// A malloc block of at least `size` bytes for an answer: a parked one that
// fits, else a new one. Null when out of memory.
void* TakeBlock(size_t size) noexcept;

// Releases a malloc block (or null): parks it when it is large and there is
// room, frees it otherwise.
void GiveBack(void* block) noexcept;

// Frees the parked blocks and the arenas' free pages.
void GiveMemoryBack() noexcept;

}  // namespace devhost

#endif  // ACL_DEVHOST_MEMORY_H_
