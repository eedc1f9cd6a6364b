#include "devhost/call_reason.h"

#include <cstring>
#include <exception>

namespace devhost {
namespace {

struct Binding {
  void* call = nullptr;
  ReasonSink sink = nullptr;
};

thread_local Binding t_binding;

}  // namespace

void BindCallReason(void* call, ReasonSink sink) { t_binding = {call, sink}; }

void UnbindCallReason() { t_binding = {}; }

void RecordRejection(const char* reason, size_t size) noexcept {
  const Binding bound = t_binding;
  t_binding = {};
  if (bound.sink == nullptr || reason == nullptr) return;
  try {
    bound.sink(bound.call, std::string_view(reason, strnlen(reason, size)));
  } catch (const std::exception&) {
    // Out of memory: the call goes without its trailer.
  }
}

}  // namespace devhost
