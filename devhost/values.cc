#include "devhost/values.h"

#include <arpa/inet.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace devhost {
namespace {

void ReleaseText(void* value) { std::free(value); }

constexpr tagZormTypeInfo kPlain[] = {
    {zorm_mor_value::kTypeU32, nullptr},  {zorm_mor_value::kTypeIPv4, nullptr},
    {zorm_mor_value::kTypeU64, nullptr},  {zorm_mor_value::kTypeMAC, nullptr},
    {zorm_mor_value::kTypeBool, nullptr},
};
constexpr tagZormTypeInfo kString{zorm_mor_value::kTypeString, ReleaseText};
constexpr tagZormTypeInfo kName{zorm_mor_value::kTypeName, ReleaseText};
constexpr tagZormTypeInfo kUnknown{0, nullptr};

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

bool ParseIPv4(std::string_view text, uint8_t out[4]) {
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    unsigned value = 0;
    size_t digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' &&
           digits < 3) {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    out[i] = static_cast<uint8_t>(value);
  }
  return pos == text.size();
}

bool ParseMAC(std::string_view text, uint8_t out[6]) {
  uint8_t bytes[6];
  size_t pos = 0;
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && (pos >= text.size() || text[pos++] != '-')) return false;
    unsigned value = 0;
    size_t digits = 0;
    while (pos < text.size() && digits < 2 &&
           std::isxdigit(static_cast<unsigned char>(text[pos]))) {
      const int c = std::tolower(static_cast<unsigned char>(text[pos++]));
      value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
      ++digits;
    }
    if (digits == 0) return false;
    bytes[i] = static_cast<uint8_t>(value);
  }
  if (pos != text.size()) return false;
  std::memcpy(out, bytes, sizeof(bytes));
  return true;
}

bool ParseIPv6(std::string_view text, uint8_t out[16]) {
  char copy[INET6_ADDRSTRLEN];
  if (text.size() >= sizeof(copy)) return false;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  return inet_pton(AF_INET6, copy, out) == 1;
}

int32_t SetIPv4(const char* text, tagZormMorValue* slot) {
  uint8_t bytes[4];
  if (text == nullptr || !ParseIPv4(text, bytes)) return -1;
  std::memcpy(slot->bytes, bytes, 4);
  return 0;
}

const tagZormTypeInfo* TypeInfo(uint32_t typeCode) {
  if (typeCode == kString.typeCode) return &kString;
  if (typeCode == kName.typeCode) return &kName;
  for (const tagZormTypeInfo& info : kPlain) {
    if (info.typeCode == typeCode) return &info;
  }
  return &kUnknown;
}

std::string_view TextOf(const tagZormMorValue& slot) {
  const auto* kept = static_cast<const HostText*>(slot.ptr);
  if (kept == nullptr) return {};
  return std::string_view(kept->bytes, kept->size);
}

std::string IPv4Of(const tagZormMorValue& slot) {
  char text[16];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", slot.bytes[0],
                slot.bytes[1], slot.bytes[2], slot.bytes[3]);
  return text;
}

std::string MACOf(const tagZormMorValue& slot) {
  char text[13];
  std::snprintf(text, sizeof(text), "%02x%02x%02x%02x%02x%02x", slot.bytes[0],
                slot.bytes[1], slot.bytes[2], slot.bytes[3], slot.bytes[4],
                slot.bytes[5]);
  return text;
}

}  // namespace devhost
