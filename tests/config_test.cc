// The configuration reader: text that is not strict JSON and content that
// does not fit the registry, each refused with its place; and the arrays
// that hold the compact form.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "devhost/config.h"
#include "devhost/config_reader.h"
#include "devhost/registry.h"

namespace devhost {
namespace {

constexpr char kRegistry[] = R"({"tables": [
  {"name": "Base", "number": 1, "columns": [
    {"name": "ProcessingStatus", "column": 1, "type": 1}]},
  {"name": "IPv4BasicRules", "number": 5, "row": "Rule", "columns": [
    {"name": "GroupID", "column": 1, "type": 1},
    {"name": "SrcAny", "column": 4, "type": 15},
    {"name": "SrcIPv4Addr", "column": 5, "type": 5, "sub": "SrcIPv4"},
    {"name": "Comment", "column": 12, "type": 6},
    {"name": "Count", "column": 14, "type": 8}]}]})";

const Registry& Small() {
  static const Registry* r =
      Registry::Load(nlohmann::json::parse(kRegistry)).release();
  return *r;
}

// The reader's verdict: "" when it accepts `config`, else its message.
std::string Verdict(std::string_view config) {
  try {
    LoadConfig(Small(), config);
    return "";
  } catch (const std::runtime_error& e) {
    return e.what();
  }
}

// {"IPv4BasicRules": {"Rule": [`rule`]}}
std::string OneRule(const std::string& rule) {
  return R"({"IPv4BasicRules": {"Rule": [)" + rule + "]}}";
}

TEST(ConfigReaderTest, TextThatIsNotStrictJsonIsRefusedAtItsPlace) {
  // The parser's words.
  constexpr char kStructure[] =
      "The JSON document has an improper structure: missing or superfluous "
      "commas, braces, missing keys, etc.";
  constexpr char kNumber[] = "Problem while parsing a number";
  constexpr char kString[] = "Problem while parsing a string";
  constexpr char kUtf8[] = "The input is not valid UTF-8";
  const std::string deep = "{\"Nope\": " + std::string(64, '[');
  std::string wide = "{\"Nope\": {";
  for (int i = 0; i < 20; ++i) wide += "\"k" + std::to_string(i) + "\": 0, ";
  wide += "\"k3\": 0}}";
  const std::string comment = ", at /IPv4BasicRules/Rule/0/Comment: ";
  struct Case {
    std::string config;
    std::string fault;
  } cases[] = {
      // Truncated.
      {" ", "line 1, column 2: Empty: no JSON found"},
      {R"({"Base": {"ProcessingStatus": 1)",
       "line 1, column 32: JSON document ended early in the middle of an "
       "object or array."},
      {OneRule(R"({"GroupID": 1},)"),
       std::string("line 1, column 45, at /IPv4BasicRules/Rule/1: ") +
           kStructure},
      // Grammar: leading zeros, fractions, commas, comments, tail.
      {"{\n \"Base\":\n  {\"ProcessingStatus\": 01}}",
       std::string("line 3, column 24, at /Base/ProcessingStatus: ") + kNumber},
      {R"({"Base": {"ProcessingStatus": 1.}})",
       std::string("line 1, column 31, at /Base/ProcessingStatus: ") + kNumber},
      {R"({"Base": {"ProcessingStatus": 1,}})",
       std::string("line 1, column 33, at /Base/ProcessingStatus: ") +
           kStructure},
      {"{\"Base\": {} // note\n}",
       std::string("line 1, column 13, at /Base: ") + kStructure},
      {R"({"Base": {}} {})", "line 1, column 14: more text after the top value"},
      // Escapes and UTF-8; the column counts characters.
      {OneRule(R"({"Comment": "\u00e9a\qb"})"),
       "line 1, column 42" + comment + kString},
      {OneRule(R"({"Comment": "é\u12"})"),
       "line 1, column 42" + comment + kString},
      {OneRule(R"({"Comment": "\ud800x"})"),
       "line 1, column 42" + comment + kString},
      {OneRule("{\"Comment\": \"a\tb\"}"),
       "line 1, column 44, at /IPv4BasicRules/Rule/0/Comment: Within strings, "
       "some characters must be escaped, we found unescaped characters"},
      {OneRule("{\"Comment\": \"\xC0\xAF\"}"),
       "line 1, column 43" + comment + kUtf8},  // overlong
      {OneRule("{\"Comment\": \"\xE2\x82\"}"),
       "line 1, column 43" + comment + kUtf8},  // cut short
      // A key twice, in a small object and in a large one; nesting.
      {R"({"Base": {"ProcessingStatus": 1, "ProcessingStatus": 1}})",
       "line 1, column 34, at /Base/ProcessingStatus: "
       "the key \"ProcessingStatus\" appears twice in one object"},
      {R"({"Base": {}, "Base": {}})",
       "line 1, column 14, at /Base: "
       "the key \"Base\" appears twice in one object"},
      {wide, "line 1, column 201, at /Nope/k3: "
             "the key \"k3\" appears twice in one object"},
      {deep + std::string(64, ']') + "}",
       "line 1, column 73, at /Nope/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/"
       "0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/0/"
       "0/0/0/0/0/0/0/0: containers nested more than 64 deep"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Verdict(c.config), "configuration is not valid JSON: " + c.fault)
        << c.config;
  }
}

