// The development host's registry and value checks.

#include <cstring>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "devhost/checks.h"
#include "devhost/registry.h"

namespace devhost {
namespace {

using nlohmann::json;

const Registry& BuiltIn() {
  static const Registry* registry = Registry::BuiltIn().release();
  return *registry;
}

// "Name/number[/row]: column type [sub] [min-max] [<=len] [format], ..."
std::string Render(const RegTable& t) {
  std::ostringstream out;
  out << t.name << "/" << int(t.number);
  if (!t.row.empty()) out << "/" << t.row;
  out << ":";
  for (const RegColumn& c : t.columns) {
    out << " " << (c.sub.empty() ? "" : c.sub + ".") << c.name << "="
        << int(c.number) << "t" << c.type;
    if (c.min || c.max) {
      out << "[" << c.min.value_or(0) << "-" << c.max.value_or(0) << "]";
    }
    if (c.maxLength) out << "<=" << *c.maxLength;
    if (!c.format.empty()) out << "(" << c.format << ")";
  }
  return out.str();
}

// ---- Registry ----------------------------------------------------------

TEST(RegistryTest, BuiltInHasEveryTableUnderPrivateACL) {
  const Registry& r = BuiltIn();
  tagZormRegNode* module = Registry::Child(
      Registry::Child(r.root(), "private", false), "ACL", false);
  ASSERT_NE(module, nullptr);
  std::string names;
  for (const RegTable& t : r.tables()) {
    tagZormRegNode* node = Registry::Child(module, t.name.c_str(), false);
    ASSERT_NE(node, nullptr) << t.name;
    EXPECT_EQ(r.TableOf(node), &t);
    EXPECT_EQ(r.Table(t.name), &t);
    names += t.name + "=" + std::to_string(t.number) + " ";
  }
  EXPECT_EQ(names,
            "Base=1 Capability=2 Groups=3 NamedGroups=4 IPv4BasicRules=5 "
            "IPv4NamedBasicRules=6 IPv6BasicRules=7 IPv6NamedBasicRules=8 "
            "IPv4AdvanceRules=9 IPv4NamedAdvanceRules=10 IPv6AdvanceRules=11 "
            "IPv6NamedAdvanceRules=12 MACRules=13 MACNamedRules=14 "
            "UserRules=15 UserNamedRules=16 Intervals=17 PfilterDefAction=18 "
            "PfilterApply=19 PfilterGroupRunInfo=20 PfilterRuleRunInfo=21 "
            "PfilterStatisticSum=22 ZonePairPfilter=24 "
            "ZonePairPfilterRules=25 PfilterIgnoreAction=26 ");
}

TEST(RegistryTest, BuiltInColumnCountsAndRows) {
  std::string shape;
  for (const RegTable& t : BuiltIn().tables()) {
    shape += t.name + ":" + (t.row.empty() ? "-" : t.row) + ":" +
             std::to_string(t.columns.size()) + " ";
  }
  EXPECT_EQ(shape,
            "Base:-:1 Capability:-:8 Groups:Group:7 NamedGroups:Group:8 "
            "IPv4BasicRules:Rule:15 IPv4NamedBasicRules:Rule:15 "
            "IPv6BasicRules:Rule:17 IPv6NamedBasicRules:Rule:17 "
            "IPv4AdvanceRules:Rule:58 IPv4NamedAdvanceRules:Rule:58 "
            "IPv6AdvanceRules:Rule:45 IPv6NamedAdvanceRules:Rule:45 "
            "MACRules:Rule:26 MACNamedRules:Rule:26 UserRules:Rule:43 "
            "UserNamedRules:Rule:43 Intervals:Interval:2 "
            "PfilterDefAction:-:1 PfilterApply:Pfilter:9 "
            "PfilterGroupRunInfo:GroupRunInfo:11 "
            "PfilterRuleRunInfo:RuleRunInfo:10 "
            "PfilterStatisticSum:StatisticSum:6 ZonePairPfilter:Pfilter:5 "
            "ZonePairPfilterRules:Rule:7 PfilterIgnoreAction:-:1 ");
}

TEST(RegistryTest, BuiltInTablesInDetail) {
  const Registry& r = BuiltIn();
  EXPECT_EQ(Render(*r.Table("Capability")),
            "Capability/2: UserAclL2.L2MaxOffset=1t1 UserAclL2.L2MaxLen=2t1 "
            "UserAclL4.L4MaxOffset=3t1 UserAclL4.L4MaxLen=4t1 "
            "UserAclIPv4.IPv4MaxOffset=5t1 UserAclIPv4.IPv4MaxLen=6t1 "
            "UserAclIPv6.IPv6MaxOffset=7t1 UserAclIPv6.IPv6MaxLen=8t1");
  EXPECT_EQ(Render(*r.Table("NamedGroups")),
            "NamedGroups/4/Group: GroupType=1t1 GroupCategory=2t1 "
            "GroupIndex=3t22<=63 MatchOrder=4t1 Step=5t1[1-20] "
            "Description=6t6<=127 RuleNum=7t1 Name=9t22<=63");
  EXPECT_EQ(Render(*r.Table("IPv6BasicRules")),
            "IPv6BasicRules/7/Rule: GroupID=1t1[2000-2999] "
            "RuleID=2t1[0-65534] Action=3t1 SrcAny=4t15 "
            "SrcIPv6.SrcIPv6Addr=5t6(ipv6) SrcIPv6.SrcIPv6Prefix=6t1[0-128] "
            "RoutingTypeAny=7t15 RoutingTypeValue=8t1[0-255] Fragment=9t15 "
            "TimeRange=10t22<=63 VRF=11t6<=31 Counting=12t15 Logging=13t15 "
            "Comment=14t6<=127 Status=15t1 Count=16t8 MatchIndex=17t1");
  EXPECT_EQ(Render(*r.Table("PfilterApply")),
            "PfilterApply/19/Pfilter: AppObjType=1t1 AppObjIndex=2t1 "
            "AppDirection=3t1 AppAclType=4t1 AppAclGroup=5t22<=63 "
            "HardCount=6t1 AppSequence=7t1 InnerEncap=9t1 ShareMode=10t15");
}

// Column numbers as the tables number them, gaps included.
TEST(RegistryTest, BuiltInColumnNumbers) {
  struct Case {
    const char* table;
    std::string numbers;
  } cases[] = {
      {"IPv4AdvanceRules", "1-57,64"},
      {"IPv6AdvanceRules", "1-45"},
      {"MACNamedRules", "1-25,32"},
      {"UserRules", "1-38,41-45"},
      {"NamedGroups", "1-7,9"},
  };
  for (const Case& c : cases) {
    std::string got;
    const auto& cols = BuiltIn().Table(c.table)->columns;
    std::set<int> numbers;
    for (const RegColumn& col : cols) numbers.insert(col.number);
    ASSERT_EQ(numbers.size(), cols.size()) << c.table;
    for (auto it = numbers.begin(); it != numbers.end();) {
      int first = *it, last = *it;
      while (++it != numbers.end() && *it == last + 1) last = *it;
      if (!got.empty()) got += ",";
      got += first == last ? std::to_string(first)
                           : std::to_string(first) + "-" + std::to_string(last);
    }
    EXPECT_EQ(got, c.numbers) << c.table;
  }
}

TEST(RegistryTest, ChildLookupCaseRules) {
  const Registry& r = BuiltIn();
  tagZormRegNode* root = r.root();
  struct Case {
    const char* name;
    bool ignoreCase;
    bool found;
  } cases[] = {
      {"private", false, true},  {"PRIVATE", false, false},
      {"PRIVATE", true, true},   {"PrIvAtE", true, true},
      {"privat", true, false},   {"private ", true, false},
      {"", true, false},         {"ACL", true, false},  // not a child of root
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Registry::Child(root, c.name, c.ignoreCase) != nullptr, c.found)
        << c.name << " ignoreCase=" << c.ignoreCase;
  }
  tagZormRegNode* priv = Registry::Child(root, "private", false);
  EXPECT_NE(Registry::Child(priv, "ACL", false), nullptr);
  EXPECT_EQ(Registry::Child(priv, "acl", false), nullptr);
  tagZormRegNode* acl = Registry::Child(priv, "ACL", false);
  EXPECT_EQ(Registry::Child(acl, "base", false), nullptr);
  EXPECT_NE(Registry::Child(acl, "base", true), nullptr);
  EXPECT_EQ(Registry::Child(nullptr, "private", true), nullptr);
  EXPECT_EQ(Registry::Child(root, nullptr, true), nullptr);
  EXPECT_EQ(r.TableOf(root), nullptr);
  EXPECT_EQ(r.TableOf(acl), nullptr);
  EXPECT_EQ(r.TableOf(nullptr), nullptr);
  // Below a table the nodes follow the column paths.
  tagZormRegNode* rule = Registry::Child(
      Registry::Child(acl, "IPv4AdvanceRules", false), "Rule", false);
  tagZormRegNode* src = Registry::Child(rule, "SrcIPv4", false);
  EXPECT_NE(Registry::Child(src, "SrcIPv4Wildcard", false), nullptr);
  EXPECT_EQ(r.TableOf(rule), nullptr);
}

TEST(RegistryTest, ColumnAtPaths) {
  struct Case {
    const char* path;
    int number;  // 0: no such column
    uint32_t type;
  } cases[] = {
      {"ACL/Base/ProcessingStatus", 1, 1},
      {"ACL/Intervals/Interval/IntervalType", 1, 1},
      {"ACL/Capability/UserAclL2/L2MaxOffset", 1, 1},
      {"ACL/IPv4NamedAdvanceRules/Rule/SrcIPv4/SrcIPv4Addr", 6, 5},
      {"ACL/IPv4AdvanceRules/Rule/TcpFlag/ACK", 20, 1},
      {"ACL/IPv4AdvanceRules/Rule/ECN", 64, 1},
      {"ACL/IPv6NamedAdvanceRules/Rule/ICMP6/ICMP6Type", 28, 1},
      {"ACL/MACRules/Rule/InProtocol/InProtocolTypeMask", 32, 6},
      {"ACL/MACNamedRules/Rule/SrcMACAddr/SrcMACAddress", 4, 14},
      {"ACL/UserRules/Rule/L5Rule/L5Offset", 23, 1},
      {"ACL/NamedGroups/Group/Name", 9, 22},
      {"ACL/PfilterGroupRunInfo/GroupRunInfo/AclGroupDenyBytes", 11, 8},
      {"ACL/PfilterIgnoreAction/IgnoreAction", 1, 15},
      {"ACL/ZonePairPfilterRules/Rule/RuleMatchBytes", 7, 8},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4Addr", 0, 0},  // lacks its sub
      {"ACL/Base", 0, 0},
      {"acl/Base/ProcessingStatus", 0, 0},
      {"ACL/Base/processingstatus", 0, 0},
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    const RegColumn* col = BuiltIn().ColumnAt(c.path);
    if (c.number == 0) {
      EXPECT_EQ(col, nullptr) << c.path;
      continue;
    }
    ASSERT_NE(col, nullptr) << c.path;
    EXPECT_EQ(col->number, c.number) << c.path;
    EXPECT_EQ(col->type, c.type) << c.path;
    EXPECT_EQ(col->path, c.path);
  }
  EXPECT_EQ(BuiltIn().Table("IPv4AdvanceRules")->Column(64)->name, "ECN");
  EXPECT_EQ(BuiltIn().Table("IPv4AdvanceRules")->Column(58), nullptr);
}

TEST(RegistryTest, LoadRejectsBadFilesWithReasons) {
  struct Case {
    const char* data;
    const char* error;
  } cases[] = {
      {R"([])", "registry: the registry: must be an object"},
      {R"({"tables": {}})", "registry: the registry: \"tables\" must be an array"},
      {R"({"tables": [], "extra": 1})",
       "registry: the registry: unknown key \"extra\""},
      {R"({"tables": [{"number": 1, "columns": []}]})",
       "registry: a table: \"name\" is missing"},
      {R"({"tables": [{"name": "A B", "number": 1, "columns": []}]})",
       "registry: a table: \"name\" must hold letters, digits and '_' only, "
       "not \"A B\""},
      {R"({"tables": [{"name": "T", "number": 0, "columns": []}]})",
       "registry: table \"T\": \"number\" must be a number from 1 to 255"},
      {R"({"tables": [{"name": "T", "number": 300, "columns": []}]})",
       "registry: table \"T\": \"number\" must be a number from 1 to 255"},
      {R"({"tables": [{"name": "T", "number": 1, "columns": []}]})",
       "registry: table \"T\": \"columns\" must be a non-empty array"},
      {R"({"tables": [{"name": "T", "number": 1,
                       "columns": [{"name": "C", "column": 1, "type": 7}]}]})",
       "registry: table \"T\": column \"C\": \"type\" 7 is not one of 1, 5, 6, "
       "8, 14, 15, 22"},
      {R"({"tables": [{"name": "T", "number": 1,
                       "columns": [{"name": "C", "column": 1}]}]})",
       "registry: table \"T\": column \"C\": \"type\" is missing"},
      {R"({"tables": [{"name": "T", "number": 1,
                       "columns": [{"name": "C", "column": 1, "type": 1},
                                   {"name": "D", "column": 1, "type": 1}]}]})",
       "registry: table \"T\": column number 1 is used twice"},
      {R"({"tables": [{"name": "T", "number": 1,
                       "columns": [{"name": "C", "column": 1, "type": 1},
                                   {"name": "C", "column": 2, "type": 1}]}]})",
       "registry: table \"T\": column path ACL/T/C is used twice"},
      {R"({"tables": [{"name": "T", "number": 1, "columns": [
             {"name": "C", "column": 1, "type": 6, "min": 1}]}]})",
       "registry: table \"T\": column \"C\": \"min\"/\"max\" need type 1 or 8"},
      {R"({"tables": [{"name": "T", "number": 1, "columns": [
             {"name": "C", "column": 1, "type": 1, "min": 5, "max": 4}]}]})",
       "registry: table \"T\": column \"C\": \"min\" exceeds \"max\""},
      {R"({"tables": [{"name": "T", "number": 1, "columns": [
             {"name": "C", "column": 1, "type": 1, "max": 4294967296}]}]})",
       "registry: table \"T\": column \"C\": \"max\" must be a number from 0 "
       "to 4294967295"},
      {R"({"tables": [{"name": "T", "number": 1, "columns": [
             {"name": "C", "column": 1, "type": 1, "maxLength": 3}]}]})",
       "registry: table \"T\": column \"C\": \"maxLength\" needs type 6 or 22"},
      {R"({"tables": [{"name": "T", "number": 1, "columns": [
             {"name": "C", "column": 1, "type": 22, "format": "ipv6"}]}]})",
       "registry: table \"T\": column \"C\": \"format\" needs type 6"},
      {R"({"tables": [{"name": "T", "number": 1, "columns": [
             {"name": "C", "column": 1, "type": 6, "format": "ipv4"}]}]})",
       "registry: table \"T\": column \"C\": \"format\" must be \"ipv6\""},
      {R"({"tables": [{"name": "T", "number": 1, "columns": [
             {"name": "C", "column": 1, "type": 1, "size": 4}]}]})",
       "registry: table \"T\": a column: unknown key \"size\""},
      {R"({"tables": [
             {"name": "T", "number": 1,
              "columns": [{"name": "C", "column": 1, "type": 1}]},
             {"name": "U", "number": 1,
              "columns": [{"name": "C", "column": 1, "type": 1}]}]})",
       "registry: table \"U\": table number 1 is used twice"},
      {R"({"tables": [
             {"name": "T", "number": 1,
              "columns": [{"name": "C", "column": 1, "type": 1}]},
             {"name": "T", "number": 2,
              "columns": [{"name": "C", "column": 1, "type": 1}]}]})",
       "registry: table \"T\": the name is used twice"},
  };
  for (const Case& c : cases) {
    try {
      Registry::Load(json::parse(c.data));
      ADD_FAILURE() << "loaded: " << c.data;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), c.error) << c.data;
    }
  }
}

