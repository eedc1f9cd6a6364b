// The request fuzzer's input: a fixed header that scripts the host, then
// the session token, then the request message in wire format.
//
//   offset  size  field
//        0     1  method        index into acl.ACLService's methods (mod 26)
//        1     1  metadata      how "token_id" is sent (TokenMode, bits 0-1;
//                               bit 2 adds the real key among decoys)
//        2     1  session       the session check's answer (selector)
//        3     1  registry      which lookup fails and how "private" is spelt
//        4     1  rejectBelow   a value is rejected when its hash byte is
//                               below this
//        5     1  adapter       0 null, 1 empty text, n: a text of n-2 bytes
//        6     1  split         bits 0-1 SplitMode, bits 2-7 piece size - 1
//        7     1  writes        bit i: the i-th stream write fails (i < 8)
//        8     1  setterFails   a setter fails when its hash byte is below
//        9     2  failAt        the tree allocation to fail (1-based; 0 none)
//       11     4  seed          varies every hash of the host
//       15     1  tokenSize     n, then n bytes of token
//   16 + n     -  request       the rest
//
// A plain value type, the header byte for byte (little-endian numbers); the
// fuzzer decodes one per input and the seed generator encodes its seeds.

#ifndef ACL_FUZZ_SCRIPT_H_
#define ACL_FUZZ_SCRIPT_H_

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "tests/scripted_host.h"

namespace fuzzscript {

enum class TokenMode : uint8_t {
  kAbsent = 0,  // no "token_id" at all
  kOnce = 1,    // one "token_id"
  kTwice = 2,   // two; the first is the token, the second another text
  kDecoys = 3,  // keys next to "token_id"; the real one only with bit 2
};
constexpr uint8_t kDecoysWithToken = 0x4;

struct Script {
  uint8_t method = 0;
  uint8_t metadata = static_cast<uint8_t>(TokenMode::kOnce);
  uint8_t session = 0;     // 0: the session exists
  uint8_t registry = 0x7;  // low 3 bits >= 4: every lookup succeeds
  uint8_t rejectBelow = 0;
  uint8_t adapter = 2;
  uint8_t split = 0;
  uint8_t writes = 0;
  uint8_t setterFails = 0;
  uint8_t failAt[2] = {};
  uint8_t seed[4] = {};
  uint8_t tokenSize = 0;

  TokenMode token_mode() const { return TokenMode(metadata & 0x3); }
  scripted::SplitMode split_mode() const {  // 0 and 3 pieces, 1 null, 2 none
    const uint8_t mode = split & 0x3;
    return mode == 1   ? scripted::SplitMode::kNull
           : mode == 2 ? scripted::SplitMode::kZeroPieces
                       : scripted::SplitMode::kPieces;
  }
  size_t piece_size() const { return (split >> 2) + 1u; }
  long fail_at() const { return failAt[0] | failAt[1] << 8; }
  uint32_t seed_value() const {
    return seed[0] | seed[1] << 8 | seed[2] << 16 | uint32_t(seed[3]) << 24;
  }
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
