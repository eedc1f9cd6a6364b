// Cutting an answer into pieces: bounds, UTF-8 sequences kept whole, and
// either one block that owns everything or a list into the text as it
// stands.

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/split.h"

namespace {

// The pieces of `text`, split in place (`listed`) or into one block; the
// list and the text are released as a host would, so the sanitizer build
// sees any leak.
std::vector<std::string> Split(const std::string& text, size_t max,
                               bool listed) {
  uint64_t count = 99;
  char* copy = strdup(text.c_str());
  char** list = listed ? devhost::ListPieces(copy, text.size(), max, &count)
                       : devhost::SplitText(copy, max, &count);
  EXPECT_NE(list, nullptr);
  EXPECT_EQ(list != nullptr && list[0] == copy, listed)
      << "a listed text is pointed into as it stands";
  std::vector<std::string> pieces;
  for (uint64_t i = 1; list != nullptr && i <= count; ++i) {
    pieces.emplace_back(list[i - 1], list[i] - list[i - 1]);
  }
  std::free(list);
  if (listed) std::free(copy);
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
    for (bool listed : {false, true}) {
      EXPECT_EQ(Split(c.text, c.max, listed), c.pieces)
          << c.text << " / " << c.max;
    }
  }
}

TEST(Split, NullTextGivesNoList) {
  uint64_t count = 7;
  EXPECT_EQ(devhost::SplitText(nullptr, 4, &count), nullptr);
  EXPECT_EQ(count, 0u);
}

}  // namespace