TEST(RegistryTest, LoadSmallFile) {
  auto r = Registry::Load(json::parse(R"(
      {"module": "M",
       "tables": [{"name": "T", "number": 9, "row": "Row",
                   "columns": [{"name": "A", "column": 2, "type": 8,
                                "max": 18446744073709551615},
                               {"name": "B", "column": 1, "type": 6,
                                "sub": "S", "maxLength": 4}]}]})"));
  EXPECT_EQ(Render(*r->Table("T")),
            "T/9/Row: A=2t8[0-18446744073709551615] S.B=1t6<=4");
  EXPECT_NE(r->ColumnAt("M/T/Row/S/B"), nullptr);
  tagZormRegNode* m =
      Registry::Child(Registry::Child(r->root(), "private", false), "M", false);
  EXPECT_EQ(r->TableOf(Registry::Child(m, "T", false)), r->Table("T"));
}

// ---- Value checks ------------------------------------------------------

struct CheckCase {
  const char* path;
  const char* text;
  const char* reason;  // "" to accept
};

void ExpectJudged(const Checker& checker, const CheckCase& c) {
  std::optional<std::string> reason = checker.Judge(c.path, c.text);
  EXPECT_EQ(reason.value_or(""), c.reason)
      << c.path << " \"" << c.text << "\"";
}

TEST(CheckerTest, EveryKindAcceptsAndRejects) {
  const Checker checker(BuiltIn(), {});
  const std::string long63(63, 'n'), long64(64, 'n');
  const std::string comment127(127, 'c'), comment128(128, 'c');
  const CheckCase cases[] = {
      // Unsigned 32-bit, with and without bounds.
      {"ACL/Base/ProcessingStatus", "0", ""},
      {"ACL/Base/ProcessingStatus", "4294967295", ""},
      {"ACL/Base/ProcessingStatus", "4294967296",
       "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", "99999999999999999999999",
       "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", "", "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", "+1", "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", "-1", "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", " 1", "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", "1 ", "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", "0x10", "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", "1.5", "a number from 0 to 4294967295"},
      {"ACL/IPv4BasicRules/Rule/GroupID", "2000", ""},
      {"ACL/IPv4BasicRules/Rule/GroupID", "2999", ""},
      {"ACL/IPv4BasicRules/Rule/GroupID", "1999", "a number from 2000 to 2999"},
      {"ACL/IPv4BasicRules/Rule/GroupID", "3000", "a number from 2000 to 2999"},
      {"ACL/IPv4AdvanceRules/Rule/GroupID", "3000", ""},
      {"ACL/MACRules/Rule/GroupID", "4999", ""},
      {"ACL/UserRules/Rule/GroupID", "4999", "a number from 5000 to 5999"},
      {"ACL/IPv4BasicRules/Rule/RuleID", "65534", ""},
      {"ACL/IPv4BasicRules/Rule/RuleID", "65535", "a number from 0 to 65534"},
      {"ACL/IPv4AdvanceRules/Rule/DstPort/DstPortValue2", "65535", ""},
      {"ACL/IPv4AdvanceRules/Rule/DstPort/DstPortValue2", "65536",
       "a number from 0 to 65535"},
      {"ACL/IPv4AdvanceRules/Rule/DSCP", "64", "a number from 0 to 63"},
      {"ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Prefix", "128", ""},
      {"ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Prefix", "129",
       "a number from 0 to 128"},
      // Unsigned 64-bit.
      {"ACL/IPv4BasicRules/Rule/Count", "18446744073709551615", ""},
      {"ACL/IPv4BasicRules/Rule/Count", "18446744073709551616",
       "a number from 0 to 18446744073709551615"},
      {"ACL/IPv4BasicRules/Rule/Count", "5000000000", ""},
      // Boolean.
      {"ACL/PfilterIgnoreAction/IgnoreAction", "0", ""},
      {"ACL/PfilterIgnoreAction/IgnoreAction", "1", ""},
      {"ACL/PfilterIgnoreAction/IgnoreAction", "2", "0 or 1"},
      {"ACL/PfilterIgnoreAction/IgnoreAction", "true", "0 or 1"},
      {"ACL/PfilterIgnoreAction/IgnoreAction", "01", "0 or 1"},
      // IPv4 address.
      {"ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr", "10.1.1.0", ""},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Wildcard", "0.0.0.255", ""},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr", "10.1.1",
       "a dotted IPv4 address, such as 10.1.1.0"},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr", "10.1.1.256",
       "a dotted IPv4 address, such as 10.1.1.0"},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr", "10.1.1.0 ",
       "a dotted IPv4 address, such as 10.1.1.0"},
      {"ACL/UserRules/Rule/DstIPv4/DstIPv4Wildcard", "::1",
       "a dotted IPv4 address, such as 10.1.1.0"},
      // MAC address.
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "00-1a-2B-3c-4D-5e", ""},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACMask", "ff-ff-ff-0-0-0", ""},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "00-1a-2b-3c-4d",
       "a MAC address, such as 00-1a-2b-3c-4d-5e"},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "00:1a:2b:3c:4d:5e",
       "a MAC address, such as 00-1a-2b-3c-4d-5e"},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "001a.2b3c.4d5e",
       "a MAC address, such as 00-1a-2b-3c-4d-5e"},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "00-1a-2b-3c-4d-5e-6f",
       "a MAC address, such as 00-1a-2b-3c-4d-5e"},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "000-1a-2b-3c-4d-5e",
       "a MAC address, such as 00-1a-2b-3c-4d-5e"},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "0g-1a-2b-3c-4d-5e",
       "a MAC address, such as 00-1a-2b-3c-4d-5e"},
      // IPv6 address text.
      {"ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Addr", "2001:db8::1", ""},
      {"ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Addr", "::", ""},
      {"ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Addr", "::ffff:10.1.1.1", ""},
      {"ACL/IPv6AdvanceRules/Rule/DstIPv6/DstIPv6Addr", "2001:db8::g",
       "an IPv6 address"},
      {"ACL/IPv6AdvanceRules/Rule/DstIPv6/DstIPv6Addr", "10.1.1.1",
       "an IPv6 address"},
      {"ACL/UserNamedRules/Rule/SrcIPv6/SrcIPv6Addr", "", "an IPv6 address"},
      {"ACL/UserNamedRules/Rule/SrcIPv6/SrcIPv6Addr",
       "2001:0db8:0000:0000:0000:0000:0000:0001:1", "an IPv6 address"},
      // Strings and names.
      {"ACL/IPv4NamedBasicRules/Rule/GroupIndex", "", ""},
      {"ACL/IPv4NamedBasicRules/Rule/GroupIndex", long63.c_str(), ""},
      {"ACL/IPv4NamedBasicRules/Rule/GroupIndex", long64.c_str(),
       "63 characters at most"},
      {"ACL/IPv4BasicRules/Rule/Comment", comment127.c_str(), ""},
      {"ACL/IPv4BasicRules/Rule/Comment", comment128.c_str(),
       "127 characters at most"},
      {"ACL/IPv4BasicRules/Rule/VRF", "vpn-blue", ""},
      {"ACL/IPv4BasicRules/Rule/VRF", "a-vrf-name-of-32-characters-long",
       "31 characters at most"},
      // Unknown paths.
      {"ACL/Base/Nothing", "1", "unknown column"},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4Addr", "10.1.1.1", "unknown column"},
      {"", "1", "unknown column"},
  };
  for (const CheckCase& c : cases) ExpectJudged(checker, c);
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

