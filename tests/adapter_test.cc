// The development host's adapters: which configured rows a request tree
// selects and the shape of the answer (json), the echoed tree (echo), the
// configuration checks made up front, and the built-in sample configuration.

#include "devhost/adapter.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/registry.h"
#include "devhost/values.h"
#include "tree/tree.h"

namespace {

using devhost::Registry;
using devhost::RegTable;
using nlohmann::json;
using nlohmann::ordered_json;
using zorm_mor_value::NodePtr;
namespace mv = zorm_mor_value;

// A small registry of its own, so that these tests do not follow the
// built-in one.
constexpr char kRegistry[] = R"({"tables": [
  {"name": "Base", "number": 1, "columns": [
    {"name": "ProcessingStatus", "column": 1, "type": 1}]},
  {"name": "Capability", "number": 2, "columns": [
    {"name": "L2MaxOffset", "column": 1, "type": 1, "sub": "UserAclL2"},
    {"name": "L2MaxLen", "column": 2, "type": 1, "sub": "UserAclL2"}]},
  {"name": "NamedGroups", "number": 4, "row": "Group", "columns": [
    {"name": "GroupIndex", "column": 3, "type": 22}]},
  {"name": "IPv4BasicRules", "number": 5, "row": "Rule", "columns": [
    {"name": "GroupID", "column": 1, "type": 1},
    {"name": "RuleID", "column": 2, "type": 1},
    {"name": "SrcIPv4Addr", "column": 5, "type": 5, "sub": "SrcIPv4"},
    {"name": "SrcIPv4Wildcard", "column": 6, "type": 5, "sub": "SrcIPv4"},
    {"name": "VRF", "column": 9, "type": 6}]},
  {"name": "UserRules", "number": 15, "row": "Rule", "columns": [
    {"name": "SrcIPv6Addr", "column": 1, "type": 6, "sub": "SrcIPv6",
     "format": "ipv6"},
    {"name": "SrcMACAddress", "column": 2, "type": 14, "sub": "SrcMAC"}]},
  {"name": "PfilterIgnoreAction", "number": 26, "columns": [
    {"name": "IgnoreAction", "column": 1, "type": 15}]}]})";

// Keys of the rules in registry order; elsewhere in orders of their own,
// which the answer puts in registry order.
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
     "SrcIPv4": [{"SrcIPv4Addr": "10.1.1.0", "SrcIPv4Wildcard": "0.0.0.255"}]}
  ]},
  "UserRules": {"Rule": [{"SrcMAC": [{"SrcMACAddress": "00-1A-2b-3c-4d-5e"}],
                          "SrcIPv6": [{"SrcIPv6Addr": "2001:db8:10::"}]}]},
  "Capability": {"UserAclL2": [{"L2MaxLen": 16, "L2MaxOffset": 64}]},
  "PfilterIgnoreAction": {"IgnoreAction": false}
})";

// The answer of IPv4BasicRules with the configured rules `picked`.
std::string Rules(const std::vector<int>& picked) {
  const ordered_json rules =
      ordered_json::parse(kConfig)["IPv4BasicRules"]["Rule"];
  ordered_json out = ordered_json::array();
  for (int i : picked) out.push_back(rules[i]);
  return R"({"IPv4BasicRules":{"Rule":)" + out.dump() + "}}";
}

// ---- Building request trees -------------------------------------------------

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
    const devhost::RegColumn* c = nullptr;
    for (const devhost::RegColumn& col : t.columns) {
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
      ASSERT_EQ(devhost::SetIPv4(text.c_str(), &r->value), 0) << text;
    } else if (c->type == mv::kTypeMAC) {
      mv::SetMorValue_XML_MAC(&r->value, text);
    } else if (c->type == mv::kTypeString || c->type == mv::kTypeName) {
      devhost::SetText(text.data(), uint32_t(text.size()), &r->value);
    } else {
      r->value.u32 = v.is_boolean() ? v.get<bool>() : v.get<uint32_t>();
    }
  }
}

const Registry& Small() {
  static const Registry* r = Registry::Load(json::parse(kRegistry)).release();
  return *r;
}

