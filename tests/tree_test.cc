// The MAC setter against sscanf on this machine, for texts where char's
// sign could matter (the fuzzer checks it against sscanf too, but runs on
// the build machine only; this runs in a cross build's tests as well).

#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#include "tree/tree.h"

namespace {

TEST(SetMorValueXmlMac, AgreesWithSscanfOnHighBytes) {
  for (const char* text :
       {"00-1a-2B-3c-4D-5e", "\xff-1-2-3-4-5", "1-2-3-4-5-\x80",
        "1-\xe9-2-3-4-5", "-1-2-3-4-5-6", "1-2-3-4-5-6\xc3\xa9",
        "\xa0" "1-2-3-4-5-6", "1-2-3-4-5- \x85" "6"}) {
    tagZormMorValue slot{};
    zorm_mor_value::SetMorValue_XML_MAC(&slot, text);
    unsigned char b[6];
    tagZormMorValue want{};
    if (std::sscanf(text, "%hhx-%hhx-%hhx-%hhx-%hhx-%hhx", &b[0], &b[1],
                    &b[2], &b[3], &b[4], &b[5]) == 6) {
      std::memcpy(want.bytes, b, sizeof(b));
    }
    EXPECT_EQ(slot.u64, want.u64) << text;
  }
}

}  // namespace
