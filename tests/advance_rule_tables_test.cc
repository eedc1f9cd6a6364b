// IPv4 and IPv6 advance rules: the worked examples, column numbers out of
// field order (ECN), every kind of sub-entry, and the first rejection.

#include "tests/service_fixture.h"

namespace {

// The 30 and 27 row columns, in the order a row carries them.
#define V4_ROW "01 02 03 04 05 08 0b 40 0c 0d 1a 1d 1e 1f 35 36 34 26 27 2a " \
               "33 20 21 22 23 24 25 37 38 39"
#define V6_ROW "01 02 03 04 05 08 0b 2d 0c 0d 0e 1b 1e 1f 20 21 22 29 23 24 " \
               "25 26 27 28 2a 2b 2c"

INSTANTIATE_TEST_SUITE_P(
    AdvanceRules, TreeTest,
    ::testing::Values(
        TreeCase{"V4DefaultRow", "GetJsonACLIPv4AdvanceRules", "",
                 "09 T[]{} R[" V4_ROW "]{}", {}},
        TreeCase{"V4WorkedExample", "GetJsonACLIPv4AdvanceRules",
                 R"(rule { GroupID: 3000 Counting: false )"
                 R"(srcipv4 { SrcIPv4Addr: "10.0.0.1" } })",
                 "09 T[]{} R[01:1=3000 02 03 04 05 08 0b 40 0c 0d 1a 1d 1e "
                 "1f 35 36 34 26 27 2a 33 20:15=0 21 22 23 24 25 37 38 39]"
                 R"({SrcIPv4[06:5="10.0.0.1" 07]})",
                 {"ACL/IPv4AdvanceRules/Rule/GroupID 3000",
                  "ACL/IPv4AdvanceRules/Rule/Counting 0",
                  "ACL/IPv4AdvanceRules/Rule/SrcIPv4/SrcIPv4Addr 10.0.0.1"}},
        TreeCase{"V6NamedWorkedExample", "GetJsonACLIPv6NamedAdvanceRules",
                 R"(rule { GroupIndex: "edge" RoutingTypeAny: true )"
                 R"(srcipv6 { SrcIPv6Addr: "2001:db8::1" SrcIPv6Prefix: 64 } })",
                 R"(0c T[]{} R[01:22="edge" 02 03 04 05 08 0b 2d 0c )"
                 "0d:15=1 0e 1b 1e 1f 20 21 22 29 23 24 25 26 27 28 2a 2b 2c]"
                 R"({SrcIPv6[06:6="2001:db8::1" 07:1=64]})",
                 {"ACL/IPv6NamedAdvanceRules/Rule/GroupIndex edge",
                  "ACL/IPv6NamedAdvanceRules/Rule/RoutingTypeAny 1",
                  "ACL/IPv6NamedAdvanceRules/Rule/SrcIPv6/SrcIPv6Addr "
                  "2001:db8::1",
                  "ACL/IPv6NamedAdvanceRules/Rule/SrcIPv6/SrcIPv6Prefix 64"}},
        TreeCase{"V4EcnIsColumn64", "GetJsonACLIPv4NamedAdvanceRules",
                 "rule { ECN: 2 }",
                 "0a T[]{} R[01 02 03 04 05 08 0b 40:1=2 0c 0d 1a 1d 1e 1f "
                 "35 36 34 26 27 2a 33 20 21 22 23 24 25 37 38 39]{}",
                 {"ACL/IPv4NamedAdvanceRules/Rule/ECN 2"}},
        TreeCase{"V6EcnFalseAndLargestCount", "GetJsonACLIPv6AdvanceRules",
                 "rule { ECN: 3 HopTypeAny: false "
                 "Count: 18446744073709551615 }",
                 "0b T[]{} R[01 02 03 04 05 08 0b 2d:1=3 0c 0d 0e 1b 1e 1f:15=0 "
                 "20 21 22 29 23 24 25 26 27:8=18446744073709551615 28 2a 2b "
                 "2c]{}",
                 {"ACL/IPv6AdvanceRules/Rule/ECN 3",
                  "ACL/IPv6AdvanceRules/Rule/HopTypeAny 0",
                  "ACL/IPv6AdvanceRules/Rule/Count 18446744073709551615"}},
        TreeCase{"V4NamedEmptyGroupIndexIsGiven",
                 "GetJsonACLIPv4NamedAdvanceRules", R"(rule { GroupIndex: "" })",
                 R"(0a T[]{} R[01:22="" 02 03 04 05 08 0b 40 0c 0d 1a 1d 1e )"
                 "1f 35 36 34 26 27 2a 33 20 21 22 23 24 25 37 38 39]{}",
                 {"ACL/IPv4NamedAdvanceRules/Rule/GroupIndex "}},
        TreeCase{"V4SubEntryKindsInFieldOrder", "GetJsonACLIPv4AdvanceRules",
                 "rule { srcport { SrcPortOp: 1 } srcipv4 {} srcipv4 {} }",
                 "09 T[]{} R[" V4_ROW "]{SrcIPv4[06 07] SrcIPv4[06 07] "
                 "SrcPort[0e:1=1 0f 10]}",
                 {"ACL/IPv4AdvanceRules/Rule/SrcPort/SrcPortOp 1"}},
        TreeCase{"V4EveryKindOfSubEntry", "GetJsonACLIPv4AdvanceRules",
                 "rule { indstport {} insrcport {} indstipv4 {} insrcipv4 {} "
                 "icmp {} tcpflag {} dstport {} srcport {} dstipv4 {} "
                 "srcipv4 {} }",
                 "09 T[]{} R[" V4_ROW "]{SrcIPv4[06 07] DstIPv4[09 0a] "
                 "SrcPort[0e 0f 10] DstPort[11 12 13] "
                 "TcpFlag[14 15 16 17 18 19] ICMP[1b 1c] InSrcIPv4[28 29] "
                 "InDstIPv4[2b 2c] InSrcPort[2d 2e 2f] InDstPort[30 31 32]}",
                 {}},
        TreeCase{"V6EveryKindOfSubEntry", "GetJsonACLIPv6NamedAdvanceRules",
                 "rule { icmp6 { ICMP6Code: 4 } dstipv6 {} dstipv6 {} "
                 "tcpflag { URG: 1 } dstport {} srcport {} srcipv6 {} }",
                 "0c T[]{} R[" V6_ROW "]{SrcIPv6[06 07] DstIPv6[09 0a] "
                 "DstIPv6[09 0a] SrcPort[0f 10 11] DstPort[12 13 14] "
                 "TcpFlag[15 16 17 18 19 1a:1=1] ICMP6[1c 1d:1=4]}",
                 {"ACL/IPv6NamedAdvanceRules/Rule/TcpFlag/URG 1",
                  "ACL/IPv6NamedAdvanceRules/Rule/ICMP6/ICMP6Code 4"}}),
    CaseName());

#undef V4_ROW
#undef V6_ROW

}  // namespace
