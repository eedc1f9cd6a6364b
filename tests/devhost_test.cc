// The development host's pieces: the registry's data file checks, the value
// checks, the configuration reader (text that is not strict JSON and content
// that does not fit the registry, each refused with its place; the arrays of
// the compact form) and the json adapter (which configured rows a request
// tree selects, and the shape of the answer).

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "devhost/adapter.h"
#include "devhost/checks.h"
#include "devhost/config.h"
#include "devhost/memory.h"
#include "devhost/registry.h"
#include "devhost/values.h"
#include "tree/tree.h"

namespace devhost {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;
using zorm_mor_value::NodePtr;
namespace mv = zorm_mor_value;

const Registry& BuiltIn() {
  static const Registry* r = Registry::BuiltIn().release();
  return *r;
}

// A small registry of its own for the reader and the adapter, so that these
// tests do not follow the built-in one.
const Registry& Small() {
  static const Registry* r = Registry::Load(json::parse(R"({"tables": [
    {"name": "Base", "number": 1, "columns": [
      {"name": "ProcessingStatus", "column": 1, "type": 1}]},
    {"name": "Capability", "number": 2, "columns": [
      {"name": "L2MaxOffset", "column": 1, "type": 1, "sub": "UserAclL2"},
      {"name": "L2MaxLen", "column": 2, "type": 1, "sub": "UserAclL2"}]},
    {"name": "NamedGroups", "number": 4, "row": "Group", "columns": [
      {"name": "GroupIndex", "column": 3, "type": 22}]},
    {"name": "IPv4BasicRules", "number": 5, "row": "Rule", "columns": [
      {"name": "GroupID", "column": 1, "type": 1},
      {"name": "RuleID", "column": 2, "type": 1, "max": 65534},
      {"name": "SrcAny", "column": 4, "type": 15},
      {"name": "SrcIPv4Addr", "column": 5, "type": 5, "sub": "SrcIPv4"},
      {"name": "SrcIPv4Wildcard", "column": 6, "type": 5, "sub": "SrcIPv4"},
      {"name": "VRF", "column": 9, "type": 6, "maxLength": 31},
      {"name": "Comment", "column": 12, "type": 6},
      {"name": "Count", "column": 14, "type": 8, "min": 1}]},
    {"name": "UserRules", "number": 15, "row": "Rule", "columns": [
      {"name": "SrcIPv6Addr", "column": 1, "type": 6, "sub": "SrcIPv6",
       "format": "ipv6"},
      {"name": "SrcMACAddress", "column": 2, "type": 14, "sub": "SrcMAC"}]},
    {"name": "PfilterIgnoreAction", "number": 26, "columns": [
      {"name": "IgnoreAction", "column": 1, "type": 15}]}]})")).release();
  return *r;
}

// What `load` throws, or "" when it throws nothing.
template <typename F>
std::string Refusal(F load) {
  try {
    load();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

// ---- Registry and value checks --------------------------------------------

TEST(RegistryTest, BadFilesAreRefusedWithTheirPlace) {
  struct Case {
    const char* data;
    const char* error;
  } cases[] = {
      {R"([])", "registry: the registry: must be an object"},
      {R"({"tables": [{"name": "A B", "number": 1, "columns": []}]})",
       "registry: a table: \"name\" must hold letters, digits and '_' only, "
       "not \"A B\""},
      {R"({"tables": [{"name": "T", "number": 0, "columns": []}]})",
       "registry: table \"T\": \"number\" must be a number from 1 to 255"},
      {R"({"tables": [{"name": "T", "number": 1,
                       "columns": [{"name": "C", "column": 1, "type": 7}]}]})",
       "registry: table \"T\": column \"C\": \"type\" 7 is not one of 1, 5, 6, "
       "8, 14, 15, 22"},
      {R"({"tables": [{"name": "T", "number": 1, "columns": [
             {"name": "C", "column": 1, "type": 1, "min": 5, "max": 4}]}]})",
       "registry: table \"T\": column \"C\": \"min\" exceeds \"max\""},
      {R"({"tables": [{"name": "T", "number": 1,
                       "columns": [{"name": "C", "column": 1, "type": 1},
                                   {"name": "D", "column": 1, "type": 1}]}]})",
       "registry: table \"T\": column number 1 is used twice"},
      {R"({"tables": [
             {"name": "T", "number": 1,
              "columns": [{"name": "C", "column": 1, "type": 1}]},
             {"name": "U", "number": 1,
              "columns": [{"name": "C", "column": 1, "type": 1}]}]})",
       "registry: table \"U\": table number 1 is used twice"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Refusal([&] { Registry::Load(json::parse(c.data)); }), c.error)
        << c.data;
  }
}

