// The request fuzzer's input: a fixed header that scripts the host, then
// the session token, then the request message in wire format.
//
//   offset  size  field
//        0     1  method        index into acl.ACLService's methods (mod 26)
//        1     1  metadata      how "token_id" is sent (bits 0-1: 0 absent,
//                               1 once, 2 twice with another text second,
//                               3 among decoy keys, the real one only with
//                               bit 2 set)
//        2     1  session       the session check's answer (selector)
//        3     1  registry      which lookup fails and how "private" is spelt
//        4     1  rejectBelow   a value is rejected when its hash byte is
//                               below this
//        5     1  adapter       0 null, 1 empty text, n: a text of n-2 bytes
//        6     1  split         bits 0-1: 0 and 3 pieces, 1 null list, 2 no
//                               piece; bits 2-7: piece size - 1
//        7     1  writes        bit i: the i-th stream write fails (i < 8)
//        8     1  setterFails   a setter fails when its hash byte is below
//        9     2  failAt        the tree allocation to fail (1-based; 0 none)
//       11     4  seed          varies every hash of the host
//       15     1  tokenSize     n, then n bytes of token
//   16 + n     -  request       the rest
//
// A plain value type, the header byte for byte (numbers in the machine's
// order, little-endian where the fuzzers run); the fuzzer decodes one per
// input and the seed generator encodes its seeds.

#ifndef ACL_FUZZ_SCRIPT_H_
#define ACL_FUZZ_SCRIPT_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace fuzzscript {

struct __attribute__((packed)) Script {
  uint8_t method = 0;
  uint8_t metadata = 1;    // one "token_id"
  uint8_t session = 0;     // 0: the session exists
  uint8_t registry = 0x7;  // low 3 bits >= 4: every lookup succeeds
  uint8_t rejectBelow = 0;
  uint8_t adapter = 2;
  uint8_t split = 0;
  uint8_t writes = 0;
  uint8_t setterFails = 0;
  uint16_t failAt = 0;
  uint32_t seed = 0;
  uint8_t tokenSize = 0;
};
constexpr size_t kHeaderSize = 16;
static_assert(sizeof(Script) == kHeaderSize &&
              std::is_trivially_copyable_v<Script>);

// Splits an input into its script, token and request bytes. False when the
// input is too short for its header and token.
inline bool Decode(std::string_view input, Script* script,
                   std::string_view* token, std::string_view* request) {
  if (input.size() < kHeaderSize) return false;
  std::memcpy(script, input.data(), kHeaderSize);
  if (input.size() < kHeaderSize + script->tokenSize) return false;
  *token = input.substr(kHeaderSize, script->tokenSize);
  *request = input.substr(kHeaderSize + script->tokenSize);
  return true;
}

// The input that decodes to `script`, `token` and `request`.
// REQUIRES: token.size() <= 255.
inline std::string Encode(Script script, const std::string& token,
                          const std::string& request) {
  script.tokenSize = static_cast<uint8_t>(token.size());
  return std::string(reinterpret_cast<const char*>(&script), kHeaderSize) +
         token + request;
}

}  // namespace fuzzscript

#endif  // ACL_FUZZ_SCRIPT_H_