TEST(CheckerTest, CheckWritesANulTerminatedReasonWithinTheBuffer) {
  const Checker checker(BuiltIn(), {});
  const char* path = "ACL/IPv4BasicRules/Rule/GroupID";
  struct Case {
    uint32_t size;
    const char* written;
  } cases[] = {
      {64, "a number from 2000 to 2999"},
      {27, "a number from 2000 to 2999"},
      {26, "a number from 2000 to 299"},
      {8, "a numbe"},
      {1, ""},
  };
  for (const Case& c : cases) {
    char buffer[80];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(checker.Check(path, "1", c.size, buffer), 0);
    EXPECT_STREQ(buffer, c.written) << c.size;
    EXPECT_EQ(buffer[c.size], '#') << "wrote past " << c.size;
  }
  char untouched = '#';
  EXPECT_EQ(checker.Check(path, "1", 0, &untouched), 0);
  EXPECT_EQ(untouched, '#');

  char buffer[64] = {};
  EXPECT_EQ(checker.Check(path, "2000", 64, buffer), 1);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(checker.Check(nullptr, "1", 64, buffer), 0);
  EXPECT_STREQ(buffer, "unknown column");
  EXPECT_EQ(checker.Check(path, nullptr, 64, buffer), 0);
  EXPECT_STREQ(buffer, "no value");
}