// The checks find a column by its whole path, in its own case; the walk
// from the root, in the case rules the module relies on, is the contract
// checker's (hostcheck_devhost).
TEST(CheckerTest, AcceptsAndRejectsByColumn) {
  const Checker checker(
      BuiltIn(), {ParseRejectRule("ACL/IPv4BasicRules/Rule/GroupID=2001")});
  const std::string name63(63, 'n'), name64(64, 'n');
  struct Case {
    const char* path;
    std::string text;
    const char* reason;  // "" to accept
  } cases[] = {
      {"ACL/Base/ProcessingStatus", "4294967295", ""},
      {"ACL/Base/ProcessingStatus", "4294967296",
       "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", "+1", "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", " 1", "a number from 0 to 4294967295"},
      {"ACL/IPv4BasicRules/Rule/GroupID", "2999", ""},
      {"ACL/IPv4BasicRules/Rule/GroupID", "3000", "a number from 2000 to 2999"},
      {"ACL/IPv4BasicRules/Rule/Count", "18446744073709551615", ""},
      {"ACL/IPv4BasicRules/Rule/Count", "18446744073709551616",
       "a number from 0 to 18446744073709551615"},
      {"ACL/PfilterIgnoreAction/IgnoreAction", "1", ""},
      {"ACL/PfilterIgnoreAction/IgnoreAction", "true", "0 or 1"},
      {"ACL/IPv4NamedAdvanceRules/Rule/SrcIPv4/SrcIPv4Addr", "10.1.1.0", ""},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr", "10.1.1.256",
       "a dotted IPv4 address, such as 10.1.1.0"},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "00-1a-2B-3c-4D-5e", ""},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "00:1a:2b:3c:4d:5e",
       "a MAC address, such as 00-1a-2b-3c-4d-5e"},
      {"ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Addr", "::ffff:10.1.1.1", ""},
      {"ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Addr", "2001:db8::g",
       "an IPv6 address"},
      {"ACL/IPv4NamedBasicRules/Rule/GroupIndex", name63, ""},
      {"ACL/IPv4NamedBasicRules/Rule/GroupIndex", name64,
       "63 characters at most"},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4Addr", "10.1.1.1", "unknown column"},
      {"ACL/Base/processingstatus", "1", "unknown column"},
      {"ACL/Base", "1", "unknown column"},
      // --reject of one text of a column (of a whole one: e2e RejectTest).
      {"ACL/IPv4BasicRules/Rule/GroupID", "2001", "rejected by --reject"},
      {"ACL/IPv4BasicRules/Rule/GroupID", "2002", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(checker.Judge(c.path, c.text).value_or(""), c.reason)
        << c.path << " \"" << c.text << "\"";
  }
}

// A bad value of every column gets a reason that fits the module's buffer.
TEST(CheckerTest, EveryColumnRejectsWithAShortReason) {
  const Checker checker(BuiltIn(), {});
  const std::string tooLong(5000, 'x');
  for (const RegTable& t : BuiltIn().tables()) {
    for (const RegColumn& c : t.columns) {
      const bool text = c.type == 6 || c.type == 22;
      if (text && !c.maxLength && c.format.empty()) continue;
      std::optional<std::string> reason =
          checker.Judge(c.path, text && c.format.empty() ? tooLong : "x");
      ASSERT_TRUE(reason.has_value()) << c.path;
      EXPECT_LT(reason->size(), 64u) << c.path;
      EXPECT_FALSE(reason->empty()) << c.path;
    }
  }
}

