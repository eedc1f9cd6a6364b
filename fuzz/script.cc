#include "fuzz/script.h"

namespace fuzzscript {

bool Decode(const uint8_t* data, size_t size, Script* script,
            const uint8_t** request, size_t* requestSize) {
  if (size < kHeaderSize) return false;
  const size_t tokenSize = data[15];
  if (size < kHeaderSize + tokenSize) return false;
  script->method = data[0];
  script->metadata = data[1];
  script->session = data[2];
  script->registry = data[3];
  script->rejectBelow = data[4];
  script->adapter = data[5];
  script->split = data[6];
  script->writes = data[7];
  script->setterFails = data[8];
  script->failAt = static_cast<uint16_t>(data[9] | data[10] << 8);
  script->seed = static_cast<uint32_t>(data[11]) | data[12] << 8 |
                 data[13] << 16 | static_cast<uint32_t>(data[14]) << 24;
  script->token.assign(reinterpret_cast<const char*>(data + kHeaderSize),
                       tokenSize);
  *request = data + kHeaderSize + tokenSize;
  *requestSize = size - kHeaderSize - tokenSize;
  return true;
}

std::string Encode(const Script& script, const std::string& request) {
  const uint8_t header[kHeaderSize] = {
      script.method,
      script.metadata,
      script.session,
      script.registry,
      script.rejectBelow,
      script.adapter,
      script.split,
      script.writes,
      script.setterFails,
      static_cast<uint8_t>(script.failAt),
      static_cast<uint8_t>(script.failAt >> 8),
      static_cast<uint8_t>(script.seed),
      static_cast<uint8_t>(script.seed >> 8),
      static_cast<uint8_t>(script.seed >> 16),
      static_cast<uint8_t>(script.seed >> 24),
      static_cast<uint8_t>(script.token.size()),
  };
  std::string input(reinterpret_cast<const char*>(header), kHeaderSize);
  return input + script.token + request;
}

}  // namespace fuzzscript
