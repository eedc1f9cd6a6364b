#include "devhost/memory.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace devhost {
namespace {

// glibc's starting mmap and trim threshold, fixed so that it cannot grow.
constexpr int kThreshold = 128 * 1024;
// Parked blocks: each at least kParkFrom (a mapping of its own), at most
// kParkedBlocks of them and kParkedBytes in all.
constexpr size_t kParkFrom = kThreshold;
constexpr size_t kParkedBlocks = 4;
constexpr size_t kParkedBytes = size_t{128} << 20;

struct Park {
  std::mutex mu;
  void* blocks[kParkedBlocks] = {};  // guarded by mu
  size_t bytes = 0;                  // guarded by mu
};

Park& ThePark() {
  static Park* park = new Park();  // never destroyed: threads outlive main
  return *park;
}

}  // namespace

void SetAllocatorPolicy() {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  mallopt(M_ARENA_MAX, cores > 1 ? static_cast<int>(cores) : 1);
  mallopt(M_MMAP_THRESHOLD, kThreshold);
  mallopt(M_TRIM_THRESHOLD, kThreshold);
}

void* TakeBlock(size_t size) noexcept {
  if (size < kParkFrom) return std::malloc(size);
  Park& park = ThePark();
  std::lock_guard<std::mutex> lock(park.mu);
  void** best = nullptr;
  size_t bestSize = SIZE_MAX;
  for (void*& block : park.blocks) {
    const size_t usable = block != nullptr ? malloc_usable_size(block) : 0;
    if (usable >= size && usable < bestSize) {
      best = &block;
      bestSize = usable;
    }
  }
  if (best == nullptr) return std::malloc(size);
  park.bytes -= bestSize;
  void* block = *best;
  *best = nullptr;
  return block;
}

void GiveBack(void* block) noexcept {
  const size_t usable = malloc_usable_size(block);  // 0 for null
  if (usable >= kParkFrom) {
    Park& park = ThePark();
    std::lock_guard<std::mutex> lock(park.mu);
    for (void*& slot : park.blocks) {
      if (slot == nullptr && park.bytes + usable <= kParkedBytes) {
        slot = block;
        park.bytes += usable;
        return;
      }
    }
  }
  std::free(block);
}

void GiveMemoryBack() noexcept {
  {
    Park& park = ThePark();
    std::lock_guard<std::mutex> lock(park.mu);
    for (void*& block : park.blocks) std::free(std::exchange(block, nullptr));
    park.bytes = 0;
  }
  malloc_trim(0);
}

}  // namespace devhost