// ---- The configuration reader ---------------------------------------------

// The reader's verdict: "" when it accepts `config`, else its message.
std::string Verdict(std::string_view config) {
  return Refusal([&] { LoadConfig(Small(), config); });
}

// {"IPv4BasicRules": {"Rule": [`rule`]}}
std::string OneRule(const std::string& rule) {
  return R"({"IPv4BasicRules": {"Rule": [)" + rule + "]}}";
}

// The parser's own words are its business; the place (line, column in
// characters, JSON pointer) is the reader's, found on different paths: the
// parser's first pass (structure, strings, UTF-8), the reading (values,
// keys twice, nesting) and after it (the tail).
TEST(ConfigReaderTest, TextThatIsNotStrictJsonIsRefusedAtItsPlace) {
  constexpr char kUtf8[] = "The input is not valid UTF-8";
  const std::string comment = ", at /IPv4BasicRules/Rule/0/Comment: ";
  struct Case {
    std::string config;
    std::string fault;
  } cases[] = {
      {" ", "line 1, column 2: Empty: no JSON found"},
      {R"({"Base": {"ProcessingStatus": 1)",
       "line 1, column 32: JSON document ended early in the middle of an "
       "object or array."},
      {OneRule(R"({"GroupID": 1},)"),
       "line 1, column 45, at /IPv4BasicRules/Rule/1: The JSON document has an "
       "improper structure: missing or superfluous commas, braces, missing "
       "keys, etc."},
      {"{\n \"Base\":\n  {\"ProcessingStatus\": 01}}",
       "line 3, column 24, at /Base/ProcessingStatus: Problem while parsing a "
       "number"},
      {R"({"Base": {}} {})", "line 1, column 14: more text after the top value"},
      {OneRule(R"({"Comment": "é\u12"})"),
       "line 1, column 42" + comment + "Problem while parsing a string"},
      {OneRule("{\"Comment\": \"a\tb\"}"),
       "line 1, column 44" + comment + "Within strings, some characters must "
       "be escaped, we found unescaped characters"},
      {OneRule("{\"Comment\": \"\xC0\xAF\"}"),
       "line 1, column 43" + comment + kUtf8},  // overlong
      {OneRule("{\"Comment\": \"\xE2\x82\"}"),
       "line 1, column 43" + comment + kUtf8},  // cut short
      // A key twice: of a known column, of a table, within a skipped value.
      {R"({"Base": {"ProcessingStatus": 1, "ProcessingStatus": 1}})",
       "line 1, column 34, at /Base/ProcessingStatus: "
       "the key \"ProcessingStatus\" appears twice in one object"},
      {R"({"Base": {}, "Base": {}})",
       "line 1, column 14, at /Base: "
       "the key \"Base\" appears twice in one object"},
      {R"({"Nope": {"k": 0, "k": 1}})",
       "line 1, column 19, at /Nope/k: "
       "the key \"k\" appears twice in one object"},
      {"{\"Nope\": " + std::string(64, '[') + std::string(64, ']') + "}",
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
  const std::string rule0 = "/IPv4BasicRules/Rule/0/";
  struct Case {
    std::string config;
    std::string problems;  // "" when accepted
  } cases[] = {
      // Numbers at and beyond their range.
      {R"({"Base": {"ProcessingStatus": 4294967295}})", ""},
      {R"({"Base": {"ProcessingStatus": 4294967296}})",
       "/Base/ProcessingStatus: expected a number from 0 to 4294967295"},
      {OneRule(R"({"Count": 18446744073709551615, "GroupID": -0})"), ""},
      {OneRule(R"({"Count": 18446744073709551616})"),
       rule0 + "Count: " + kUnsigned},
      {OneRule(R"({"GroupID": -1})"), rule0 + "GroupID: " + kUnsigned},
      {OneRule(R"({"GroupID": 1.5})"), rule0 + "GroupID: " + kUnsigned},
      // The registry's bounds: a request could not name the value.
      {OneRule(R"({"RuleID": 65534, "VRF": ")" + std::string(31, 'v') + "\"}"),
       ""},
      {OneRule(R"({"RuleID": 65535})"),
       rule0 + "RuleID: expected a number from 0 to 65534"},
      {OneRule(R"({"Count": 0})"),
       rule0 + "Count: expected a number from 1 to 18446744073709551615"},
      {OneRule(R"({"VRF": ")" + std::string(32, 'v') + "\"}"),
       rule0 + "VRF: expected 31 characters at most"},
      // Wrong types and names, at every level.
      {OneRule(R"({"GroupID": "2000", "SrcAny": 1, "Comment": ""})"),
       rule0 + "GroupID: " + kUnsigned},
      {OneRule(R"({"SrcAny": 2})"), rule0 + "SrcAny: expected true or false"},
      {OneRule(R"({"Comment": ")" + std::string(65536, 'x') + "\"}"),
       rule0 + "Comment: expected at most 65535 bytes"},
      {OneRule(R"({"Comment": null})"), rule0 + "Comment: expected a string"},
      {OneRule(R"({"SrcIPv4": [{"SrcIPv4Addr": "10.1.1"}]})"),
       rule0 + "SrcIPv4/0/SrcIPv4Addr: expected a dotted IPv4 address, such "
               "as 10.1.1.0"},
      {OneRule(R"({"SrcIPv4": {}})"),
       rule0 + "SrcIPv4: expected a list of SrcIPv4"},
      {OneRule(R"({"SrcIPv4": [5]})"), rule0 + "SrcIPv4/0: expected an object"},
      {R"({"IPv4BasicRules": {"Rule": {}}})",
       "/IPv4BasicRules/Rule: expected a list of rows"},
      {R"({"IPv4BasicRules": {"Rules": []}})",
       R"(/IPv4BasicRules/Rules: unknown row "Rules" (IPv4BasicRules has rows "Rule"))"},
      {R"({"IPv4BasicRules": []})",
       R"(/IPv4BasicRules: expected {"Rule": [...]})"},
      {"[]", "/: expected an object of tables"},
      {"{\"Nope\": " + std::string(63, '[') + std::string(63, ']') + "}",
       "/Nope: unknown table \"Nope\""},  // as deep as allowed
      // In key order, an entry's nested lists after its columns.
      {OneRule(R"({"SrcIPv4": [{"X": 1}], "Z": 1, "Y": 2})"),
       rule0 + "Y: unknown column \"Y\" of IPv4BasicRules; " +
       rule0 + "Z: unknown column \"Z\" of IPv4BasicRules; " +
       rule0 + "SrcIPv4/0/X: unknown column \"X\" of IPv4BasicRules/SrcIPv4"},
      {OneRule(R"({"SrcIPv4": [{"SrcIPv4Addr": 1}], "Z": 1})"),
       rule0 + "Z: unknown column \"Z\" of IPv4BasicRules; " + rule0 +
       "SrcIPv4/0/SrcIPv4Addr: expected a string"},
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
  std::string rules = R"({"GroupID": "x"})";
  for (int i = 1; i < 25; ++i) rules += R"(, {"GroupID": "x"})";
  const std::string verdict = Verdict(OneRule(rules));
  EXPECT_NE(verdict.find("/Rule/19/GroupID: expected an unsigned whole "
                         "number; and 5 more"),
            std::string::npos)
      << verdict;
  EXPECT_EQ(verdict.find("/Rule/20/"), std::string::npos) << verdict;
}

