#include "devhost/values.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace devhost {
namespace {

// A string slot's text (values.h).
struct HostText {
  uint32_t size;
  char bytes[1];  // `size` bytes and a NUL
};

void ReleaseText(void* value) { std::free(value); }

constexpr tagZormTypeInfo kTypes[] = {
    {zorm_mor_value::kTypeU32, nullptr},
    {zorm_mor_value::kTypeIPv4, nullptr},
    {zorm_mor_value::kTypeU64, nullptr},
    {zorm_mor_value::kTypeMAC, nullptr},
    {zorm_mor_value::kTypeBool, nullptr},
    {zorm_mor_value::kTypeString, ReleaseText},
    {zorm_mor_value::kTypeName, ReleaseText},
};
constexpr tagZormTypeInfo kUnknown{0, nullptr};

// An address text of byte groups, each of 1 to `digits` digits in `base`
// and at most 255, joined by `separator`.
struct ByteGroups {
  int count;
  char separator;
  unsigned base;  // 10 or 16
  size_t digits;
};
constexpr ByteGroups kIPv4Groups{4, '.', 10, 3};  // 10.1.1.0
constexpr ByteGroups kMACGroups{6, '-', 16, 2};   // 00-1a-2b-3c-4d-5e

// Reads the whole of `text` as `form`; fills `out` only on success.
bool ParseBytes(std::string_view text, const ByteGroups& form, uint8_t* out) {
  uint8_t bytes[8];
  size_t pos = 0;
  for (int i = 0; i < form.count; ++i) {
    if (i > 0 && (pos >= text.size() || text[pos++] != form.separator)) {
      return false;
    }
    unsigned value = 0;
    size_t n = 0;
    for (; n < form.digits && pos < text.size(); ++n, ++pos) {
      const auto c = static_cast<unsigned char>(text[pos]);
      const unsigned digit = std::isdigit(c)    ? c - '0'
                             : std::isxdigit(c) ? (c | 0x20) - 'a' + 10
                                                : form.base;
      if (digit >= form.base) break;
      value = value * form.base + digit;
    }
    if (n == 0 || value > 255) return false;
    bytes[i] = static_cast<uint8_t>(value);
  }
  if (pos != text.size()) return false;
  std::memcpy(out, bytes, static_cast<size_t>(form.count));
  return true;
}

}  // namespace

int32_t SetText(const char* text, uint32_t length, tagZormMorValue* slot) {
  auto* kept = static_cast<HostText*>(
      std::malloc(offsetof(HostText, bytes) + length + 1));
  if (kept == nullptr) return -1;
  kept->size = length;
  if (length != 0) std::memcpy(kept->bytes, text, length);
  kept->bytes[length] = '\0';
  slot->ptr = kept;
  return 0;
}

int32_t SetIPv4(const char* text, tagZormMorValue* slot) {
  return text != nullptr && ParseIPv4(text, slot->bytes) ? 0 : -1;
}

const tagZormTypeInfo* TypeInfo(uint32_t typeCode) {
  for (const tagZormTypeInfo& info : kTypes) {
    if (info.typeCode == typeCode) return &info;
  }
  return &kUnknown;
}

std::string_view TextOf(const tagZormMorValue& slot) {
  const auto* kept = static_cast<const HostText*>(slot.ptr);
  return kept != nullptr ? std::string_view(kept->bytes, kept->size) : "";
}

std::string IPv4Of(const tagZormMorValue& slot) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", slot.bytes[0], slot.bytes[1],
                slot.bytes[2], slot.bytes[3]);
  return text;
}

std::string MACOf(const tagZormMorValue& slot) {
  char text[13];
  std::snprintf(text, sizeof(text), "%02x%02x%02x%02x%02x%02x", slot.bytes[0],
                slot.bytes[1], slot.bytes[2], slot.bytes[3], slot.bytes[4],
                slot.bytes[5]);
  return text;
}

bool ParseIPv4(std::string_view text, uint8_t out[4]) {
  return ParseBytes(text, kIPv4Groups, out);
}

bool ParseMAC(std::string_view text, uint8_t out[6]) {
  return ParseBytes(text, kMACGroups, out);
}

bool ParseIPv6(std::string_view text, uint8_t out[16]) {
  char copy[INET6_ADDRSTRLEN];
  if (text.size() >= sizeof(copy)) return false;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return inet_pton(AF_INET6, copy, out) == 1;
}

}  // namespace devhost
