// Differential fuzzer of the MAC setter: for any text, the module's setter
// and the C library's sscanf("%hhx-%hhx-%hhx-%hhx-%hhx-%hhx") must agree on
// whether six groups are read and on the six bytes, and the slot's other
// bytes, or all of them when nothing is read, must stay untouched. And
// whenever the development host's own reader (which its value check uses)
// accepts a text, the setter must give the same six bytes. The tree code
// links against the host's operations: the scripted test host gives them.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "devhost/values.h"
#include "tree/tree.h"

namespace {

constexpr char kPattern[] = "%hhx-%hhx-%hhx-%hhx-%hhx-%hhx";
constexpr uint64_t kUntouched = 0xA5A5A5A5A5A5A5A5ull;

// libFuzzer keeps the text that did it as the crash artifact.
[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "\n*** %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  tagZormMorValue slot;
  slot.u64 = kUntouched;
  zorm_mor_value::SetMorValue_XML_MAC(&slot, text);

  unsigned char libc[6];
  const bool found = std::sscanf(text.c_str(), kPattern, &libc[0], &libc[1],
                                 &libc[2], &libc[3], &libc[4], &libc[5]) == 6;
  tagZormMorValue want;
  want.u64 = kUntouched;
  if (found) std::memcpy(want.bytes, libc, sizeof(libc));
  if (slot.u64 != want.u64) {
    Fail(found ? "setter and sscanf read other bytes"
               : "setter wrote what sscanf does not read");
  }

  uint8_t host[6];
  if (devhost::ParseMAC(text, host) &&
      (!found || std::memcmp(host, slot.bytes, sizeof(host)) != 0)) {
    Fail("setter and the development host read other bytes");
  }
  return 0;
}