// A file read from disk gives its pages back as the reading passes them; a
// fault found after that is still placed by the text as written.
TEST(ConfigReaderTest, FileFaultsAreReportedAtTheirPlace) {
  const std::string path = testing::TempDir() + "/config_reader_test.json";
  std::string rules = "{\"IPv4BasicRules\": {\"Rule\": [\n";
  const std::string rule = R"({"Comment": ")" + std::string(100, 'c') + "\"}";
  constexpr int kRules = 30000;  // some 3.5 MB: several progress reports
  for (int i = 0; i < kRules; ++i) {
    rules += rule + (i + 1 < kRules ? ",\n" : "");
  }
  std::ofstream(path) << rules << "]}}\n{}";
  EXPECT_EQ(Refusal([&] { LoadConfigFile(Small(), path); }),
            "configuration is not valid JSON: line " +
                std::to_string(kRules + 2) +
                ", column 1: more text after the top value");
  std::remove(path.c_str());
  EXPECT_EQ(Refusal([&] { LoadConfigFile(Small(), path); }),
            "cannot read " + path + ": No such file or directory");
}

TEST(PodArrayTest, KeepsItsRecordsAcrossGrowthAndMoves) {
  // Enough records to pass from an arena to a mapping and grow that twice.
  const uint32_t n = (size_t{8} << 20) / sizeof(uint32_t) + 3;
  PodArray<uint32_t> grown;
  for (uint32_t i = 0; i < n; ++i) grown.push_back(i * 7);
  grown.append(&n, 1);
  grown.append(nullptr, 0);
  const PodArray<uint32_t> moved(std::move(grown));
  EXPECT_EQ(grown.size(), 0u);
  ASSERT_EQ(moved.size(), size_t{n} + 1);
  uint32_t wrong = 0;
  for (uint32_t i = 0; i < n; ++i) wrong += moved[i] != i * 7;
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(moved[n], n);
}

