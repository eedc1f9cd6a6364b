// MAC rules, user-defined rules, packet-filter tables and zone pairs.

#include "tests/service_fixture.h"

namespace {

#define USER_ROW "01 02 03 19 18 29 1a 1d 26 10 11 12 13 14"

INSTANTIATE_TEST_SUITE_P(
    MacAndUserRules, TreeTest,
    ::testing::Values(
        TreeCase{"MacOnlyRuleID", "GetJsonACLMACRules", "rule { RuleID: 5 }",
                 "0d T[]{} R[01 02:1=5 03 08 13 14 0d 0e 0f 10 11 12]{}",
                 {"ACL/MACRules/Rule/RuleID 5"}},
        TreeCase{"MacAddressesParsed", "GetJsonACLMACRules",
                 R"(rule { Counting: false Count: 5000000000 )"
                 R"(srcmacaddr { SrcMACMask: "ff-ff-ff-00-00-00" } )"
                 R"(srcmacaddr { SrcMACAddress: "00-1a-2B-3c-4D-5e" } )"
                 R"(dstmacaddr { DstMACAddress: "00-1a-2b-3c-4d" } })",
                 "0d T[]{} R[01 02 03 08 13 14 0d 0e:15=0 0f 10 "
                 "11:8=5000000000 12]"
                 R"({SrcMACAddr[04 05:14="ffffff000000"] )"
                 R"(SrcMACAddr[04:14="001a2b3c4d5e" 05] )"
                 R"(DstMACAddr[06:14="000000000000" 07]})",
                 {"ACL/MACRules/Rule/Counting 0",
                  "ACL/MACRules/Rule/Count 5000000000",
                  "ACL/MACRules/Rule/SrcMACAddr/SrcMACMask ff-ff-ff-00-00-00",
                  "ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress "
                  "00-1a-2B-3c-4D-5e",
                  "ACL/MACRules/Rule/DstMACAddr/DstMACAddress 00-1a-2b-3c-4d"}},
        TreeCase{"MacNamedKindsInFieldOrder", "GetJsonACLMACNamedRules",
                 R"(rule { GroupIndex: "abc" inprotocol { )"
                 R"(InProtocolTypeMask: "ffff" } lsap {} protocol {} })",
                 R"(0e T[]{} R[01:22="abc" 02 03 08 13 14 0d 0e 0f 10 11 12])"
                 R"({Protocol[09 0a] LSAP[0b 0c] InProtocol[19 20:6="ffff"]})",
                 {"ACL/MACNamedRules/Rule/GroupIndex abc",
                  "ACL/MACNamedRules/Rule/InProtocol/InProtocolTypeMask "
                  "ffff"}},
        TreeCase{"UserDscpAndSrcAny", "GetJsonACLUserRules",
                 "rule { DSCP: 46 SrcAny: true }",
                 "0f T[]{} R[01 02 03 19 18 29 1a:15=1 1d 26:1=46 10 11 12 "
                 "13 14]{}",
                 {"ACL/UserRules/Rule/SrcAny 1", "ACL/UserRules/Rule/DSCP 46"}},
        TreeCase{"UserKindsInTableOrder", "GetJsonACLUserRules",
                 R"(rule { srcport {} srcport { SrcPortOp: 2 } )"
                 R"(dstipv4 { DstIPv4Addr: "10.2.0.0" } l4rule { L4Offset: 2 } )"
                 R"(srcipv6 { SrcIPv6Addr: "2001:db8::" SrcIPv6Prefix: 48 } })",
                 "0f T[]{} R[" USER_ROW "]{L4Rule[0d 0e 0f:1=2] "
                 R"(SrcIPv6[2a:6="2001:db8::" 2b:1=48] )"
                 R"(DstIPv4[1e:5="10.2.0.0" 1f] SrcPort[20 21 22] )"
                 "SrcPort[20:1=2 21 22]}",
                 {"ACL/UserRules/Rule/L4Rule/L4Offset 2",
                  "ACL/UserRules/Rule/SrcIPv6/SrcIPv6Addr 2001:db8::",
                  "ACL/UserRules/Rule/SrcIPv6/SrcIPv6Prefix 48",
                  "ACL/UserRules/Rule/DstIPv4/DstIPv4Addr 10.2.0.0",
                  "ACL/UserRules/Rule/SrcPort/SrcPortOp 2"}},
        TreeCase{"UserNamedGroupIndex", "GetJsonACLUserNamedRules",
                 R"(rule { GroupIndex: "udf" } rule {})",
                 "10 T[]{} R[" USER_ROW "]{} "
                 R"(R[01:22="udf" 02 03 19 18 29 1a 1d 26 10 11 12 13 14]{})",
                 {"ACL/UserNamedRules/Rule/GroupIndex udf"}}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(
    FlatTables, TreeTest,
    ::testing::Values(
        TreeCase{"ApplyShareMode", "GetJsonACLPfilterApply",
                 "pfilter { ShareMode: true }",
                 "13 T[]{} R[01 02 03 04 05 06 09 0a:15=1 07]{}",
                 {"ACL/PfilterApply/Pfilter/ShareMode 1"}},
        TreeCase{"GroupRunInfoCounter", "GetJsonACLPfilterGroupRunInfo",
                 "groupruninfo { AclGroupDenyBytes: 5000000000 }",
                 "14 T[]{} R[01 02 03 04 05 06 07 08 09 0a 0b:8=5000000000]{}",
                 {"ACL/PfilterGroupRunInfo/GroupRunInfo/AclGroupDenyBytes "
                  "5000000000"}},
        TreeCase{"RuleRunInfoReversed", "GetJsonACLPfilterRuleRunInfo",
                 "ruleruninfo { AppAclRuleIndex: 1 } "
                 "ruleruninfo { AppAclRuleIndex: 2 }",
                 "15 T[]{} R[01 02 03 04 05 06:1=2 07 08 09 0a]{} "
                 "R[01 02 03 04 05 06:1=1 07 08 09 0a]{}",
                 {"ACL/PfilterRuleRunInfo/RuleRunInfo/AppAclRuleIndex 1",
                  "ACL/PfilterRuleRunInfo/RuleRunInfo/AppAclRuleIndex 2"}},
        TreeCase{"StatisticSumGroup", "GetJsonACLPfilterStatisticSum",
                 R"(statisticsum { AclGroup: "3000" })",
                 R"(16 T[]{} R[01 02 03:22="3000" 04 05 06]{})",
                 {"ACL/PfilterStatisticSum/StatisticSum/AclGroup 3000"}},
        TreeCase{"ZonePairDestZone", "GetJsonACLZonePairPfilter",
                 R"(pfilter { DestZone: "untrust" } pfilter {})",
                 "18 T[]{} R[01 02 03 04 05]{} "
                 R"(R[01 02:22="untrust" 03 04 05]{})",
                 {"ACL/ZonePairPfilter/Pfilter/DestZone untrust"}},
        TreeCase{"ZonePairRuleCounter", "GetJsonACLZonePairPfilterRules",
                 "rule { RuleMatchPkts: 4294967296 }",
                 "19 T[]{} R[01 02 03 04 05 06:8=4294967296 07]{}",
                 {"ACL/ZonePairPfilterRules/Rule/RuleMatchPkts 4294967296"}}),
    CaseName());

#undef USER_ROW

}  // namespace