TEST(CheckerTest, ParseRejectRule) {
  struct Case {
    const char* arg;
    const char* path;
    const char* text;  // null: every value
  } cases[] = {
      {"ACL/Base/ProcessingStatus", "ACL/Base/ProcessingStatus", nullptr},
      {"ACL/Base/ProcessingStatus=", "ACL/Base/ProcessingStatus", ""},
      {"ACL/Base/ProcessingStatus=7", "ACL/Base/ProcessingStatus", "7"},
      {"ACL/IPv4BasicRules/Rule/Comment=a=b", "ACL/IPv4BasicRules/Rule/Comment",
       "a=b"},
  };
  for (const Case& c : cases) {
    RejectRule rule = ParseRejectRule(c.arg);
    EXPECT_EQ(rule.path, c.path);
    EXPECT_EQ(rule.text.has_value(), c.text != nullptr) << c.arg;
    if (c.text != nullptr && rule.text) {
      EXPECT_EQ(*rule.text, c.text);
    }
  }
  EXPECT_THROW(ParseRejectRule(""), std::invalid_argument);
  EXPECT_THROW(ParseRejectRule("=1"), std::invalid_argument);
}

TEST(CheckerTest, RejectRules) {
  const Checker checker(
      BuiltIn(), {ParseRejectRule("ACL/Base/ProcessingStatus"),
                  ParseRejectRule("ACL/IPv4BasicRules/Rule/GroupID=2001"),
                  ParseRejectRule("ACL/IPv4BasicRules/Rule/Comment=")});
  const CheckCase cases[] = {
      {"ACL/Base/ProcessingStatus", "1", "rejected by --reject"},
      {"ACL/Base/ProcessingStatus", "x", "rejected by --reject"},
      {"ACL/IPv4BasicRules/Rule/GroupID", "2001", "rejected by --reject"},
      {"ACL/IPv4BasicRules/Rule/GroupID", "2002", ""},
      {"ACL/IPv4BasicRules/Rule/GroupID", "1", "a number from 2000 to 2999"},
      {"ACL/IPv4NamedBasicRules/Rule/GroupIndex", "2001", ""},
      {"ACL/IPv4BasicRules/Rule/Comment", "", "rejected by --reject"},
      {"ACL/IPv4BasicRules/Rule/Comment", "x", ""},
  };
  for (const CheckCase& c : cases) ExpectJudged(checker, c);

  try {
    Checker bad(BuiltIn(), {ParseRejectRule("ACL/Base/Nothing=1")});
    ADD_FAILURE() << "made a checker with an unknown path";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "--reject: no column has the path ACL/Base/Nothing");
  }
}

}  // namespace
}  // namespace devhost
