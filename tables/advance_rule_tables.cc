// IPv4 and IPv6 advance rules, in numbered groups (GroupID) and in named
// groups (GroupIndex).
//
// Both variants of a family share every column but the group one, so each
// family's rule columns and nested messages are written once, as macros, and
// expanded for the two variants. Rule columns are listed in the order the
// rule's fields are numbered, which is not the order of the column numbers.

#include "proto/acl_tree.pb.h"
#include "tables/tables.h"

namespace acl_tables {
namespace {

using V4Rule = acl::ACLIPv4AdvanceRules::Rule;
using V4NamedRule = acl::ACLIPv4NamedAdvanceRules::Rule;
using V6Rule = acl::ACLIPv6AdvanceRules::Rule;
using V6NamedRule = acl::ACLIPv6NamedAdvanceRules::Rule;

// ---------------------------------------------------------------------------
// IPv4 advance rules. Columns run 0x01 to 0x39 and 0x40 (ECN), each once.

// Columns of an IPv4 advance rule after its group; M is the rule class, P
// its path prefix.
#define IPV4_ADVANCE_RULE_COLUMNS(M, P)                \
  ACL_COLUMN(M, P, RuleID,         0x02, kU32),        \
  ACL_COLUMN(M, P, Action,         0x03, kU32),        \
  ACL_COLUMN(M, P, ProtocolType,   0x04, kU32),        \
  ACL_COLUMN(M, P, SrcAny,         0x05, kBool),       \
  ACL_COLUMN(M, P, DstAny,         0x08, kBool),       \
  ACL_COLUMN(M, P, DSCP,           0x0B, kU32),        \
  ACL_COLUMN(M, P, ECN,            0x40, kU32),        \
  ACL_COLUMN(M, P, Precedence,     0x0C, kU32),        \
  ACL_COLUMN(M, P, TOS,            0x0D, kU32),        \
  ACL_COLUMN(M, P, Established,    0x1A, kBool),       \
  ACL_COLUMN(M, P, Fragment,       0x1D, kBool),       \
  ACL_COLUMN(M, P, TimeRange,      0x1E, kName),       \
  ACL_COLUMN(M, P, VRF,            0x1F, kText),       \
  ACL_COLUMN(M, P, QoSLocalID,     0x35, kU32),        \
  ACL_COLUMN(M, P, EncapType,      0x36, kU32),        \
  ACL_COLUMN(M, P, VxlanID,        0x34, kU32),        \
  ACL_COLUMN(M, P, InProtocolType, 0x26, kU32),        \
  ACL_COLUMN(M, P, InSrcAny,       0x27, kBool),       \
  ACL_COLUMN(M, P, InDstAny,       0x2A, kBool),       \
  ACL_COLUMN(M, P, InEstablished,  0x33, kBool),       \
  ACL_COLUMN(M, P, Counting,       0x20, kBool),       \
  ACL_COLUMN(M, P, Logging,        0x21, kBool),       \
  ACL_COLUMN(M, P, Comment,        0x22, kText),       \
  ACL_COLUMN(M, P, Status,         0x23, kU32),        \
  ACL_COLUMN(M, P, Count,          0x24, kU64),        \
  ACL_COLUMN(M, P, MatchIndex,     0x25, kU32),        \
  ACL_COLUMN(M, P, GreValue,       0x37, kText),       \
  ACL_COLUMN(M, P, Options,        0x38, kBool),       \
  ACL_COLUMN(M, P, FragmentType,   0x39, kU32)

// The nested messages of an IPv4 advance rule: one column array per message
// and the rule's sub-entry list, all named after V. R is the rule class, P
// its path prefix.
#define IPV4_ADVANCE_SUB_ENTRIES(V, R, P)                                     \
  constexpr Column k##V##SrcIPv4Columns[] = {                                 \
    ACL_COLUMN(R::SrcIPv4, P "SrcIPv4/", SrcIPv4Addr,     0x06, kIPv4),       \
    ACL_COLUMN(R::SrcIPv4, P "SrcIPv4/", SrcIPv4Wildcard, 0x07, kIPv4),       \
  };                                                                          \
  constexpr Column k##V##DstIPv4Columns[] = {                                 \
    ACL_COLUMN(R::DstIPv4, P "DstIPv4/", DstIPv4Addr,     0x09, kIPv4),       \
    ACL_COLUMN(R::DstIPv4, P "DstIPv4/", DstIPv4Wildcard, 0x0A, kIPv4),       \
  };                                                                          \
  constexpr Column k##V##SrcPortColumns[] = {                                 \
    ACL_COLUMN(R::SrcPort, P "SrcPort/", SrcPortOp,     0x0E, kU32),          \
    ACL_COLUMN(R::SrcPort, P "SrcPort/", SrcPortValue1, 0x0F, kU32),          \
    ACL_COLUMN(R::SrcPort, P "SrcPort/", SrcPortValue2, 0x10, kU32),          \
  };                                                                          \
  constexpr Column k##V##DstPortColumns[] = {                                 \
    ACL_COLUMN(R::DstPort, P "DstPort/", DstPortOp,     0x11, kU32),          \
    ACL_COLUMN(R::DstPort, P "DstPort/", DstPortValue1, 0x12, kU32),          \
    ACL_COLUMN(R::DstPort, P "DstPort/", DstPortValue2, 0x13, kU32),          \
  };                                                                          \
  constexpr Column k##V##TcpFlagColumns[] = {                                 \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", ACK, 0x14, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", FIN, 0x15, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", PSH, 0x16, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", RST, 0x17, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", SYN, 0x18, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", URG, 0x19, kU32),                    \
  };                                                                          \
  constexpr Column k##V##ICMPColumns[] = {                                    \
    ACL_COLUMN(R::ICMP, P "ICMP/", ICMPType, 0x1B, kU32),                     \
    ACL_COLUMN(R::ICMP, P "ICMP/", ICMPCode, 0x1C, kU32),                     \
  };                                                                          \
  constexpr Column k##V##InSrcIPv4Columns[] = {                               \
    ACL_COLUMN(R::InSrcIPv4, P "InSrcIPv4/", InSrcIPv4Addr,     0x28, kIPv4), \
    ACL_COLUMN(R::InSrcIPv4, P "InSrcIPv4/", InSrcIPv4Wildcard, 0x29, kIPv4), \
  };                                                                          \
  constexpr Column k##V##InDstIPv4Columns[] = {                               \
    ACL_COLUMN(R::InDstIPv4, P "InDstIPv4/", InDstIPv4Addr,     0x2B, kIPv4), \
    ACL_COLUMN(R::InDstIPv4, P "InDstIPv4/", InDstIPv4Wildcard, 0x2C, kIPv4), \
  };                                                                          \
  constexpr Column k##V##InSrcPortColumns[] = {                               \
    ACL_COLUMN(R::InSrcPort, P "InSrcPort/", InSrcPortOp,     0x2D, kU32),    \
    ACL_COLUMN(R::InSrcPort, P "InSrcPort/", InSrcPortValue1, 0x2E, kU32),    \
    ACL_COLUMN(R::InSrcPort, P "InSrcPort/", InSrcPortValue2, 0x2F, kU32),    \
  };                                                                          \
  constexpr Column k##V##InDstPortColumns[] = {                               \
    ACL_COLUMN(R::InDstPort, P "InDstPort/", InDstPortOp,     0x30, kU32),    \
    ACL_COLUMN(R::InDstPort, P "InDstPort/", InDstPortValue1, 0x31, kU32),    \
    ACL_COLUMN(R::InDstPort, P "InDstPort/", InDstPortValue2, 0x32, kU32),    \
  };                                                                          \
  constexpr SubEntry k##V##SubEntries[] = {                                   \
    ACL_SUB_ENTRY(R, Srcipv4,   SrcIPv4,   k##V##SrcIPv4Columns),             \
    ACL_SUB_ENTRY(R, Dstipv4,   DstIPv4,   k##V##DstIPv4Columns),             \
    ACL_SUB_ENTRY(R, Srcport,   SrcPort,   k##V##SrcPortColumns),             \
    ACL_SUB_ENTRY(R, Dstport,   DstPort,   k##V##DstPortColumns),             \
    ACL_SUB_ENTRY(R, Tcpflag,   TcpFlag,   k##V##TcpFlagColumns),             \
    ACL_SUB_ENTRY(R, Icmp,      ICMP,      k##V##ICMPColumns),                \
    ACL_SUB_ENTRY(R, Insrcipv4, InSrcIPv4, k##V##InSrcIPv4Columns),           \
    ACL_SUB_ENTRY(R, Indstipv4, InDstIPv4, k##V##InDstIPv4Columns),           \
    ACL_SUB_ENTRY(R, Insrcport, InSrcPort, k##V##InSrcPortColumns),           \
    ACL_SUB_ENTRY(R, Indstport, InDstPort, k##V##InDstPortColumns),           \
  }

constexpr Column kIPv4RuleColumns[] = {
    ACL_COLUMN(V4Rule, "ACL/IPv4AdvanceRules/Rule/", GroupID, 0x01, kU32),
    IPV4_ADVANCE_RULE_COLUMNS(V4Rule, "ACL/IPv4AdvanceRules/Rule/"),
};
IPV4_ADVANCE_SUB_ENTRIES(IPv4, V4Rule, "ACL/IPv4AdvanceRules/Rule/");

constexpr Column kIPv4NamedRuleColumns[] = {
    ACL_COLUMN(V4NamedRule, "ACL/IPv4NamedAdvanceRules/Rule/", GroupIndex,
               0x01, kName),
    IPV4_ADVANCE_RULE_COLUMNS(V4NamedRule, "ACL/IPv4NamedAdvanceRules/Rule/"),
};
IPV4_ADVANCE_SUB_ENTRIES(IPv4Named, V4NamedRule,
                         "ACL/IPv4NamedAdvanceRules/Rule/");

// ---------------------------------------------------------------------------
// IPv6 advance rules. Columns run 0x01 to 0x2D, each once; ECN is the last.
// Addresses are plain text, prefix lengths numbers.

// Columns of an IPv6 advance rule after its group; M is the rule class, P
// its path prefix.
#define IPV6_ADVANCE_RULE_COLUMNS(M, P)                \
  ACL_COLUMN(M, P, RuleID,           0x02, kU32),      \
  ACL_COLUMN(M, P, Action,           0x03, kU32),      \
  ACL_COLUMN(M, P, ProtocolType,     0x04, kU32),      \
  ACL_COLUMN(M, P, SrcAny,           0x05, kBool),     \
  ACL_COLUMN(M, P, DstAny,           0x08, kBool),     \
  ACL_COLUMN(M, P, DSCP,             0x0B, kU32),      \
  ACL_COLUMN(M, P, ECN,              0x2D, kU32),      \
  ACL_COLUMN(M, P, FlowLabel,        0x0C, kU32),      \
  ACL_COLUMN(M, P, RoutingTypeAny,   0x0D, kBool),     \
  ACL_COLUMN(M, P, RoutingTypeValue, 0x0E, kU32),      \
  ACL_COLUMN(M, P, Established,      0x1B, kBool),     \
  ACL_COLUMN(M, P, Fragment,         0x1E, kBool),     \
  ACL_COLUMN(M, P, HopTypeAny,       0x1F, kBool),     \
  ACL_COLUMN(M, P, HopTypeValue,     0x20, kU32),      \
  ACL_COLUMN(M, P, TimeRange,        0x21, kName),     \
  ACL_COLUMN(M, P, VRF,              0x22, kText),     \
  ACL_COLUMN(M, P, QoSLocalID,       0x29, kU32),      \
  ACL_COLUMN(M, P, Counting,         0x23, kBool),     \
  ACL_COLUMN(M, P, Logging,          0x24, kBool),     \
  ACL_COLUMN(M, P, Comment,          0x25, kText),     \
  ACL_COLUMN(M, P, Status,           0x26, kU32),      \
  ACL_COLUMN(M, P, Count,            0x27, kU64),      \
  ACL_COLUMN(M, P, MatchIndex,       0x28, kU32),      \
  ACL_COLUMN(M, P, GreValue,         0x2A, kText),     \
  ACL_COLUMN(M, P, Options,          0x2B, kBool),     \
  ACL_COLUMN(M, P, FragmentType,     0x2C, kU32)

// The nested messages of an IPv6 advance rule: one column array per message
// and the rule's sub-entry list, all named after V. R is the rule class, P
// its path prefix.
#define IPV6_ADVANCE_SUB_ENTRIES(V, R, P)                                     \
  constexpr Column k##V##SrcIPv6Columns[] = {                                 \
    ACL_COLUMN(R::SrcIPv6, P "SrcIPv6/", SrcIPv6Addr,   0x06, kText),         \
    ACL_COLUMN(R::SrcIPv6, P "SrcIPv6/", SrcIPv6Prefix, 0x07, kU32),          \
  };                                                                          \
  constexpr Column k##V##DstIPv6Columns[] = {                                 \
    ACL_COLUMN(R::DstIPv6, P "DstIPv6/", DstIPv6Addr,   0x09, kText),         \
    ACL_COLUMN(R::DstIPv6, P "DstIPv6/", DstIPv6Prefix, 0x0A, kU32),          \
  };                                                                          \
  constexpr Column k##V##SrcPortColumns[] = {                                 \
    ACL_COLUMN(R::SrcPort, P "SrcPort/", SrcPortOp,     0x0F, kU32),          \
    ACL_COLUMN(R::SrcPort, P "SrcPort/", SrcPortValue1, 0x10, kU32),          \
    ACL_COLUMN(R::SrcPort, P "SrcPort/", SrcPortValue2, 0x11, kU32),          \
  };                                                                          \
  constexpr Column k##V##DstPortColumns[] = {                                 \
    ACL_COLUMN(R::DstPort, P "DstPort/", DstPortOp,     0x12, kU32),          \
    ACL_COLUMN(R::DstPort, P "DstPort/", DstPortValue1, 0x13, kU32),          \
    ACL_COLUMN(R::DstPort, P "DstPort/", DstPortValue2, 0x14, kU32),          \
  };                                                                          \
  constexpr Column k##V##TcpFlagColumns[] = {                                 \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", ACK, 0x15, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", FIN, 0x16, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", PSH, 0x17, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", RST, 0x18, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", SYN, 0x19, kU32),                    \
    ACL_COLUMN(R::TcpFlag, P "TcpFlag/", URG, 0x1A, kU32),                    \
  };                                                                          \
  constexpr Column k##V##ICMP6Columns[] = {                                   \
    ACL_COLUMN(R::ICMP6, P "ICMP6/", ICMP6Type, 0x1C, kU32),                  \
    ACL_COLUMN(R::ICMP6, P "ICMP6/", ICMP6Code, 0x1D, kU32),                  \
  };                                                                          \
  constexpr SubEntry k##V##SubEntries[] = {                                   \
    ACL_SUB_ENTRY(R, Srcipv6, SrcIPv6, k##V##SrcIPv6Columns),                 \
    ACL_SUB_ENTRY(R, Dstipv6, DstIPv6, k##V##DstIPv6Columns),                 \
    ACL_SUB_ENTRY(R, Srcport, SrcPort, k##V##SrcPortColumns),                 \
    ACL_SUB_ENTRY(R, Dstport, DstPort, k##V##DstPortColumns),                 \
    ACL_SUB_ENTRY(R, Tcpflag, TcpFlag, k##V##TcpFlagColumns),                 \
    ACL_SUB_ENTRY(R, Icmp6,   ICMP6,   k##V##ICMP6Columns),                   \
  }

constexpr Column kIPv6RuleColumns[] = {
    ACL_COLUMN(V6Rule, "ACL/IPv6AdvanceRules/Rule/", GroupID, 0x01, kU32),
    IPV6_ADVANCE_RULE_COLUMNS(V6Rule, "ACL/IPv6AdvanceRules/Rule/"),
};
IPV6_ADVANCE_SUB_ENTRIES(IPv6, V6Rule, "ACL/IPv6AdvanceRules/Rule/");

constexpr Column kIPv6NamedRuleColumns[] = {
    ACL_COLUMN(V6NamedRule, "ACL/IPv6NamedAdvanceRules/Rule/", GroupIndex,
               0x01, kName),
    IPV6_ADVANCE_RULE_COLUMNS(V6NamedRule, "ACL/IPv6NamedAdvanceRules/Rule/"),
};
IPV6_ADVANCE_SUB_ENTRIES(IPv6Named, V6NamedRule,
                         "ACL/IPv6NamedAdvanceRules/Rule/");

#undef IPV4_ADVANCE_RULE_COLUMNS
#undef IPV4_ADVANCE_SUB_ENTRIES
#undef IPV6_ADVANCE_RULE_COLUMNS
#undef IPV6_ADVANCE_SUB_ENTRIES

}  // namespace

constexpr Table kIPv4AdvanceRules{
    "IPv4AdvanceRules", 9, acl::ACLIPv4AdvanceRules::kRuleFieldNumber,
    kIPv4RuleColumns, kIPv4SubEntries};
constexpr Table kIPv4NamedAdvanceRules{
    "IPv4NamedAdvanceRules", 10,
    acl::ACLIPv4NamedAdvanceRules::kRuleFieldNumber, kIPv4NamedRuleColumns,
    kIPv4NamedSubEntries};
constexpr Table kIPv6AdvanceRules{
    "IPv6AdvanceRules", 11, acl::ACLIPv6AdvanceRules::kRuleFieldNumber,
    kIPv6RuleColumns, kIPv6SubEntries};
constexpr Table kIPv6NamedAdvanceRules{
    "IPv6NamedAdvanceRules", 12,
    acl::ACLIPv6NamedAdvanceRules::kRuleFieldNumber, kIPv6NamedRuleColumns,
    kIPv6NamedSubEntries};

}  // namespace acl_tables
