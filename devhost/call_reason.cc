#include "devhost/call_reason.h"

#include <cstring>
#include <new>

namespace devhost {
namespace {

thread_local std::weak_ptr<std::string> t_slot;

}  // namespace

std::shared_ptr<std::string> BindCallReason() {
  auto slot = std::make_shared<std::string>();
  t_slot = slot;
  return slot;
}

void UnbindCallReason() { t_slot.reset(); }

void RecordRejection(const char* reason, size_t size) noexcept {
  std::shared_ptr<std::string> slot = t_slot.lock();
  if (slot == nullptr || reason == nullptr) return;
  try {
    slot->assign(reason, strnlen(reason, size));
  } catch (const std::bad_alloc&) {
    slot->clear();
  }
}

}  // namespace devhost
