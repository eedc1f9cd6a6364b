#include "tree/mac_text.h"

namespace zorm_mor_value {
namespace {

// A number wider than this many significant hex digits overflows 64 bits.
constexpr int kMaxDigits = 16;

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The value of a hex digit, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one group at `*text` into `*out` and moves `*text` past it. False
// when there is no number there.
bool ReadGroup(const char** text, uint8_t* out) {
  const char* p = *text;
  while (IsSpace(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  bool any = false;
  if (*p == '0') {
    any = true;
    ++p;
    if (*p == 'x' || *p == 'X') ++p;
  }
  uint8_t low = 0;  // the low 8 bits of the magnitude
  int significant = 0;
  for (int d; (d = HexDigit(*p)) >= 0; ++p) {
    any = true;
    if (significant > 0 || d != 0) ++significant;
    low = static_cast<uint8_t>(low << 4 | d);
  }
  if (!any) return false;
  if (significant > kMaxDigits) {
    *out = 0xFF;  // strtoul saturates, whatever the sign
  } else {
    *out = negative ? static_cast<uint8_t>(0u - low) : low;
  }
  *text = p;
  return true;
}

}  // namespace

bool ReadMacText(const char* text, uint8_t out[6]) {
  uint8_t bytes[6];
  for (int i = 0; i < 6; ++i) {
    if (i > 0 && *text++ != '-') return false;
    if (!ReadGroup(&text, &bytes[i])) return false;
  }
  for (int i = 0; i < 6; ++i) out[i] = bytes[i];
  return true;
}

}  // namespace zorm_mor_value
