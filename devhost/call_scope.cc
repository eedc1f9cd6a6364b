#include "devhost/call_scope.h"

#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

namespace devhost {
namespace {

struct Scope {
  bool bound = false;
  void* call = nullptr;
  ReasonSink sink = nullptr;
  std::vector<void*> blocks;  // released when the call ends
};

thread_local Scope t_scope;

}  // namespace

void BindCall(void* call, ReasonSink sink) {
  EndCall();  // a binding left behind gives its blocks back now
  t_scope.bound = true;
  t_scope.call = call;
  t_scope.sink = sink;
}

void EndCall() {
  for (void* block : t_scope.blocks) std::free(block);
  t_scope.blocks.clear();
  t_scope.bound = false;
  t_scope.call = nullptr;
  t_scope.sink = nullptr;
}

void RecordRejection(const char* reason, size_t size) noexcept {
  const ReasonSink sink = t_scope.sink;
  t_scope.sink = nullptr;
  if (sink == nullptr || reason == nullptr) return;
  try {
    sink(t_scope.call, std::string_view(reason, strnlen(reason, size)));
  } catch (const std::exception&) {
    // Out of memory: the call goes without its trailer.
  }
}

bool ReleaseAtCallEnd(void* block) noexcept {
  if (!t_scope.bound) return false;
  try {
    t_scope.blocks.push_back(block);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

}  // namespace devhost
