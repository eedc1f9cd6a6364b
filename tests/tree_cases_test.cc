// One golden tree per shape the builder makes: a single instance (columns,
// or sub-entries, on the table node), rows (in reverse order, with values
// that are present though false, zero or empty), sub-entries of a row (in
// field order, not request order), a named table and the streamed method
// (an empty request: one default row). Together they give a value of each
// kind: numbers of 32 and 64 bits, bool, text, name, IPv4 and MAC. Which columns each table has, and
// their numbers and types, the registry test proves for every table.

#include "tests/service_fixture.h"

namespace {

// One request and the tree and value checks it must give.
struct TreeCase {
  const char* name;
  const char* method;
  std::string request;               // text format
  std::string tree;                  // the adapter's tree in short
  std::vector<std::string> checks;   // "path text", in order
};

class TreeTest : public ServiceTest,
                 public ::testing::WithParamInterface<TreeCase> {};

TEST_P(TreeTest, GivesTheTreeAndChecks) {
  const TreeCase& c = GetParam();
  Outcome a = Call(c.method, *ParseRequest(c.method, c.request));
  ASSERT_EQ(a.code, 0) << a.message;
  const scripted::Record r = scripted::Snapshot();
  EXPECT_EQ(r.trees, std::vector<std::string>{c.tree});
  std::vector<std::string> checks;
  for (const scripted::Check& k : r.checks) {
    checks.push_back(k.path + " " + k.text);
  }
  EXPECT_EQ(checks, c.checks);
  ExpectNothingLive(r);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TreeTest,
    ::testing::Values(
        TreeCase{"SingleInstance", "GetJsonACLBase", "ProcessingStatus: 0",
                 "01 T[01:1=0]{}", {"ACL/Base/ProcessingStatus 0"}},
        TreeCase{"SingleInstanceSubEntries", "GetJsonACLCapability",
                 "useracll4 { L4MaxOffset: 1 } useracll2 {} "
                 "useracll2 { L2MaxLen: 2 }",
                 "02 T[]{UserAclL2[01 02] UserAclL2[01 02:1=2] "
                 "UserAclL4[03:1=1 04]}",
                 {"ACL/Capability/UserAclL2/L2MaxLen 2",
                  "ACL/Capability/UserAclL4/L4MaxOffset 1"}},
        TreeCase{"Rows", "GetJsonACLIPv4BasicRules",
                 R"(rule { RuleID: 1 SrcAny: false Comment: "" Status: 0 )"
                 R"(Count: 5000000000 } rule { RuleID: 2 })",
                 "05 T[]{} R[01 02:1=2 03 04 07 08 09 0a 0b 0c 0d 0e 0f]{} "
                 R"(R[01 02:1=1 03 04:15=0 07 08 09 0a 0b 0c:6="" 0d:1=0 )"
                 "0e:8=5000000000 0f]{}",
                 {"ACL/IPv4BasicRules/Rule/RuleID 1",
                  "ACL/IPv4BasicRules/Rule/SrcAny 0",
                  "ACL/IPv4BasicRules/Rule/Comment ",
                  "ACL/IPv4BasicRules/Rule/Status 0",
                  "ACL/IPv4BasicRules/Rule/Count 5000000000",
                  "ACL/IPv4BasicRules/Rule/RuleID 2"}},
        TreeCase{"RowSubEntries", "GetJsonACLIPv4AdvanceRules",
                 R"(rule { GroupID: 3000 Counting: false srcport { )"
                 R"(SrcPortOp: 1 } srcipv4 { SrcIPv4Addr: "10.0.0.1" } )"
                 "srcipv4 {} }",
                 "09 T[]{} R[01:1=3000 02 03 04 05 08 0b 40 0c 0d 1a 1d 1e "
                 "1f 35 36 34 26 27 2a 33 20:15=0 21 22 23 24 25 37 38 39]"
                 R"({SrcIPv4[06:5="10.0.0.1" 07] SrcIPv4[06 07] )"
                 "SrcPort[0e:1=1 0f 10]}",
                 {"ACL/IPv4AdvanceRules/Rule/GroupID 3000",
                  "ACL/IPv4AdvanceRules/Rule/Counting 0",
                  "ACL/IPv4AdvanceRules/Rule/SrcIPv4/SrcIPv4Addr 10.0.0.1",
                  "ACL/IPv4AdvanceRules/Rule/SrcPort/SrcPortOp 1"}},
        TreeCase{"NamedTableAndMAC", "GetJsonACLMACNamedRules",
                 R"(rule { GroupIndex: "abc" srcmacaddr { )"
                 R"(SrcMACAddress: "00-1a-2B-3c-4D-5e" } })",
                 R"(0e T[]{} R[01:22="abc" 02 03 08 13 14 0d 0e 0f 10 11 12])"
                 R"({SrcMACAddr[04:14="001a2b3c4d5e" 05]})",
                 {"ACL/MACNamedRules/Rule/GroupIndex abc",
                  "ACL/MACNamedRules/Rule/SrcMACAddr/SrcMACAddress "
                  "00-1a-2B-3c-4D-5e"}},
        TreeCase{"StreamedDefaultRow", kStreamMethod, "",
                 "05 T[]{} R[01 02 03 04 07 08 09 0a 0b 0c 0d 0e 0f]{}", {}}),
    CaseName());

}  // namespace
