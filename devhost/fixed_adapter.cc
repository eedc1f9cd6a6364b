#include "devhost/fixed_adapter.h"

#include <cstring>
#include <utility>

#include "devhost/memory.h"

namespace devhost {
namespace {

class FixedAdapter final : public Adapter {
 public:
  explicit FixedAdapter(std::string answer) : answer_(std::move(answer)) {}

  // One copy into a block the module releases with free(): the only work.
  char* Answer(const tagGrpcTableOrRow* /*table*/, const char* /*module*/,
               size_t* size) const override {
    auto* text = static_cast<char*>(TakeBlock(answer_.size() + 1));
    if (text == nullptr) return nullptr;
    std::memcpy(text, answer_.c_str(), answer_.size() + 1);
    *size = answer_.size();
    return text;
  }

 private:
  const std::string answer_;
};

}  // namespace

std::unique_ptr<Adapter> MakeFixedAdapter(std::string answer) {
  return std::make_unique<FixedAdapter>(std::move(answer));
}

}  // namespace devhost
