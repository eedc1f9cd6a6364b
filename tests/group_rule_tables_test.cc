// Groups, capability and basic rules: default rows, column order that is not
// field order, sub-entries on a row or on the table node, present-but-false
// values, 64-bit counts and reverse row order.

#include "tests/service_fixture.h"

namespace {

const char kV4Empty[] = "[01 02 03 04 07 08 09 0a 0b 0c 0d 0e 0f]";

INSTANTIATE_TEST_SUITE_P(
    Groups, TreeTest,
    ::testing::Values(
        TreeCase{"GroupStrings", "GetJsonACLGroups",
                 R"(group { Name: "web" Description: "" RuleNum: 0 })",
                 R"(03 T[]{} R[01 02 03 04 05:22="web" 06:6="" 07:1=0]{})",
                 {"ACL/Groups/Group/Name web", "ACL/Groups/Group/Description ",
                  "ACL/Groups/Group/RuleNum 0"}},
        TreeCase{"NamedGroupNameIsColumnNine", "GetJsonACLNamedGroups",
                 R"(group { GroupIndex: "g1" Name: "mgmt" RuleNum: 7 })",
                 R"(04 T[]{} R[01 02 03:22="g1" 04 05 06 09:22="mgmt" 07:1=7]{})",
                 {"ACL/NamedGroups/Group/GroupIndex g1",
                  "ACL/NamedGroups/Group/Name mgmt",
                  "ACL/NamedGroups/Group/RuleNum 7"}},
        TreeCase{"CapabilityBare", "GetJsonACLCapability", "", "-- T[]{}",
                 {}},
        TreeCase{"CapabilityOneLength", "GetJsonACLCapability",
                 "useraclipv6 { IPv6MaxLen: 64 }",
                 "02 T[]{UserAclIPv6[07 08:1=64]}",
                 {"ACL/Capability/UserAclIPv6/IPv6MaxLen 64"}},
        TreeCase{"CapabilityKindsInFieldOrder", "GetJsonACLCapability",
                 "useracll4 { L4MaxOffset: 1 } useracll2 {} "
                 "useracll2 { L2MaxLen: 2 }",
                 "02 T[]{UserAclL2[01 02] UserAclL2[01 02:1=2] "
                 "UserAclL4[03:1=1 04]}",
                 {"ACL/Capability/UserAclL2/L2MaxLen 2",
                  "ACL/Capability/UserAclL4/L4MaxOffset 1"}}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(
    BasicRules, TreeTest,
    ::testing::Values(
        TreeCase{"V4DefaultRow", "GetJsonACLIPv4BasicRules", "",
                 std::string("05 T[]{} R") + kV4Empty + "{}", {}},
        TreeCase{"V4EmptyRule", "GetJsonACLIPv4BasicRules", "rule {}",
                 std::string("05 T[]{} R") + kV4Empty + "{}", {}},
        TreeCase{"V4OnlyGroup", "GetJsonACLIPv4BasicRules",
                 "rule { GroupID: 2000 }",
                 "05 T[]{} R[01:1=2000 02 03 04 07 08 09 0a 0b 0c 0d 0e 0f]{}",
                 {"ACL/IPv4BasicRules/Rule/GroupID 2000"}},
        TreeCase{"V4FalseZeroEmptyAndBigCount", "GetJsonACLIPv4BasicRules",
                 R"(rule { SrcAny: false Status: 0 Comment: "" )"
                 R"(Count: 5000000000 })",
                 R"(05 T[]{} R[01 02 03 04:15=0 07 08 09 0a 0b 0c:6="" )"
                 R"(0d:1=0 0e:8=5000000000 0f]{})",
                 {"ACL/IPv4BasicRules/Rule/SrcAny 0",
                  "ACL/IPv4BasicRules/Rule/Comment ",
                  "ACL/IPv4BasicRules/Rule/Status 0",
                  "ACL/IPv4BasicRules/Rule/Count 5000000000"}},
        TreeCase{"V4Addresses", "GetJsonACLIPv4BasicRules",
                 R"(rule { srcipv4 { SrcIPv4Addr: "10.1.1.0" } )"
                 R"(srcipv4 { SrcIPv4Wildcard: "0.0.0.255" } srcipv4 {} })",
                 std::string("05 T[]{} R") + kV4Empty +
                     R"({SrcIPv4[05:5="10.1.1.0" 06] )"
                     R"(SrcIPv4[05 06:5="0.0.0.255"] SrcIPv4[05 06]})",
                 {"ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr 10.1.1.0",
                  "ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Wildcard "
                  "0.0.0.255"}},
        TreeCase{"V4RowsReversed", "GetJsonACLIPv4BasicRules",
                 "rule { RuleID: 1 } rule { RuleID: 2 } rule { RuleID: 3 }",
                 "05 T[]{} R[01 02:1=3 03 04 07 08 09 0a 0b 0c 0d 0e 0f]{} "
                 "R[01 02:1=2 03 04 07 08 09 0a 0b 0c 0d 0e 0f]{} "
                 "R[01 02:1=1 03 04 07 08 09 0a 0b 0c 0d 0e 0f]{}",
                 {"ACL/IPv4BasicRules/Rule/RuleID 1",
                  "ACL/IPv4BasicRules/Rule/RuleID 2",
                  "ACL/IPv4BasicRules/Rule/RuleID 3"}},
        TreeCase{"V4NamedGroupIndex", "GetJsonACLIPv4NamedBasicRules",
                 R"(rule { GroupIndex: "web" })",
                 R"(06 T[]{} R[01:22="web" 02 03 04 07 08 09 0a 0b 0c 0d )"
                 R"(0e 0f]{})",
                 {"ACL/IPv4NamedBasicRules/Rule/GroupIndex web"}},
        TreeCase{"V6DefaultRow", "GetJsonACLIPv6BasicRules", "",
                 "07 T[]{} R[01 02 03 04 07 08 09 0a 0b 0c 0d 0e 0f 10 11]{}",
                 {}},
        TreeCase{"V6Address", "GetJsonACLIPv6BasicRules",
                 R"(rule { RoutingTypeAny: true srcipv6 { )"
                 R"(SrcIPv6Addr: "2001:db8::" SrcIPv6Prefix: 32 } })",
                 R"(07 T[]{} R[01 02 03 04 07:15=1 08 09 0a 0b 0c 0d 0e 0f )"
                 R"(10 11]{SrcIPv6[05:6="2001:db8::" 06:1=32]})",
                 {"ACL/IPv6BasicRules/Rule/RoutingTypeAny 1",
                  "ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Addr 2001:db8::",
                  "ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Prefix 32"}}),
    CaseName());

}  // namespace