// A large block given back is parked, and the smallest parked block that
// fits is taken again; a taken block is the taker's to free.
TEST(MemoryTest, LargeBlocksGivenBackAreTakenAgain) {
  GiveMemoryBack();
  void* small = TakeBlock(size_t{1} << 20);
  void* large = TakeBlock(size_t{4} << 20);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(large, nullptr);
  GiveBack(large);
  GiveBack(small);
  EXPECT_EQ(TakeBlock(size_t{2} << 20), large);
  EXPECT_EQ(TakeBlock(size_t{512} << 10), small);
  std::free(small);
  std::free(large);
}

// ---- The json adapter -------------------------------------------------------

// Keys of the basic rules and groups in registry order (Rows relies on it);
// elsewhere in orders of their own, which the answer puts in registry order.
// Rules 1 and 7 share their keys; rules 5 and 6 lack one.
constexpr char kConfig[] = R"({
  "IPv4BasicRules": {"Rule": [
    {"GroupID": 2000, "RuleID": 0,
     "SrcIPv4": [{"SrcIPv4Addr": "10.1.1.0", "SrcIPv4Wildcard": "0.0.0.255"}]},
    {"GroupID": 2000, "RuleID": 5,
     "SrcIPv4": [{"SrcIPv4Addr": "172.16.0.10", "SrcIPv4Wildcard": "0.0.0.0"},
                 {"SrcIPv4Addr": "172.16.0.11", "SrcIPv4Wildcard": "0.0.0.255"}],
     "VRF": "mgmt"},
    {"GroupID": 2000, "RuleID": 10},
    {"GroupID": 2001, "RuleID": 0,
     "SrcIPv4": [{"SrcIPv4Addr": "10.1.1.0", "SrcIPv4Wildcard": "0.0.0.255"}]},
    {"GroupID": 2001, "RuleID": 5}, {"GroupID": 2000}, {"RuleID": 5},
    {"GroupID": 2000, "RuleID": 5, "VRF": "x"}
  ]},
  "NamedGroups": {"Group": [
    {"GroupIndex": "a-name-longer-than-eight"}, {"GroupIndex": "short"},
    {"GroupIndex": "a-name-longer-than-eighty"}, {"GroupIndex": "short"}]},
  "UserRules": {"Rule": [{"SrcMAC": [{"SrcMACAddress": "00-1A-2b-3c-4d-5e"}],
                          "SrcIPv6": [{"SrcIPv6Addr": "2001:db8:10::"}]}]},
  "Capability": {"UserAclL2": [{"L2MaxLen": 16, "L2MaxOffset": 64}]},
  "PfilterIgnoreAction": {"IgnoreAction": false}
})";

