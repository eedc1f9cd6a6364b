#include "devhost/memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "devhost/call.h"

namespace devhost {
namespace {

// glibc's settings, set once at start.
struct MallocSetting {
  int option;
  int value;  // 0: the number of cores
};
constexpr MallocSetting kAllocator[] = {
    {M_ARENA_MAX,      0},           // one arena per core, not eight
    {M_MMAP_THRESHOLD, 128 * 1024},  // glibc's starting values, fixed so
    {M_TRIM_THRESHOLD, 128 * 1024},  // that they cannot grow
};

// Blocks worth huge pages.
constexpr size_t kHugeFrom = size_t{2} << 20;
// Parked blocks: each at least kParkFrom (a mapping of its own), at most
// kParkedBlocks of them and kParkedBytes in all.
constexpr size_t kParkFrom = 128 * 1024;
constexpr size_t kParkedBlocks = 4;
constexpr size_t kParkedBytes = size_t{128} << 20;

struct Parked {
  std::mutex mu;
  void* blocks[kParkedBlocks] = {};  // guarded by mu
  size_t bytes = 0;                  // guarded by mu
};

Parked& ThePark() {
  static Parked* park = new Parked();  // never destroyed: threads outlive main
  return *park;
}

}  // namespace

void SetAllocatorPolicy() {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  for (const MallocSetting& s : kAllocator) {
    mallopt(s.option, s.value != 0 ? s.value
                                   : static_cast<int>(cores > 1 ? cores : 1));
  }
}

void* TakeBlock(size_t size) noexcept {
  if (size >= kParkFrom) {
    Parked& park = ThePark();
    std::lock_guard<std::mutex> lock(park.mu);
    void** best = nullptr;
    size_t bestSize = 0;
    for (void*& block : park.blocks) {
      const size_t usable = block != nullptr ? malloc_usable_size(block) : 0;
      if (usable >= size && (best == nullptr || usable < bestSize)) {
        best = &block;
        bestSize = usable;
      }
    }
    if (best != nullptr) {
      park.bytes -= bestSize;
      void* block = *best;
      *best = nullptr;
      return block;
    }
  }
  void* block = std::malloc(size);
  if (block != nullptr) AdviseHugePages(block, size);
  return block;
}

void GiveBack(void* block) noexcept {
  if (block == nullptr) return;
  const size_t usable = malloc_usable_size(block);
  if (usable >= kParkFrom) {
    Parked& park = ThePark();
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

void FreeParkedBlocks() noexcept {
  Parked& park = ThePark();
  std::lock_guard<std::mutex> lock(park.mu);
  for (void*& block : park.blocks) {
    std::free(block);
    block = nullptr;
  }
  park.bytes = 0;
}

void AdviseHugePages(void* block, size_t size) noexcept {
  if (size < kHugeFrom) return;
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<uintptr_t>(block);
  // Every page the block touches: a large malloc block is its own mapping,
  // and advising all of it leaves the mapping whole. Advising only the
  // pages within the block would split off the page that holds malloc's
  // header, and a mapping in two pieces cannot be grown in place
  // (realloc's mremap fails, and realloc copies the whole block).
  const uintptr_t first = begin & ~(page - 1);
  const uintptr_t last = (begin + size + page - 1) & ~(page - 1);
  madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

Trimmer::Trimmer(const CallTracker* calls)
    : calls_(calls), thread_([this] { Run(); }) {}

Trimmer::~Trimmer() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool Trimmer::Sleep() {
  std::unique_lock<std::mutex> lock(mu_);
  return !wake_.wait_for(lock, kQuiet, [this] { return stopping_; });
}

void Trimmer::Run() {
  uint64_t trimmedUpTo = calls_->Large();
  uint64_t started = calls_->Started();
  while (Sleep()) {
    const uint64_t large = calls_->Large();
    const uint64_t nowStarted = calls_->Started();
    const bool quiet = nowStarted == started && calls_->InFlight() == 0;
    started = nowStarted;
    if (large == trimmedUpTo || !quiet) continue;
    FreeParkedBlocks();
    malloc_trim(0);
    trimmedUpTo = large;
  }
}

}  // namespace devhost