// The tree the module builds for `table` from `request`: a list of rows
// (linked front first, as the module links them) or an object, the table
// node's own columns and sub-entries.
NodePtr Tree(const char* table, const ordered_json& request) {
  tagZormRegNode* acl = Registry::Child(
      Registry::Child(Small().root(), "private", true), "ACL", false);
  tagZormRegNode* node = Registry::Child(acl, table, false);
  NodePtr tree = mv::MakeNode(mv::kTableNode, node);
  const RegTable* t = Small().TableOf(node);
  if (t == nullptr) return tree;
  if (request.is_object()) {
    Fill(tree.get(), *t, request, &tree->columnHead, &tree->columnTail);
    return tree;
  }
  for (const ordered_json& shape : request) {
    NodePtr row = mv::MakeNode(mv::kRowNode, node);
    Fill(row.get(), *t, shape, &row->columnHead, &row->columnTail);
    mv::LinkRowFront(tree.get(), std::move(row));
  }
  return tree;
}

std::string Text(char* answer) {
  std::string text = answer != nullptr ? answer : "(null)";
  std::free(answer);
  return text;
}

// ---- The json adapter -------------------------------------------------------

TEST(AdapterTest, JsonAnswersTheRowsOrInstanceTheRequestSelects) {
  const char* kCapability =
      R"({"Capability":{"UserAclL2":[{"L2MaxOffset":64,"L2MaxLen":16}]}})";
  const char* kIgnore = R"({"PfilterIgnoreAction":{"IgnoreAction":false}})";
  struct Case {
    const char* request;
    std::string answer;
    const char* table = "IPv4BasicRules";
  } cases[] = {
      // No-value columns only select; a request without rows asks for all.
      {R"([{"GroupID": null, "RuleID": null, "VRF": null}])",
       Rules({0, 1, 2, 3})},
      {"[]", Rules({0, 1, 2, 3})},
      // A row matches when every valued column equals the row's value; a
      // column the row omits does not match.
      {R"([{"GroupID": 2000, "RuleID": null}])", Rules({0, 1, 2})},
      {R"([{"GroupID": 2000, "RuleID": 5}])", Rules({1})},
      {R"([{"VRF": "mgmt"}])", Rules({1})},
      // A sub-entry with values matches one element with all its valued
      // columns; one without values does not filter; every one must match.
      {R"([{"SrcIPv4": [{"SrcIPv4Addr": "172.16.0.11", "SrcIPv4Wildcard": null}]}])",
       Rules({1})},
      {R"([{"SrcIPv4": [{"SrcIPv4Addr": "172.16.0.10", "SrcIPv4Wildcard": "0.0.0.255"}]}])",
       Rules({})},
      {R"([{"GroupID": 2000, "SrcIPv4": [{"SrcIPv4Addr": null}]}])",
       Rules({0, 1, 2})},
      {R"([{"GroupID": 2000, "SrcIPv4": [{"SrcIPv4Addr": "10.1.1.0"}]}])",
       Rules({0})},
      {R"([{"SrcIPv4": [{"SrcIPv4Addr": "10.1.1.0"}, {"SrcIPv4Addr": "172.16.0.11"}]}])",
       Rules({})},
      {R"([{"DstIPv4": [{"SrcIPv4Addr": "10.1.1.0"}]}])", Rules({})},
      // Rows are a union, in configuration order, without duplicates.
      {R"([{"GroupID": 2001}, {"GroupID": 2000, "RuleID": 10}, {"RuleID": 0}])",
       Rules({0, 2, 3})},
      // Addresses compare as addresses, whatever their spelling.
      {R"([{"SrcIPv6": [{"SrcIPv6Addr": "2001:DB8:10:0::"}],)"
       R"(  "SrcMAC": [{"SrcMACAddress": "00-1a-2B-3C-4d-5E"}]}])",
       R"({"UserRules":{"Rule":[{"SrcIPv6":[{"SrcIPv6Addr":"2001:db8:10::"}],)"
       R"("SrcMAC":[{"SrcMACAddress":"00-1A-2b-3c-4d-5e"}]}]}})",
       "UserRules"},
      {R"([{"GroupIndex": null}])", R"({"NamedGroups":{"Group":[]}})",
       "NamedGroups"},
      // A single instance is filtered by the table node's columns and
      // sub-entries alike.
      {R"({"UserAclL2": [{"L2MaxOffset": null, "L2MaxLen": 16}]})", kCapability,
       "Capability"},
      {R"({"UserAclL2": [{"L2MaxOffset": 65}]})", R"({"Capability":{}})",
       "Capability"},
      {R"({"IgnoreAction": false})", kIgnore, "PfilterIgnoreAction"},
      {"{}", "(null)", "Nope"},  // a node of no table
  };
  auto adapter = devhost::MakeJsonAdapter(Small(), kConfig);
  for (const Case& c : cases) {
    const ordered_json request = ordered_json::parse(c.request);
    NodePtr tree = Tree(c.table, request);
    EXPECT_EQ(Text(adapter->Answer(tree.get(), "ACL")), c.answer)
        << c.table << " " << c.request;
  }
}

// An answer gives back each configured value as it was written, keys in
// registry order, a nested list at the place of its first column.
TEST(AdapterTest, JsonAnswersKeepConfiguredValuesAsWritten) {
  struct Case {
    const char* config;
    const char* answer;
    const char* table = "IPv4BasicRules";
    const char* request = "[]";
  } cases[] = {
      {R"({"IPv4BasicRules": {"Rule": [{"VRF": "t\u00e9\/\"\u0001\ud83d\ude00",)"
       R"( "RuleID": -0, "GroupID": 7}]}})",
       "{\"IPv4BasicRules\":{\"Rule\":[{\"GroupID\":7,\"RuleID\":0,"
       "\"VRF\":\"t\xC3\xA9/\\\"\\u0001\xF0\x9F\x98\x80\"}]}}"},
      {R"({"IPv4BasicRules": {"Rule": [{"VRF": "x", "SrcIPv4": [)"
       R"({"SrcIPv4Wildcard": "0.0.0.255", "SrcIPv4Addr": "010.1.1.0"}],)"
       R"( "GroupID": 1}]}})",
       R"({"IPv4BasicRules":{"Rule":[{"GroupID":1,"SrcIPv4":[{"SrcIPv4Addr":)"
       R"("010.1.1.0","SrcIPv4Wildcard":"0.0.0.255"}],"VRF":"x"}]}})"},
      {R"({"PfilterIgnoreAction": {"IgnoreAction": 1}})",
       R"({"PfilterIgnoreAction":{"IgnoreAction":1}})", "PfilterIgnoreAction",
       R"({"IgnoreAction": true})"},
  };
  for (const Case& c : cases) {
    auto adapter = devhost::MakeJsonAdapter(Small(), c.config);
    NodePtr tree = Tree(c.table, ordered_json::parse(c.request));
    EXPECT_EQ(Text(adapter->Answer(tree.get(), "ACL")), c.answer) << c.config;
  }
}

// Rows that name a table's first row columns are looked up by them; the
// answer is the one a scan of every row gives: each match once, in
// configuration order, whatever the order of the keys in the file.
TEST(AdapterTest, JsonFindsRowsByTheirKeysAsAScanWould) {
  constexpr char kRules[] = R"([
    {"GroupID": 2001, "RuleID": 5}, {"GroupID": 2000, "RuleID": 5},
    {"GroupID": 2000}, {"GroupID": 2000, "RuleID": 0}, {"RuleID": 5},
    {"GroupID": 2000, "RuleID": 5, "VRF": "x"}])";
  constexpr char kGroups[] = R"([
    {"GroupIndex": "a-name-longer-than-eight"}, {"GroupIndex": "short"},
    {"GroupIndex": "a-name-longer-than-eighty"}, {"GroupIndex": "short"}])";
  const std::string config = std::string(R"({"IPv4BasicRules": {"Rule": )") +
                             kRules + R"(}, "NamedGroups": {"Group": )" +
                             kGroups + "}}";
  auto answer = [&](const char* table, const char* row,
                    const char* rows, const std::vector<int>& picked) {
    const ordered_json all = ordered_json::parse(rows);
    ordered_json out = ordered_json::array();
    for (int i : picked) out.push_back(all[i]);
    return std::string("{\"") + table + "\":{\"" + row + "\":" + out.dump() +
           "}}";
  };
  struct Case {
    const char* request;
    std::vector<int> picked;
    const char* table = "IPv4BasicRules";
  } cases[] = {
      {R"([{"GroupID": 2000, "RuleID": 5}])", {1, 5}},
      {R"([{"GroupID": 2000, "RuleID": null}])", {1, 2, 3, 5}},
      {R"([{"GroupID": 2000, "RuleID": 7}])", {}},
      {R"([{"GroupID": 2000, "RuleID": 5, "VRF": "x"}])", {5}},
      {R"([{"RuleID": 5}])", {0, 1, 4, 5}},
      {R"([{"GroupID": 2000, "RuleID": 0}, {"GroupID": 2001}, {"RuleID": 0}])",
       {0, 3}},
      {R"([{"GroupIndex": "short"}])", {1, 3}, "NamedGroups"},
      {R"([{"GroupIndex": "a-name-longer-than-eighty"}])", {2}, "NamedGroups"},
  };
  auto adapter = devhost::MakeJsonAdapter(Small(), config);
  for (const Case& c : cases) {
    const bool rules = std::string(c.table) == "IPv4BasicRules";
    NodePtr tree = Tree(c.table, ordered_json::parse(c.request));
    EXPECT_EQ(Text(adapter->Answer(tree.get(), "ACL")),
              answer(c.table, rules ? "Rule" : "Group",
                     rules ? kRules : kGroups, c.picked))
        << c.request;
  }
}

TEST(AdapterTest, JsonAnswerGivesUpOnceCancelled) {
  std::string rules;
  for (int i = 0; i < 10000; ++i) {
    rules += (i > 0 ? ",{\"GroupID\":" : "{\"GroupID\":") +
             std::to_string(2000 + i % 2) + "}";
  }
  static std::atomic<bool> cancel{false};  // outlives the adapter
  auto adapter = devhost::MakeJsonAdapter(
      Small(), R"({"IPv4BasicRules": {"Rule": [)" + rules + "]}}");
  adapter->GiveUpWhen(&cancel);
  // All rows; half of them by the index; none, after a scan of all.
  for (const char* request :
       {"[]", R"([{"GroupID": 2001}])", R"([{"RuleID": 1}])"}) {
    NodePtr tree = Tree("IPv4BasicRules", ordered_json::parse(request));
    for (bool cancelled : {false, true}) {
      cancel = cancelled;
      char* answer = adapter->Answer(tree.get(), "ACL");
      EXPECT_EQ(answer == nullptr, cancelled) << request;
      std::free(answer);
    }
  }
}

// ---- The echo adapter -------------------------------------------------------

TEST(AdapterTest, EchoAnswersWithTheTree) {
  const ordered_json request = ordered_json::parse(
      R"([{"GroupID": 2000, "SrcIPv4": [{"SrcIPv4Addr": null}]}])");
  NodePtr tree = Tree("IPv4BasicRules", request);
  EXPECT_EQ(
      Text(devhost::MakeEchoAdapter(Small())->Answer(tree.get(), "ACL")),
      R"({"module":"ACL","table":"IPv4BasicRules","tree":{"kind":"table",)"
      R"("columns":[],"subEntries":[],"rows":[{"kind":"row","columns":[)"
      R"({"morId":"0x02010501","type":1,"noValue":false,"value":2000}],)"
      R"("subEntries":[{"name":"SrcIPv4","columns":[{"morId":"0x02010505",)"
      R"("type":0,"noValue":true}]}]}]}})");
}

// ---- Configuration checks ---------------------------------------------------

TEST(AdapterTest, AConfigurationThatDoesNotFitTheRegistryIsRefused) {
  struct Case {
    const char* config;
    const char* problems;
  } cases[] = {
      {R"({"IPv4BasicRules": {"Rules": []}})",
       R"(/IPv4BasicRules/Rules: unknown row "Rules" (IPv4BasicRules has rows "Rule"))"},
      {R"({"IPv4BasicRules": {"Rule": [{"SrcIPv4": [{"SrcIPv4Addr": "10.1.1"}]}]}})",
       R"(/IPv4BasicRules/Rule/0/SrcIPv4/0/SrcIPv4Addr: expected a dotted IPv4 address)"},
      {R"({"Base": {"ProcessingStatus": 4294967296}, "Nope": {},)"
       R"( "IPv4BasicRules": {"Rule": [{"GroupID": 2000}, {"GroupId": 2000}]}})",
       R"(/Base/ProcessingStatus: expected a number below 2^32; )"
       R"(/IPv4BasicRules/Rule/1/GroupId: unknown column "GroupId" of IPv4BasicRules; )"
       R"(/Nope: unknown table "Nope")"},
  };
  for (const Case& c : cases) {
    std::string message = "(no error)";
    try {
      devhost::MakeJsonAdapter(Small(), c.config);
    } catch (const std::runtime_error& e) {
      message = e.what();
    }
    EXPECT_EQ(
        message,
        std::string("configuration does not fit the registry: ") + c.problems)
        << c.config;
  }
}

TEST(SampleTest, FitsTheBuiltInRegistry) {
  EXPECT_NO_THROW(
      devhost::MakeJsonAdapter(*Registry::BuiltIn(), devhost::SampleConfig()));
}

}  // namespace
