// Fuzzer of the configuration reader, which reads files that users write:
// for any text it must build a configuration or refuse the text with a
// message, and never crash, leak or read out of bounds.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "devhost/config.h"
#include "devhost/registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::unique_ptr<devhost::Registry> registry =
      devhost::Registry::BuiltIn();
  try {
    devhost::LoadConfig(
        *registry, std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const std::runtime_error&) {
    // Refused, with its place: fine.
  }
  return 0;
}