// The answer of `table` with its rows `picked` of kConfig.
std::string Rows(const std::vector<int>& picked,
                 const std::string& table = "IPv4BasicRules") {
  const std::string& row = Small().Table(table)->row;
  const ordered_json all = ordered_json::parse(kConfig)[table][row];
  ordered_json out = ordered_json::array();
  for (int i : picked) out.push_back(all[i]);
  ordered_json answer;
  answer[table][row] = out;
  return answer.dump();
}

// Adds what `shape` holds to `node` (to the sub-entry list `head` when `node`
// is null): a key names a column of `t`, with its value or null for a
// no-value record, or, holding a list, sub-entries of that name, one per
// element. REQUIRES: `shape` outlives the node (sub-entries keep its keys).
void Fill(tagGrpcTableOrRow* node, const RegTable& t, const ordered_json& shape,
          tagGrpcColumn** head, tagGrpcColumn** tail) {
  for (const auto& [key, v] : shape.items()) {
    if (v.is_array()) {
      for (const ordered_json& element : v) {
        mv::SubEntryPtr e = mv::MakeSubEntry(key.c_str());
        Fill(nullptr, t, element, &e->columnHead, &e->columnTail);
        mv::LinkSubEntryBack(node, std::move(e));
      }
      continue;
    }
    const RegColumn* c = nullptr;
    for (const RegColumn& col : t.columns) {
      if (col.name == key && (node == nullptr || col.sub.empty())) c = &col;
    }
    ASSERT_NE(c, nullptr) << key;
    tagGrpcColumn* r =
        mv::AppendColumn(head, tail, mv::MorId(t.number, c->number));
    if (v.is_null()) continue;
    r->typeCode = c->type;
    r->noValue = 0;
    const std::string text = v.is_string() ? v.get<std::string>() : "";
    if (c->type == mv::kTypeIPv4) {
      ASSERT_EQ(SetIPv4(text.c_str(), &r->value), 0) << text;
    } else if (c->type == mv::kTypeMAC) {
      mv::SetMorValue_XML_MAC(&r->value, text);
    } else if (c->type == mv::kTypeString || c->type == mv::kTypeName) {
      SetText(text.data(), uint32_t(text.size()), &r->value);
    } else {
      r->value.u32 = v.is_boolean() ? v.get<bool>() : v.get<uint32_t>();
    }
  }
}

std::unique_ptr<Adapter> JsonOver(std::string_view config) {
  return MakeJsonAdapter(Small(), LoadConfig(Small(), config));
}

// The adapter's answer to the tree the module builds for `table` from
// `request`: a list of rows (linked front first, as the module links them)
// or an object, the table node's own columns and sub-entries.
std::string Answer(const Adapter& adapter, const char* table,
                   const char* request) {
  const ordered_json shape = ordered_json::parse(request);  // the tree's keys
  tagZormRegNode* acl = Registry::Child(
      Registry::Child(Small().root(), "private", true), "ACL", false);
  tagZormRegNode* node = Registry::Child(acl, table, false);
  NodePtr tree = mv::MakeNode(mv::kTableNode, node);
  const RegTable* t = Small().TableOf(node);
  if (t != nullptr && shape.is_object()) {
    Fill(tree.get(), *t, shape, &tree->columnHead, &tree->columnTail);
  } else if (t != nullptr) {
    for (const ordered_json& row : shape) {
      NodePtr r = mv::MakeNode(mv::kRowNode, node);
      Fill(r.get(), *t, row, &r->columnHead, &r->columnTail);
      mv::LinkRowFront(tree.get(), std::move(r));
    }
  }
  size_t size = 0;
  char* answer = adapter.Answer(tree.get(), "ACL", &size);
  std::string text = answer != nullptr ? answer : "(null)";
  EXPECT_EQ(size, answer != nullptr ? text.size() : 0);
  std::free(answer);
  return text;
}

// The rows or instance a request selects, over kConfig unless a case has a
// configuration of its own. Rows that name a table's first row columns are
// looked up by them; the answer is the one a scan of every row gives.
TEST(AdapterTest, JsonAnswersWhatTheRequestSelectsAsConfigured) {
  const std::vector<int> all = {0, 1, 2, 3, 4, 5, 6, 7};
  struct Case {
    const char* request;
    std::string answer;
    const char* table = "IPv4BasicRules";
    std::string config = kConfig;
  } cases[] = {
      // No-value columns only select; a request without rows asks for all.
      {R"([{"GroupID": null, "RuleID": null, "VRF": null}])", Rows(all)},
      {"[]", Rows(all)},
      // A row matches when every valued column equals the row's value; a
      // column the row omits does not match.
      {R"([{"GroupID": 2000, "RuleID": null}])", Rows({0, 1, 2, 5, 7})},
      {R"([{"GroupID": 2000, "RuleID": 5}])", Rows({1, 7})},
      {R"([{"GroupID": 2000, "RuleID": 7}])", Rows({})},
      {R"([{"GroupID": 2000, "RuleID": 5, "VRF": "x"}])", Rows({7})},
      {R"([{"VRF": "mgmt"}])", Rows({1})},
      {R"([{"RuleID": 5}])", Rows({1, 4, 6, 7})},
      // A sub-entry with values matches one element with all its valued
      // columns; one without values does not filter; every one must match.
      {R"([{"SrcIPv4": [{"SrcIPv4Addr": "172.16.0.11", "SrcIPv4Wildcard": null}]}])",
       Rows({1})},
      {R"([{"SrcIPv4": [{"SrcIPv4Addr": "172.16.0.10", "SrcIPv4Wildcard": "0.0.0.255"}]}])",
       Rows({})},
      {R"([{"GroupID": 2000, "SrcIPv4": [{"SrcIPv4Addr": null}]}])",
       Rows({0, 1, 2, 5, 7})},
      {R"([{"GroupID": 2000, "SrcIPv4": [{"SrcIPv4Addr": "10.1.1.0"}]}])",
       Rows({0})},
      {R"([{"SrcIPv4": [{"SrcIPv4Addr": "10.1.1.0"}, {"SrcIPv4Addr": "172.16.0.11"}]}])",
       Rows({})},
      {R"([{"DstIPv4": [{"SrcIPv4Addr": "10.1.1.0"}]}])", Rows({})},
      // Rows are a union, in configuration order, without duplicates.
      {R"([{"GroupID": 2001}, {"GroupID": 2000, "RuleID": 10}, {"RuleID": 0}])",
       Rows({0, 2, 3, 4})},
      // Names are compared whole, short or long.
      {R"([{"GroupIndex": "short"}])", Rows({1, 3}, "NamedGroups"),
       "NamedGroups"},
      {R"([{"GroupIndex": "a-name-longer-than-eighty"}])",
       Rows({2}, "NamedGroups"), "NamedGroups"},
      // Addresses compare as addresses, whatever their spelling.
      {R"([{"SrcIPv6": [{"SrcIPv6Addr": "2001:DB8:10:0::"}],)"
       R"(  "SrcMAC": [{"SrcMACAddress": "00-1a-2B-3C-4d-5E"}]}])",
       R"({"UserRules":{"Rule":[{"SrcIPv6":[{"SrcIPv6Addr":"2001:db8:10::"}],)"
       R"("SrcMAC":[{"SrcMACAddress":"00-1A-2b-3c-4d-5e"}]}]}})",
       "UserRules"},
      // A single instance is filtered by the table node's columns and
      // sub-entries alike.
      {R"({"UserAclL2": [{"L2MaxOffset": null, "L2MaxLen": 16}]})",
       R"({"Capability":{"UserAclL2":[{"L2MaxOffset":64,"L2MaxLen":16}]}})",
       "Capability"},
      {R"({"UserAclL2": [{"L2MaxOffset": 65}]})", R"({"Capability":{}})",
       "Capability"},
      {R"({"IgnoreAction": false})",
       R"({"PfilterIgnoreAction":{"IgnoreAction":false}})",
       "PfilterIgnoreAction"},
      {"{}", "(null)", "Nope"},  // a node of no table
      {R"([{"GroupIndex": null}])", R"({"NamedGroups":{"Group":[]}})",
       "NamedGroups", "{}"},  // a table not configured
      // Values come back as written, keys in registry order, a nested list
      // at the place of its first column.
      {"[]",
       "{\"IPv4BasicRules\":{\"Rule\":[{\"GroupID\":7,\"RuleID\":0,"
       "\"VRF\":\"t\xC3\xA9/\\\"\\u0001\xF0\x9F\x98\x80\"}]}}",
       "IPv4BasicRules",
       OneRule(R"({"VRF": "t\u00e9\/\"\u0001\ud83d\ude00", "RuleID": -0,)"
               R"( "GroupID": 7})")},
      {"[]",
       R"({"IPv4BasicRules":{"Rule":[{"GroupID":1,"SrcIPv4":[{"SrcIPv4Addr":)"
       R"("010.1.1.0","SrcIPv4Wildcard":"0.0.0.255"}],"VRF":"x"}]}})",
       "IPv4BasicRules",
       OneRule(R"({"VRF": "x", "SrcIPv4": [{"SrcIPv4Wildcard": "0.0.0.255",)"
               R"( "SrcIPv4Addr": "010.1.1.0"}], "GroupID": 1})")},
      {R"({"IgnoreAction": true})",
       R"({"PfilterIgnoreAction":{"IgnoreAction":1}})", "PfilterIgnoreAction",
       R"({"PfilterIgnoreAction": {"IgnoreAction": 1}})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Answer(*JsonOver(c.config), c.table, c.request), c.answer)
        << c.table << " " << c.request << " of " << c.config;
  }
}

// The selected rows come back in order, whatever runs they form: single
// rows, runs within a 64-row word and across words, whole words, the ends.
TEST(AdapterTest, JsonJoinsTheRunsOfSelectedRows) {
  using Ranges = std::vector<std::pair<int, int>>;  // first, last
  const Ranges cases[] = {
      {{5, 5}, {60, 70}, {100, 200}, {250, 250}, {299, 299}},
      {{0, 0}, {63, 64}, {127, 128}},
      {{0, 299}},
      {},
  };
  for (const Ranges& picked : cases) {
    std::string rules, want;
    for (int i = 0; i < 300; ++i) {
      bool in = false;
      for (auto [first, last] : picked) in = in || (i >= first && i <= last);
      const std::string rule = "{\"GroupID\":" +
                               std::to_string(in ? 2001 : 2000) +
                               ",\"RuleID\":" + std::to_string(i) + "}";
      rules += (i ? "," : "") + rule;
      if (in) want += (want.empty() ? "" : ",") + rule;
    }
    EXPECT_EQ(Answer(*JsonOver(OneRule(rules)), "IPv4BasicRules",
                     R"([{"GroupID": 2001}])"),
              "{\"IPv4BasicRules\":{\"Rule\":[" + want + "]}}")
        << picked.size() << " ranges";
  }
}

TEST(AdapterTest, JsonAnswerGivesUpOnceCancelled) {
  std::string rules = R"({"GroupID": 2000})";
  for (int i = 1; i < 10000; ++i) {
    rules += i % 2 ? R"(, {"GroupID": 2001})" : R"(, {"GroupID": 2000})";
  }
  static std::atomic<bool> cancel{false};  // outlives the adapter
  auto adapter = JsonOver(OneRule(rules));
  adapter->GiveUpWhen(&cancel);
  // All rows; half of them by the index; none, after a scan of all.
  for (const char* request :
       {"[]", R"([{"GroupID": 2001}])", R"([{"RuleID": 1}])"}) {
    for (bool cancelled : {false, true}) {
      cancel = cancelled;
      EXPECT_EQ(Answer(*adapter, "IPv4BasicRules", request) == "(null)",
                cancelled)
          << request;
    }
  }
}

}  // namespace
}  // namespace devhost
