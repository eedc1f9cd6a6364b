// The MAC setter on the texts where a "%hhx" reading is easy to get wrong:
// prefixes, signs, white space, overflow, text cut short. Each expectation
// is also held against the C library's own reading of the text.

#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "tree/tree.h"

namespace {

struct MacCase {
  const char* name;
  std::string text;
  bool found;
  uint8_t bytes[6];
};

const MacCase kCases[] = {
    {"Plain", "00-1a-2B-3c-4D-5e", true, {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}},
    {"OneDigitGroups", "0-1-2-a-B-f", true, {0, 1, 2, 0xa, 0xb, 0xf}},
    {"Prefixes", "0x0a-0X0B-0xc-00x-0-0", false, {}},
    {"PrefixPerGroup", "0x0a-0X0B-0xc-0-0-0", true, {0xa, 0xb, 0xc, 0, 0, 0}},
    {"PrefixWithoutDigits", "0x-1-0X-3-4-5", true, {0, 1, 0, 3, 4, 5}},
    {"PrefixThenNonDigit", "0xg-1-2-3-4-5", false, {}},
    {"SpaceBeforeGroups", " 1-\t2-\n3- 4-\v5-\f\r6", true, {1, 2, 3, 4, 5, 6}},
    {"SpaceBeforeHyphen", "1 -2-3-4-5-6", false, {}},
    {"Signs", "-1-+a--1-+0x-0-f", true, {0xff, 0x0a, 0xff, 0, 0, 0x0f}},
    {"SignAlone", "+-1-2-3-4-5", false, {}},
    {"SignThenSpace", "- 1-2-3-4-5-6", false, {}},
    {"LowByteKept", "123-4567-89abc-0-0-0", true, {0x23, 0x67, 0xbc, 0, 0, 0}},
    {"SixteenDigits", "ffffffffffffffff--ffffffffffffffff-0-0-0-0", true,
     {0xff, 0x01, 0, 0, 0, 0}},
    {"OverflowSaturates", "1ffffffffffffff00--10000000000000000-0-0-0-0", true,
     {0xff, 0xff, 0, 0, 0, 0}},
    {"LeadingZerosDoNotOverflow", "00000000000000000000000ab-0-0-0-0-0", true,
     {0xab, 0, 0, 0, 0, 0}},
    {"TextAfterSixthIgnored", "00-11-22-33-44-55-66 tail", true,
     {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}},
    {"Colons", "00:11:22:33:44:55", false, {}},
    {"Dotted", "0011.2233.4455", false, {}},
    {"FiveGroups", "00-11-22-33-44", false, {}},
    {"SixthMissing", "00-11-22-33-44-", false, {}},
    {"Empty", "", false, {}},
    {"CutAtNul", std::string("00-11-22\0-33-44-55", 17), false, {}},
};

class MacTextTest : public ::testing::TestWithParam<MacCase> {};

TEST_P(MacTextTest, ReadsAsTheCLibraryDoes) {
  const MacCase& c = GetParam();
  tagZormMorValue slot;
  std::memset(slot.bytes, 0xEE, sizeof(slot.bytes));
  zorm_mor_value::SetMorValue_XML_MAC(&slot, c.text);

  uint8_t want[8];
  std::memset(want, 0xEE, sizeof(want));
  if (c.found) std::memcpy(want, c.bytes, 6);
  EXPECT_EQ(std::memcmp(slot.bytes, want, 8), 0)
      << std::string(reinterpret_cast<char*>(slot.bytes), 8);

  unsigned char b[6];
  const int n = std::sscanf(c.text.c_str(), "%hhx-%hhx-%hhx-%hhx-%hhx-%hhx",
                            &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
  ASSERT_EQ(n == 6, c.found) << "the table disagrees with sscanf";
  if (c.found) {
    EXPECT_EQ(std::memcmp(b, c.bytes, 6), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MacTextTest, ::testing::ValuesIn(kCases),
    [](const ::testing::TestParamInfo<MacCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace
