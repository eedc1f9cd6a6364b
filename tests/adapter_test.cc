// The development host's adapters: which configured rows a request tree
// selects and the shape of the answer (json), the echoed tree (echo), the
// configuration checks made up front, and the built-in sample configuration.

#include "devhost/adapter.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devhost/checks.h"
#include "devhost/registry.h"
#include "devhost/values.h"
#include "tree/tree.h"

// The tree's release asks the registry how string slots are released.
extern "C" const tagZormTypeInfo* ZORM_GetTypeInfo(uint32_t typeCode) {
  return devhost::TypeInfo(typeCode);
}

namespace {

using devhost::Registry;
using nlohmann::json;
using zorm_mor_value::NodePtr;

// A small registry of its own, so that these tests do not follow the
// built-in one.
constexpr char kRegistry[] = R"({"module": "ACL", "tables": [
  {"name": "Base", "number": 1, "columns": [
    {"name": "ProcessingStatus", "column": 1, "type": 1}]},
  {"name": "Capability", "number": 2, "columns": [
    {"name": "L2MaxOffset", "column": 1, "type": 1, "sub": "UserAclL2"},
    {"name": "L2MaxLen", "column": 2, "type": 1, "sub": "UserAclL2"},
    {"name": "L4MaxOffset", "column": 3, "type": 1, "sub": "UserAclL4"},
    {"name": "L4MaxLen", "column": 4, "type": 1, "sub": "UserAclL4"}]},
  {"name": "NamedGroups", "number": 4, "row": "Group", "columns": [
    {"name": "GroupIndex", "column": 3, "type": 22}]},
  {"name": "IPv4BasicRules", "number": 5, "row": "Rule", "columns": [
    {"name": "GroupID", "column": 1, "type": 1},
    {"name": "RuleID", "column": 2, "type": 1},
    {"name": "SrcAny", "column": 4, "type": 15},
    {"name": "SrcIPv4Addr", "column": 5, "type": 5, "sub": "SrcIPv4"},
    {"name": "SrcIPv4Wildcard", "column": 6, "type": 5, "sub": "SrcIPv4"},
    {"name": "VRF", "column": 9, "type": 6},
    {"name": "Count", "column": 14, "type": 8}]},
  {"name": "IPv6BasicRules", "number": 7, "row": "Rule", "columns": [
    {"name": "GroupID", "column": 1, "type": 1},
    {"name": "SrcIPv6Addr", "column": 5, "type": 6, "sub": "SrcIPv6",
     "format": "ipv6"},
    {"name": "SrcIPv6Prefix", "column": 6, "type": 1, "sub": "SrcIPv6"}]},
  {"name": "MACRules", "number": 13, "row": "Rule", "columns": [
    {"name": "RuleID", "column": 2, "type": 1},
    {"name": "SrcMACAddress", "column": 4, "type": 14, "sub": "SrcMACAddr"},
    {"name": "SrcMACMask", "column": 5, "type": 14, "sub": "SrcMACAddr"}]},
  {"name": "PfilterIgnoreAction", "number": 26, "columns": [
    {"name": "IgnoreAction", "column": 1, "type": 15}]}]})";

// Keys in an order of their own: the answer lists them in registry order.
constexpr char kConfig[] = R"({
  "IPv4BasicRules": {"Rule": [
    {"Count": 6442450944, "GroupID": 2000, "RuleID": 0, "SrcAny": false,
     "SrcIPv4": [{"SrcIPv4Wildcard": "0.0.0.255", "SrcIPv4Addr": "10.1.1.0"}]},
    {"GroupID": 2000, "RuleID": 5, "SrcAny": false, "VRF": "mgmt",
     "SrcIPv4": [{"SrcIPv4Addr": "172.16.0.10", "SrcIPv4Wildcard": "0.0.0.0"},
                 {"SrcIPv4Addr": "172.16.0.11", "SrcIPv4Wildcard": "0.0.0.0"}]},
    {"GroupID": 2000, "RuleID": 10, "SrcAny": true},
    {"GroupID": 2001, "RuleID": 0, "SrcAny": false,
     "SrcIPv4": [{"SrcIPv4Addr": "10.1.1.0", "SrcIPv4Wildcard": "0.0.0.255"}]}
  ]},
  "IPv6BasicRules": {"Rule": [
    {"GroupID": 2000,
     "SrcIPv6": [{"SrcIPv6Addr": "2001:db8:10::", "SrcIPv6Prefix": 48}]}]},
  "MACRules": {"Rule": [
    {"RuleID": 0, "SrcMACAddr": [{"SrcMACAddress": "00-1A-2b-3c-4d-5e",
                                  "SrcMACMask": "ff-ff-ff-ff-ff-ff"}]},
    {"RuleID": 5}]},
  "Capability": {"UserAclL4": [{"L4MaxOffset": 60, "L4MaxLen": 16}],
                 "UserAclL2": [{"L2MaxOffset": 64, "L2MaxLen": 16}]},
  "PfilterIgnoreAction": {"IgnoreAction": false}
})";

// The configured IPv4 basic rules as the answer renders them.
const std::string kRule[] = {
    R"({"GroupID":2000,"RuleID":0,"SrcAny":false,"SrcIPv4":[{"SrcIPv4Addr":)"
    R"("10.1.1.0","SrcIPv4Wildcard":"0.0.0.255"}],"Count":6442450944})",
    R"({"GroupID":2000,"RuleID":5,"SrcAny":false,"SrcIPv4":[{"SrcIPv4Addr":)"
    R"("172.16.0.10","SrcIPv4Wildcard":"0.0.0.0"},{"SrcIPv4Addr":)"
    R"("172.16.0.11","SrcIPv4Wildcard":"0.0.0.0"}],"VRF":"mgmt"})",
    R"({"GroupID":2000,"RuleID":10,"SrcAny":true})",
    R"({"GroupID":2001,"RuleID":0,"SrcAny":false,"SrcIPv4":[{"SrcIPv4Addr":)"
    R"("10.1.1.0","SrcIPv4Wildcard":"0.0.0.255"}]})",
};

// ---- Building request trees -------------------------------------------------

// One column record: `type` 0 is a no-value record.
struct Col {
  uint8_t column;
  uint32_t type = 0;
  uint64_t number = 0;
  std::string text;  // strings, IPv4 and MAC texts
};
Col NoValue(uint8_t c) { return {c, 0, 0, ""}; }
Col U32(uint8_t c, uint32_t v) { return {c, zorm_mor_value::kTypeU32, v, ""}; }
Col U64(uint8_t c, uint64_t v) { return {c, zorm_mor_value::kTypeU64, v, ""}; }
Col Bool(uint8_t c, bool v) { return {c, zorm_mor_value::kTypeBool, v, ""}; }
Col Str(uint8_t c, std::string s) {
  return {c, zorm_mor_value::kTypeString, 0, std::move(s)};
}
Col IPv4(uint8_t c, std::string s) {
  return {c, zorm_mor_value::kTypeIPv4, 0, std::move(s)};
}
Col MAC(uint8_t c, std::string s) {
  return {c, zorm_mor_value::kTypeMAC, 0, std::move(s)};
}

struct Sub {
  const char* name;
  std::vector<Col> columns;
};

// A row, or the table node's own columns and sub-entries.
struct Node {
  std::vector<Col> columns;
  std::vector<Sub> subs;
};

void Append(tagGrpcColumn** head, tagGrpcColumn** tail, uint8_t table,
            const Col& c) {
  tagGrpcColumn* record = zorm_mor_value::AppendColumn(
      head, tail, zorm_mor_value::MorId(table, c.column));
  ASSERT_NE(record, nullptr);
  if (c.type == 0) return;
  record->typeCode = c.type;
  record->noValue = 0;
  switch (c.type) {
    case zorm_mor_value::kTypeU32:
    case zorm_mor_value::kTypeBool:
      record->value.u32 = static_cast<uint32_t>(c.number);
      break;
    case zorm_mor_value::kTypeU64:
      record->value.u64 = c.number;
      break;
    case zorm_mor_value::kTypeIPv4:
      ASSERT_EQ(devhost::SetIPv4(c.text.c_str(), &record->value), 0) << c.text;
      break;
    case zorm_mor_value::kTypeMAC:
      zorm_mor_value::SetMorValue_XML_MAC(&record->value, c.text);
      break;
    default:
      ASSERT_EQ(devhost::SetText(c.text.data(),
                                 static_cast<uint32_t>(c.text.size()),
                                 &record->value),
                0);
  }
}

void Fill(tagGrpcTableOrRow* node, uint8_t table, const Node& spec) {
  for (const Col& c : spec.columns) {
    Append(&node->columnHead, &node->columnTail, table, c);
  }
  for (const Sub& s : spec.subs) {
    zorm_mor_value::SubEntryPtr entry = zorm_mor_value::MakeSubEntry(s.name);
    ASSERT_NE(entry, nullptr);
    for (const Col& c : s.columns) {
      Append(&entry->columnHead, &entry->columnTail, table, c);
    }
    zorm_mor_value::LinkSubEntryBack(node, std::move(entry));
  }
}

class AdapterTest : public ::testing::Test {
 protected:
  AdapterTest()
      : registry_(Registry::Load(json::parse(kRegistry))),
        json_(devhost::MakeJsonAdapter(*registry_, json::parse(kConfig))),
        echo_(devhost::MakeEchoAdapter(*registry_)) {}

  tagZormRegNode* TableNode(const char* table) const {
    tagZormRegNode* node = Registry::Child(registry_->root(), "private", true);
    node = Registry::Child(node, "ACL", false);
    return Registry::Child(node, table, false);
  }

  // The tree the module builds: `rows` in request order, linked front first
  // so that the last one heads the list.
  NodePtr Tree(const char* table, const Node& own,
               const std::vector<Node>& rows = {}) const {
    tagZormRegNode* regNode = TableNode(table);
    EXPECT_NE(regNode, nullptr) << table;
    const uint8_t number = registry_->TableOf(regNode)->number;
    NodePtr tree =
        zorm_mor_value::MakeNode(zorm_mor_value::kTableNode, regNode);
    Fill(tree.get(), number, own);
    for (const Node& spec : rows) {
      NodePtr row = zorm_mor_value::MakeNode(zorm_mor_value::kRowNode, regNode);
      Fill(row.get(), number, spec);
      zorm_mor_value::LinkRowFront(tree.get(), std::move(row));
    }
    return tree;
  }

  static std::string Text(char* answer) {
    if (answer == nullptr) return "(null)";
    std::string text(answer);
    std::free(answer);
    return text;
  }

  std::string Json(const NodePtr& tree) const {
    return Text(json_->Answer(tree.get(), "ACL"));
  }
  std::string Rules(const std::vector<Node>& rows) const {
    return Json(Tree("IPv4BasicRules", {}, rows));
  }

  std::unique_ptr<Registry> registry_;
  std::unique_ptr<devhost::Adapter> json_;
  std::unique_ptr<devhost::Adapter> echo_;
};

std::string RuleAnswer(const std::vector<int>& picked) {
  std::string out = R"({"IPv4BasicRules":{"Rule":[)";
  for (size_t i = 0; i < picked.size(); ++i) {
    out += (i > 0 ? "," : "") + kRule[picked[i]];
  }
  return out + "]}}";
}

// The row columns of an IPv4 basic rule, as the module sends them when the
// request sets nothing.
std::vector<Col> Unset() {
  return {NoValue(1), NoValue(2), NoValue(4), NoValue(9), NoValue(14)};
}

// ---- The json adapter -------------------------------------------------------

TEST_F(AdapterTest, RowsAreSelectedByTheirValuedColumnsAndSubEntries) {
  struct Case {
    const char* what;
    std::vector<Node> rows;
    std::vector<int> picked;  // configured rows, in configuration order
  } cases[] = {
      {"no-value columns only select", {{Unset(), {}}}, {0, 1, 2, 3}},
      {"a valued column", {{{U32(1, 2000), NoValue(2)}, {}}}, {0, 1, 2}},
      {"every valued column", {{{U32(1, 2000), U32(2, 5)}, {}}}, {1}},
      {"false is 0", {{{Bool(4, false)}, {}}}, {0, 1, 3}},
      {"true is 1", {{{Bool(4, true)}, {}}}, {2}},
      {"a column the row omits", {{{Str(9, "mgmt")}, {}}}, {1}},
      {"strings compare exactly", {{{Str(9, "MGMT")}, {}}}, {}},
      {"64-bit numbers", {{{U64(14, 6442450944)}, {}}}, {0}},
      {"64-bit numbers, not their low half", {{{U64(14, 2147483648)}, {}}}, {}},
      {"a column the registry lacks", {{{U32(40, 1)}, {}}}, {}},
      {"a sub-entry matches one element",
       {{{}, {{"SrcIPv4", {IPv4(5, "172.16.0.11"), NoValue(6)}}}}},
       {1}},
      {"all valued columns of one element",
       {{{}, {{"SrcIPv4", {IPv4(5, "172.16.0.10"), IPv4(6, "0.0.0.255")}}}}},
       {}},
      {"a sub-entry without values does not filter",
       {{{U32(1, 2000)}, {{"SrcIPv4", {NoValue(5), NoValue(6)}}}}},
       {0, 1, 2}},
      {"a row without the list does not match a valued sub-entry",
       {{{U32(1, 2000)}, {{"SrcIPv4", {IPv4(5, "10.1.1.0")}}}}},
       {0}},
      {"every sub-entry must match",
       {{{},
         {{"SrcIPv4", {IPv4(5, "172.16.0.10")}},
          {"SrcIPv4", {IPv4(5, "172.16.0.11")}}}}},
       {1}},
      {"every sub-entry must match, not just one",
       {{{},
         {{"SrcIPv4", {IPv4(5, "10.1.1.0")}},
          {"SrcIPv4", {IPv4(5, "172.16.0.11")}}}}},
       {}},
      {"a sub-entry of another name",
       {{{}, {{"DstIPv4", {IPv4(5, "10.1.1.0")}}}}},
       {}},
      {"rows are a union in configuration order",
       {{{U32(1, 2001)}, {}},
        {{U32(1, 2000), U32(2, 10)}, {}},
        {{U32(1, 2000), U32(2, 0)}, {}}},
       {0, 2, 3}},
      {"without duplicates",
       {{{U32(2, 0)}, {}}, {{U32(1, 2000)}, {}}, {{Bool(4, false)}, {}}},
       {0, 1, 2, 3}},
      {"a request without rows asks for all", {}, {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Rules(c.rows), RuleAnswer(c.picked)) << c.what;
  }
}

TEST_F(AdapterTest, AddressesCompareAsAddresses) {
  struct Case {
    const char* table;
    Node row;
    const char* answer;
  } cases[] = {
      {"IPv6BasicRules",
       {{}, {{"SrcIPv6", {Str(5, "2001:DB8:10:0::"), U32(6, 48)}}}},
       R"({"IPv6BasicRules":{"Rule":[{"GroupID":2000,"SrcIPv6":[{"SrcIPv6Addr":)"
       R"("2001:db8:10::","SrcIPv6Prefix":48}]}]}})"},
      {"IPv6BasicRules",
       {{}, {{"SrcIPv6", {Str(5, "2001:db8:11::")}}}},
       R"({"IPv6BasicRules":{"Rule":[]}})"},
      {"IPv6BasicRules",  // not an address: compared as text, and unequal
       {{}, {{"SrcIPv6", {Str(5, "2001:db8:10::/48")}}}},
       R"({"IPv6BasicRules":{"Rule":[]}})"},
      {"MACRules",
       {{}, {{"SrcMACAddr", {MAC(4, "00-1a-2B-3C-4d-5E"), NoValue(5)}}}},
       R"({"MACRules":{"Rule":[{"RuleID":0,"SrcMACAddr":[{"SrcMACAddress":)"
       R"("00-1A-2b-3c-4d-5e","SrcMACMask":"ff-ff-ff-ff-ff-ff"}]}]}})"},
      {"MACRules",
       {{}, {{"SrcMACAddr", {MAC(4, "00-1a-2b-3c-4d-5f")}}}},
       R"({"MACRules":{"Rule":[]}})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Json(Tree(c.table, {}, {c.row})), c.answer);
  }
}

TEST_F(AdapterTest, SingleInstanceTablesAnswerTheWholeInstanceOrNothing) {
  const char* kCapability =
      R"({"Capability":{"UserAclL2":[{"L2MaxOffset":64,"L2MaxLen":16}],)"
      R"("UserAclL4":[{"L4MaxOffset":60,"L4MaxLen":16}]}})";
  struct Case {
    const char* table;
    Node own;
    const char* answer;
  } cases[] = {
      {"Capability", {}, kCapability},
      {"Capability",
       {{}, {{"UserAclL4", {NoValue(3), U32(4, 16)}}}},
       kCapability},
      {"Capability",
       {{}, {{"UserAclL2", {U32(1, 64)}}, {"UserAclL4", {U32(3, 60)}}}},
       kCapability},
      {"Capability", {{}, {{"UserAclL2", {U32(1, 65)}}}}, R"({"Capability":{}})"},
      {"PfilterIgnoreAction", {{NoValue(1)}, {}},
       R"({"PfilterIgnoreAction":{"IgnoreAction":false}})"},
      {"PfilterIgnoreAction", {{Bool(1, false)}, {}},
       R"({"PfilterIgnoreAction":{"IgnoreAction":false}})"},
      {"PfilterIgnoreAction", {{Bool(1, true)}, {}},
       R"({"PfilterIgnoreAction":{}})"},
      {"Base", {{NoValue(1)}, {}}, R"({"Base":{}})"},  // not configured
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Json(Tree(c.table, c.own)), c.answer) << c.table;
  }
}

TEST_F(AdapterTest, AnUnconfiguredRowTableAnswersNoRows) {
  EXPECT_EQ(Json(Tree("NamedGroups", {}, {{{NoValue(3)}, {}}})),
            R"({"NamedGroups":{"Group":[]}})");
}

TEST_F(AdapterTest, ATreeOfNoKnownTableHasNoAnswer) {
  NodePtr tree = zorm_mor_value::MakeNode(zorm_mor_value::kTableNode, nullptr);
  EXPECT_EQ(Text(json_->Answer(tree.get(), "ACL")), "(null)");
  EXPECT_EQ(Text(json_->Answer(nullptr, "ACL")), "(null)");
}

// ---- The echo adapter -------------------------------------------------------

TEST_F(AdapterTest, EchoAnswersWithTheTree) {
  NodePtr tree = Tree("IPv4BasicRules", {},
                      {{{U32(1, 2000), NoValue(9)},
                        {{"SrcIPv4", {IPv4(5, "10.1.1.0"), NoValue(6)}}}}});
  EXPECT_EQ(
      Text(echo_->Answer(tree.get(), "ACL")),
      R"({"module":"ACL","table":"IPv4BasicRules","tree":{"kind":"table",)"
      R"("columns":[],"subEntries":[],"rows":[{"kind":"row","columns":[)"
      R"({"morId":"0x02010501","type":1,"noValue":false,"value":2000},)"
      R"({"morId":"0x02010509","type":0,"noValue":true}],"subEntries":[)"
      R"({"name":"SrcIPv4","columns":[{"morId":"0x02010505","type":5,)"
      R"("noValue":false,"value":"10.1.1.0"},{"morId":"0x02010506","type":0,)"
      R"("noValue":true}]}]}]}})");

  NodePtr base = Tree("Base", {{U32(1, 0)}, {}});
  EXPECT_EQ(Text(echo_->Answer(base.get(), "ACL")),
            R"({"module":"ACL","table":"Base","tree":{"kind":"table","columns":[)"
            R"({"morId":"0x02010101","type":1,"noValue":false,"value":0}],)"
            R"("subEntries":[],"rows":[]}})");
}

// ---- Configuration checks ---------------------------------------------------

TEST_F(AdapterTest, AConfigurationThatDoesNotFitTheRegistryIsRefused) {
  struct Case {
    const char* config;
    const char* problems;
  } cases[] = {
      {R"([])", R"(/: expected an object of tables)"},
      {R"({"Nope": {}})", R"(/Nope: unknown table "Nope")"},
      {R"({"IPv4BasicRules": {"Rules": []}})",
       R"(/IPv4BasicRules/Rules: unknown row "Rules" (IPv4BasicRules has rows "Rule"))"},
      {R"({"IPv4BasicRules": [{"GroupID": 2000}]})",
       R"(/IPv4BasicRules: expected {"Rule": [...]})"},
      {R"({"IPv4BasicRules": {"Rule": {}}})",
       R"(/IPv4BasicRules/Rule: expected a list of rows)"},
      {R"({"IPv4BasicRules": {"Rule": [{"GroupID": 2000}, {"GroupId": 2000}]}})",
       R"(/IPv4BasicRules/Rule/1/GroupId: unknown column "GroupId" of IPv4BasicRules)"},
      {R"({"IPv4BasicRules": {"Rule": [{"SrcIPv4Addr": "10.0.0.1"}]}})",
       R"(/IPv4BasicRules/Rule/0/SrcIPv4Addr: unknown column "SrcIPv4Addr" of IPv4BasicRules)"},
      {R"({"IPv4BasicRules": {"Rule": [{"SrcIPv4": [{"SrcIPv4Adr": "10.0.0.1"}]}]}})",
       R"(/IPv4BasicRules/Rule/0/SrcIPv4/0/SrcIPv4Adr: unknown column "SrcIPv4Adr" of IPv4BasicRules/SrcIPv4)"},
      {R"({"IPv4BasicRules": {"Rule": [{"SrcIPv4": {"SrcIPv4Addr": "10.0.0.1"}}]}})",
       R"(/IPv4BasicRules/Rule/0/SrcIPv4: expected a list of SrcIPv4)"},
      {R"({"Base": 1})", R"(/Base: expected an object)"},
      {R"({"Capability": {"UserAclL3": []}})",
       R"(/Capability/UserAclL3: unknown column "UserAclL3" of Capability)"},
      // Values of the wrong kind.
      {R"({"Base": {"ProcessingStatus": -1}})",
       R"(/Base/ProcessingStatus: expected an unsigned whole number)"},
      {R"({"Base": {"ProcessingStatus": "1"}})",
       R"(/Base/ProcessingStatus: expected an unsigned whole number)"},
      {R"({"Base": {"ProcessingStatus": 1.5}})",
       R"(/Base/ProcessingStatus: expected an unsigned whole number)"},
      {R"({"Base": {"ProcessingStatus": 4294967296}})",
       R"(/Base/ProcessingStatus: expected a number below 2^32)"},
      {R"({"IPv4BasicRules": {"Rule": [{"Count": 18446744073709551616}]}})",
       R"(/IPv4BasicRules/Rule/0/Count: expected an unsigned whole number)"},
      {R"({"PfilterIgnoreAction": {"IgnoreAction": "yes"}})",
       R"(/PfilterIgnoreAction/IgnoreAction: expected true or false)"},
      {R"({"IPv4BasicRules": {"Rule": [{"VRF": 7}]}})",
       R"(/IPv4BasicRules/Rule/0/VRF: expected a string)"},
      {R"({"IPv4BasicRules": {"Rule": [{"SrcIPv4": [{"SrcIPv4Addr": "10.1.1"}]}]}})",
       R"(/IPv4BasicRules/Rule/0/SrcIPv4/0/SrcIPv4Addr: expected a dotted IPv4 address)"},
      {R"({"IPv6BasicRules": {"Rule": [{"SrcIPv6": [{"SrcIPv6Addr": "2001:db8::g"}]}]}})",
       R"(/IPv6BasicRules/Rule/0/SrcIPv6/0/SrcIPv6Addr: expected an IPv6 address)"},
      {R"({"MACRules": {"Rule": [{"SrcMACAddr": [{"SrcMACMask": "ff-ff-ff-ff-ff"}]}]}})",
       R"(/MACRules/Rule/0/SrcMACAddr/0/SrcMACMask: expected a MAC address such as 00-1a-2b-3c-4d-5e)"},
      {R"({"MACRules": {"Rule": [{"SrcMACAddr": [{"SrcMACMask": "ff:ff:ff:ff:ff:ff"}]}]}})",
       R"(/MACRules/Rule/0/SrcMACAddr/0/SrcMACMask: expected a MAC address such as 00-1a-2b-3c-4d-5e)"},
      // Every problem is named at once.
      {R"({"Base": {"Processing": 1}, "Nope": {}, "Zilch": {}})",
       R"(/Base/Processing: unknown column "Processing" of Base; )"
       R"(/Nope: unknown table "Nope"; /Zilch: unknown table "Zilch")"},
  };
  for (const Case& c : cases) {
    std::string message = "(no error)";
    try {
      devhost::MakeJsonAdapter(*registry_, json::parse(c.config));
    } catch (const std::runtime_error& e) {
      message = e.what();
    }
    EXPECT_EQ(message,
              std::string("configuration does not fit the registry: ") +
                  c.problems)
        << c.config;
  }
}

// ---- The built-in sample ----------------------------------------------------

// Calls `visit(column, value)` for every configured value of `config`.
template <typename Visit>
void ForEachValue(const Registry& registry, const json& config, Visit visit) {
  auto object = [&](const devhost::RegTable& t, const json& o,
                    const std::string& sub, auto& self) -> void {
    for (const auto& [key, value] : o.items()) {
      const devhost::RegColumn* column = nullptr;
      for (const devhost::RegColumn& c : t.columns) {
        if (c.sub == sub && c.name == key) column = &c;
      }
      if (column != nullptr) {
        visit(*column, value);
      } else if (sub.empty() && value.is_array()) {
        for (const json& element : value) self(t, element, key, self);
      } else {
        ADD_FAILURE() << t.name << ": " << key;
      }
    }
  };
  for (const devhost::RegTable& t : registry.tables()) {
    if (!config.contains(t.name)) continue;
    if (t.row.empty()) {
      object(t, config[t.name], "", object);
    } else {
      for (const json& row : config[t.name][t.row]) object(t, row, "", object);
    }
  }
}

class SampleTest : public ::testing::Test {
 protected:
  std::unique_ptr<Registry> registry_ = Registry::BuiltIn();
  json sample_ = devhost::SampleConfig();
};

TEST_F(SampleTest, FitsTheBuiltInRegistryAndConfiguresEveryTable) {
  EXPECT_NO_THROW(devhost::MakeJsonAdapter(*registry_, sample_));
  for (const devhost::RegTable& t : registry_->tables()) {
    ASSERT_TRUE(sample_.contains(t.name)) << t.name;
    const json& data = t.row.empty() ? sample_[t.name] : sample_[t.name][t.row];
    EXPECT_FALSE(data.empty()) << t.name;
  }
}

TEST_F(SampleTest, EveryValuePassesTheValueChecks) {
  devhost::Checker checker(*registry_, {});
  size_t values = 0;
  ForEachValue(*registry_, sample_, [&](const devhost::RegColumn& c,
                                        const json& v) {
    std::string text = v.is_boolean() ? (v.get<bool>() ? "1" : "0")
                       : v.is_string() ? v.get<std::string>()
                                       : v.dump();
    EXPECT_EQ(checker.Judge(c.path, text).value_or("ok"), "ok")
        << c.path << " = " << text;
    ++values;
  });
  EXPECT_GT(values, 500u);
}

TEST_F(SampleTest, AnswersFromTheSample) {
  auto adapter = devhost::MakeJsonAdapter(*registry_, sample_);
  tagZormRegNode* acl = Registry::Child(
      Registry::Child(registry_->root(), "private", true), "ACL", false);
  auto answer = [&](const char* table, const std::vector<Col>& row) {
    tagZormRegNode* node = Registry::Child(acl, table, false);
    NodePtr tree = zorm_mor_value::MakeNode(zorm_mor_value::kTableNode, node);
    NodePtr r = zorm_mor_value::MakeNode(zorm_mor_value::kRowNode, node);
    Fill(r.get(), registry_->TableOf(node)->number, {row, {}});
    zorm_mor_value::LinkRowFront(tree.get(), std::move(r));
    char* text = adapter->Answer(tree.get(), "ACL");
    std::string out = text != nullptr ? text : "(null)";
    std::free(text);
    return out;
  };
  EXPECT_EQ(answer("Intervals", {NoValue(1), NoValue(2)}),
            R"({"Intervals":{"Interval":[{"IntervalType":1,"IntervalValue":5},)"
            R"({"IntervalType":2,"IntervalValue":30}]}})");
  EXPECT_EQ(answer("IPv4BasicRules", {U32(1, 2001), U32(2, 5)}),
            R"({"IPv4BasicRules":{"Rule":[{"GroupID":2001,"RuleID":5,"Action":0,)"
            R"("SrcAny":false,"SrcIPv4":[{"SrcIPv4Addr":"192.168.0.0",)"
            R"("SrcIPv4Wildcard":"0.0.255.255"}],"Fragment":true,)"
            R"("Counting":false,"Logging":false,)"
            R"("Comment":"no fragments from branches","Status":0,"Count":0,)"
            R"("MatchIndex":2}]}})");
}

}  // namespace
