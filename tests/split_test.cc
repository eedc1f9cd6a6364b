// Cutting an answer into pieces: bounds, UTF-8 sequences kept whole, and one
// block that owns everything.

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/split.h"

namespace {

std::vector<std::string> Split(const std::string& text, size_t max) {
  uint64_t count = 99;
  char** list = devhost::SplitText(strdup(text.c_str()), max, &count);
  EXPECT_NE(list, nullptr);
  std::vector<std::string> pieces;
  for (uint64_t i = 1; list != nullptr && i <= count; ++i) {
    pieces.emplace_back(list[i - 1], list[i] - list[i - 1]);
  }
  std::free(list);  // the one release of list, pieces and text
  return pieces;
}

using Pieces = std::vector<std::string>;

TEST(Split, CutsAtMostMaxBytesAndNeverInsideASequence) {
  struct Case {
    std::string text;
    size_t max;
    Pieces pieces;
  } cases[] = {
      {"", 4, {}},
      {"abc", 4, {"abc"}},
      {"abcd", 4, {"abcd"}},
      {"abcdefghij", 4, {"abcd", "efgh", "ij"}},
      {"ab\xC3\xA9z", 3, {"ab", "\xC3\xA9z"}},             // é kept whole
      {"\xE2\x82\xAC\xE2\x82\xAC", 4, {"\xE2\x82\xAC", "\xE2\x82\xAC"}},
      {"\xF0\x9F\x98\x80!", 2, {"\xF0\x9F\x98\x80", "!"}},  // wider than max
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Split(c.text, c.max), c.pieces) << c.text << " / " << c.max;
  }
}

// Megabytes, as whole-table answers are: the block is grown, not copied.
TEST(Split, ALargeTextComesBackWhole) {
  std::string text;
  for (int i = 0; text.size() < (size_t{3} << 20); ++i) {
    text += i % 3 != 0 ? "ab" : "\xE2\x82\xAC";
  }
  const Pieces pieces = Split(text, 4093);
  std::string joined;
  size_t oversized = 0;
  for (const std::string& p : pieces) {
    joined += p;
    oversized += p.empty() || p.size() > 4093;
  }
  EXPECT_EQ(oversized, 0u);
  EXPECT_TRUE(joined == text);
}

TEST(Split, NullTextGivesNoList) {
  uint64_t count = 7;
  EXPECT_EQ(devhost::SplitText(nullptr, 4, &count), nullptr);
  EXPECT_EQ(count, 0u);
}

}  // namespace