TEST(ConfigReaderTest, ValuesThatDoNotFitTheRegistryAreRefusedAtTheirPlace) {
  constexpr char kUnsigned[] = "expected an unsigned whole number";
  const std::string deepest =
      "{\"Nope\": " + std::string(63, '[') + std::string(63, ']') + "}";
  struct Case {
    std::string config;
    std::string problems;  // "" when accepted
  } cases[] = {
      // Numbers at and beyond their range.
      {R"({"Base": {"ProcessingStatus": 4294967295}})", ""},
      {R"({"Base": {"ProcessingStatus": 4294967296}})",
       "/Base/ProcessingStatus: expected a number below 2^32"},
      {OneRule(R"({"Count": 18446744073709551615, "GroupID": -0})"), ""},
      {OneRule(R"({"Count": 18446744073709551616})"),
       std::string("/IPv4BasicRules/Rule/0/Count: ") + kUnsigned},
      {OneRule(R"({"GroupID": -1})"),
       std::string("/IPv4BasicRules/Rule/0/GroupID: ") + kUnsigned},
      {OneRule(R"({"GroupID": 1.5})"),
       std::string("/IPv4BasicRules/Rule/0/GroupID: ") + kUnsigned},
      // Wrong types, at every level.
      {OneRule(R"({"GroupID": "2000", "SrcAny": 1, "Comment": ""})"),
       std::string("/IPv4BasicRules/Rule/0/GroupID: ") + kUnsigned},
      {OneRule(R"({"SrcAny": 2})"),
       "/IPv4BasicRules/Rule/0/SrcAny: expected true or false"},
      {OneRule(R"({"Comment": ")" + std::string(65536, 'x') + "\"}"),
       "/IPv4BasicRules/Rule/0/Comment: expected at most 65535 bytes"},
      {OneRule(R"({"Comment": null})"),
       "/IPv4BasicRules/Rule/0/Comment: expected a string"},
      {OneRule(R"({"SrcIPv4": {}})"),
       "/IPv4BasicRules/Rule/0/SrcIPv4: expected a list of SrcIPv4"},
      {OneRule(R"({"SrcIPv4": [5]})"),
       "/IPv4BasicRules/Rule/0/SrcIPv4/0: expected an object"},
      {R"({"IPv4BasicRules": {"Rule": {}}})",
       "/IPv4BasicRules/Rule: expected a list of rows"},
      {R"({"IPv4BasicRules": []})",
       R"(/IPv4BasicRules: expected {"Rule": [...]})"},
      {"[]", "/: expected an object of tables"},
      {deepest, "/Nope: unknown table \"Nope\""},  // as deep as allowed
      // In key order, an entry's nested lists after its columns; twenty in
      // full, the rest counted.
      {OneRule(R"({"SrcIPv4": [{"X": 1}], "Z": 1, "Y": 2})"),
       "/IPv4BasicRules/Rule/0/Y: unknown column \"Y\" of IPv4BasicRules; "
       "/IPv4BasicRules/Rule/0/Z: unknown column \"Z\" of IPv4BasicRules; "
       "/IPv4BasicRules/Rule/0/SrcIPv4/0/X: "
       "unknown column \"X\" of IPv4BasicRules/SrcIPv4"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Verdict(c.config),
              c.problems.empty()
                  ? ""
                  : "configuration does not fit the registry: " + c.problems)
        << c.config;
  }
}

TEST(ConfigReaderTest, ProblemsBeyondTwentyAreCounted) {
  std::string rules;
  for (int i = 0; i < 25; ++i) {
    rules += std::string(i > 0 ? "," : "") + R"({"GroupID": "x"})";
  }
  const std::string verdict =
      Verdict(R"({"IPv4BasicRules": {"Rule": [)" + rules + "]}}");
  EXPECT_NE(verdict.find("/Rule/19/GroupID: expected an unsigned whole "
                         "number; and 5 more"),
            std::string::npos)
      << verdict;
  EXPECT_EQ(verdict.find("/Rule/20/"), std::string::npos) << verdict;
}

// ---- Arrays of the compact form -----------------------------------------------

TEST(PodArrayTest, KeepsItsRecordsAcrossGrowthMovesAndShrinking) {
  // Enough records to pass from malloc to a mapping and grow that twice.
  const uint32_t n = 4 * PodArray<uint32_t>::kMapFrom / sizeof(uint32_t) + 3;
  PodArray<uint32_t> grown;
  for (uint32_t i = 0; i < n; ++i) grown.push_back(i * 7);
  grown.append(&n, 1);
  grown.ShrinkToFit();
  PodArray<uint32_t> moved;
  moved = std::move(grown);
  ASSERT_EQ(moved.size(), size_t{n} + 1);
  EXPECT_EQ(grown.size(), 0u);
  uint32_t wrong = 0;
  for (uint32_t i = 0; i < n; ++i) wrong += moved[i] != i * 7;
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(moved[n], n);
}

}  // namespace
}  // namespace devhost
