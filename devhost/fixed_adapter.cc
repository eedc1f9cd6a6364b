#include "devhost/fixed_adapter.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "devhost/config.h"

namespace devhost {
namespace {

class FixedAdapter final : public Adapter {
 public:
  explicit FixedAdapter(std::string answer) : answer_(std::move(answer)) {}

  // One copy into a block the module releases with free(): the only work.
  char* Answer(const tagGrpcTableOrRow* /*table*/,
               const char* /*module*/) const override {
    auto* text = static_cast<char*>(std::malloc(answer_.size() + 1));
    if (text == nullptr) return nullptr;
    AdviseHugePages(text, answer_.size() + 1);  // as the json adapter does
    std::memcpy(text, answer_.c_str(), answer_.size() + 1);
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
