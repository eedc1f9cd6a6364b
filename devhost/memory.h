// The development host's memory, in one design: glibc's malloc, large
// blocks as mappings of their own, answer blocks parked for the next
// answer, and the rest given back once the server rests.
//
// SetAllocatorPolicy fixes glibc's mmap and trim thresholds at their
// starting value (128 KiB; left dynamic, they grow with the largest block
// freed) and allows one arena per core. So a block from 128 KiB up is a
// mapping of its own that goes back to the system as it is freed and grows
// by mremap without a copy (the configuration's arrays), and no arena top
// keeps more than 128 KiB. The answer texts the host gets back (a streamed
// answer, call.h) are the exception: GiveBack parks them, up to
// kParkedBlocks and kParkedBytes, and TakeBlock writes the next answer
// into one that fits, which spares a page fault per page written and an
// munmap per call. The small blocks of a large call (a 100 000-rule
// request tree is some 100 MB of them) stay in the arenas' free lists
// until GiveMemoryBack, which the host calls once it has rested after a
// large call (main.cc), frees the parked blocks and hands the arenas' free
// pages back. Why glibc and not mimalloc: docs/integrating.md.
//
// Thread-safety: SetAllocatorPolicy runs once, before any other thread;
// the rest may be called from any thread.

#ifndef ACL_DEVHOST_MEMORY_H_
#define ACL_DEVHOST_MEMORY_H_

#include <cstddef>

namespace devhost {

// REQUIRES: called at the start of main(), before any thread starts.
void SetAllocatorPolicy();

// A malloc block of at least `size` bytes for an answer: a parked one that
// fits, else a new one. Null when out of memory.
void* TakeBlock(size_t size) noexcept;

// Releases a malloc block: parks it when it is large and there is room,
// frees it otherwise. Null is ignored.
void GiveBack(void* block) noexcept;

// Frees the parked blocks and the arenas' free pages.
void GiveMemoryBack() noexcept;

// Hints the kernel to back a block of 2 MiB or more with huge pages.
void AdviseHugePages(void* block, size_t size) noexcept;

}  // namespace devhost

#endif  // ACL_DEVHOST_MEMORY_H_
