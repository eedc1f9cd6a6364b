#include "devhost/memory.h"

#include <malloc.h>
#include <unistd.h>

namespace devhost {
namespace {

// glibc's own starting value, fixed so that it cannot grow.
constexpr int kTrimThreshold = 128 * 1024;

}  // namespace

void SetAllocatorPolicy() {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  mallopt(M_ARENA_MAX, cores > 1 ? static_cast<int>(cores) : 1);
  mallopt(M_TRIM_THRESHOLD, kTrimThreshold);
}

Trimmer::Trimmer(const CallTracker* calls,
                 const std::atomic<uint64_t>* largeCalls)
    : calls_(calls), largeCalls_(largeCalls), thread_([this] { Run(); }) {}

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
  uint64_t trimmedUpTo = largeCalls_->load(std::memory_order_acquire);
  uint64_t started = calls_->Started();
  while (Sleep()) {
    const uint64_t large = largeCalls_->load(std::memory_order_acquire);
    const uint64_t nowStarted = calls_->Started();
    const bool quiet = nowStarted == started && calls_->InFlight() == 0;
    started = nowStarted;
    if (large == trimmedUpTo || !quiet) continue;
    malloc_trim(0);
    trimmedUpTo = large;
  }
}

}  // namespace devhost
