#include "tests/fault_alloc.h"

#include <atomic>
#include <cstdlib>

#include "tree/tree_alloc.h"

namespace faultalloc {
namespace {
std::atomic<long> countdown{0};
std::atomic<bool> fired{false};
std::atomic<long> live{0};
}  // namespace

void FailAt(long k) {
  fired = false;
  countdown = k;
}

bool Fired() { return fired; }

long Live() { return live; }

}  // namespace faultalloc

namespace zorm_mor_value {

void* TreeCalloc(std::size_t size) {
  if (faultalloc::countdown > 0 && --faultalloc::countdown == 0) {
    faultalloc::fired = true;
    return nullptr;
  }
  void* block = std::calloc(1, size);
  if (block != nullptr) ++faultalloc::live;
  return block;
}

void TreeFree(void* block) {
  if (block != nullptr) --faultalloc::live;
  std::free(block);
}

}  // namespace zorm_mor_value
