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

using acl::ACLIPv4AdvanceRules;
using acl::ACLIPv4NamedAdvanceRules;
using acl::ACLIPv6AdvanceRules;
using acl::ACLIPv6NamedAdvanceRules;
using V4Rule = acl::ACLIPv4AdvanceRules::Rule;
using V4NamedRule = acl::ACLIPv4NamedAdvanceRules::Rule;
using V6Rule = acl::ACLIPv6AdvanceRules::Rule;
using V6NamedRule = acl::ACLIPv6NamedAdvanceRules::Rule;

// ---------------------------------------------------------------------------
// IPv4 advance rules. Columns run 0x01 to 0x39 and 0x40 (ECN), each once.

// Columns of an IPv4 advance rule after its group; M is the rule class, P
// its path prefix.
#define IPV4_ADVANCE_RULE_COLUMNS(M, P)                          \
  ACL_COLUMN(M, P, RuleID,         ruleid,         0x02, kU32),  \
  ACL_COLUMN(M, P, Action,         action,         0x03, kU32),  \
  ACL_COLUMN(M, P, ProtocolType,   protocoltype,   0x04, kU32),  \
  ACL_COLUMN(M, P, SrcAny,         srcany,         0x05, kBool), \
  ACL_COLUMN(M, P, DstAny,         dstany,         0x08, kBool), \
  ACL_COLUMN(M, P, DSCP,           dscp,           0x0B, kU32),  \
  ACL_COLUMN(M, P, ECN,            ecn,            0x40, kU32),  \
  ACL_COLUMN(M, P, Precedence,     precedence,     0x0C, kU32),  \
  ACL_COLUMN(M, P, TOS,            tos,            0x0D, kU32),  \
  ACL_COLUMN(M, P, Established,    established,    0x1A, kBool), \
  ACL_COLUMN(M, P, Fragment,       fragment,       0x1D, kBool), \
  ACL_COLUMN(M, P, TimeRange,      timerange,      0x1E, kName), \
  ACL_COLUMN(M, P, VRF,            vrf,            0x1F, kText), \
  ACL_COLUMN(M, P, QoSLocalID,     qoslocalid,     0x35, kU32),  \
  ACL_COLUMN(M, P, EncapType,      encaptype,      0x36, kU32),  \
  ACL_COLUMN(M, P, VxlanID,        vxlanid,        0x34, kU32),  \
  ACL_COLUMN(M, P, InProtocolType, inprotocoltype, 0x26, kU32),  \
  ACL_COLUMN(M, P, InSrcAny,       insrcany,       0x27, kBool), \
  ACL_COLUMN(M, P, InDstAny,       indstany,       0x2A, kBool), \
  ACL_COLUMN(M, P, InEstablished,  inestablished,  0x33, kBool), \
  ACL_COLUMN(M, P, Counting,       counting,       0x20, kBool), \
  ACL_COLUMN(M, P, Logging,        logging,        0x21, kBool), \
  ACL_COLUMN(M, P, Comment,        comment,        0x22, kText), \
  ACL_COLUMN(M, P, Status,         status,         0x23, kU32),  \
  ACL_COLUMN(M, P, Count,          count,          0x24, kU64),  \
  ACL_COLUMN(M, P, MatchIndex,     matchindex,     0x25, kU32),  \
  ACL_COLUMN(M, P, GreValue,       grevalue,       0x37, kText), \
  ACL_COLUMN(M, P, Options,        options,        0x38, kBool), \
  ACL_COLUMN(M, P, FragmentType,   fragmenttype,   0x39, kU32)

// Columns of each nested message of an IPv4 advance rule: M is the nested
// class, P its path prefix.
#define V4_SRC_IPV4_COLUMNS(M, P)                                  \
  ACL_COLUMN(M, P, SrcIPv4Addr,     srcipv4addr,     0x06, kIPv4), \
  ACL_COLUMN(M, P, SrcIPv4Wildcard, srcipv4wildcard, 0x07, kIPv4)

#define V4_DST_IPV4_COLUMNS(M, P)                                  \
  ACL_COLUMN(M, P, DstIPv4Addr,     dstipv4addr,     0x09, kIPv4), \
  ACL_COLUMN(M, P, DstIPv4Wildcard, dstipv4wildcard, 0x0A, kIPv4)

#define V4_SRC_PORT_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, SrcPortOp,     srcportop,     0x0E, kU32), \
  ACL_COLUMN(M, P, SrcPortValue1, srcportvalue1, 0x0F, kU32), \
  ACL_COLUMN(M, P, SrcPortValue2, srcportvalue2, 0x10, kU32)

#define V4_DST_PORT_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, DstPortOp,     dstportop,     0x11, kU32), \
  ACL_COLUMN(M, P, DstPortValue1, dstportvalue1, 0x12, kU32), \
  ACL_COLUMN(M, P, DstPortValue2, dstportvalue2, 0x13, kU32)

#define V4_TCP_FLAG_COLUMNS(M, P)         \
  ACL_COLUMN(M, P, ACK, ack, 0x14, kU32), \
  ACL_COLUMN(M, P, FIN, fin, 0x15, kU32), \
  ACL_COLUMN(M, P, PSH, psh, 0x16, kU32), \
  ACL_COLUMN(M, P, RST, rst, 0x17, kU32), \
  ACL_COLUMN(M, P, SYN, syn, 0x18, kU32), \
  ACL_COLUMN(M, P, URG, urg, 0x19, kU32)

#define V4_ICMP_COLUMNS(M, P)                       \
  ACL_COLUMN(M, P, ICMPType, icmptype, 0x1B, kU32), \
  ACL_COLUMN(M, P, ICMPCode, icmpcode, 0x1C, kU32)

#define V4_IN_SRC_IPV4_COLUMNS(M, P)                                   \
  ACL_COLUMN(M, P, InSrcIPv4Addr,     insrcipv4addr,     0x28, kIPv4), \
  ACL_COLUMN(M, P, InSrcIPv4Wildcard, insrcipv4wildcard, 0x29, kIPv4)

#define V4_IN_DST_IPV4_COLUMNS(M, P)                                   \
  ACL_COLUMN(M, P, InDstIPv4Addr,     indstipv4addr,     0x2B, kIPv4), \
  ACL_COLUMN(M, P, InDstIPv4Wildcard, indstipv4wildcard, 0x2C, kIPv4)

#define V4_IN_SRC_PORT_COLUMNS(M, P)                              \
  ACL_COLUMN(M, P, InSrcPortOp,     insrcportop,     0x2D, kU32), \
  ACL_COLUMN(M, P, InSrcPortValue1, insrcportvalue1, 0x2E, kU32), \
  ACL_COLUMN(M, P, InSrcPortValue2, insrcportvalue2, 0x2F, kU32)

#define V4_IN_DST_PORT_COLUMNS(M, P)                              \
  ACL_COLUMN(M, P, InDstPortOp,     indstportop,     0x30, kU32), \
  ACL_COLUMN(M, P, InDstPortValue1, indstportvalue1, 0x31, kU32), \
  ACL_COLUMN(M, P, InDstPortValue2, indstportvalue2, 0x32, kU32)

// The nested messages of an IPv4 advance rule: one column array per message
// and the rule's sub-entry list, all named after V. R is the rule class, P
// its path prefix.
#define IPV4_ADVANCE_SUB_ENTRIES(V, R, P)                                      \
  constexpr Column k##V##SrcIPv4Columns[] = {                                  \
      V4_SRC_IPV4_COLUMNS(R::SrcIPv4, P "SrcIPv4/")};                          \
  constexpr Column k##V##DstIPv4Columns[] = {                                  \
      V4_DST_IPV4_COLUMNS(R::DstIPv4, P "DstIPv4/")};                          \
  constexpr Column k##V##SrcPortColumns[] = {                                  \
      V4_SRC_PORT_COLUMNS(R::SrcPort, P "SrcPort/")};                          \
  constexpr Column k##V##DstPortColumns[] = {                                  \
      V4_DST_PORT_COLUMNS(R::DstPort, P "DstPort/")};                          \
  constexpr Column k##V##TcpFlagColumns[] = {                                  \
      V4_TCP_FLAG_COLUMNS(R::TcpFlag, P "TcpFlag/")};                          \
  constexpr Column k##V##ICMPColumns[] = {                                     \
      V4_ICMP_COLUMNS(R::ICMP, P "ICMP/")};                                    \
  constexpr Column k##V##InSrcIPv4Columns[] = {                                \
      V4_IN_SRC_IPV4_COLUMNS(R::InSrcIPv4, P "InSrcIPv4/")};                   \
  constexpr Column k##V##InDstIPv4Columns[] = {                                \
      V4_IN_DST_IPV4_COLUMNS(R::InDstIPv4, P "InDstIPv4/")};                   \
  constexpr Column k##V##InSrcPortColumns[] = {                                \
      V4_IN_SRC_PORT_COLUMNS(R::InSrcPort, P "InSrcPort/")};                   \
  constexpr Column k##V##InDstPortColumns[] = {                                \
      V4_IN_DST_PORT_COLUMNS(R::InDstPort, P "InDstPort/")};                   \
  constexpr SubEntry k##V##SubEntries[] = {                                    \
    ACL_SUB_ENTRY(R, Srcipv4,   srcipv4,   SrcIPv4,   k##V##SrcIPv4Columns),   \
    ACL_SUB_ENTRY(R, Dstipv4,   dstipv4,   DstIPv4,   k##V##DstIPv4Columns),   \
    ACL_SUB_ENTRY(R, Srcport,   srcport,   SrcPort,   k##V##SrcPortColumns),   \
    ACL_SUB_ENTRY(R, Dstport,   dstport,   DstPort,   k##V##DstPortColumns),   \
    ACL_SUB_ENTRY(R, Tcpflag,   tcpflag,   TcpFlag,   k##V##TcpFlagColumns),   \
    ACL_SUB_ENTRY(R, Icmp,      icmp,      ICMP,      k##V##ICMPColumns),      \
    ACL_SUB_ENTRY(R, Insrcipv4, insrcipv4, InSrcIPv4, k##V##InSrcIPv4Columns), \
    ACL_SUB_ENTRY(R, Indstipv4, indstipv4, InDstIPv4, k##V##InDstIPv4Columns), \
    ACL_SUB_ENTRY(R, Insrcport, insrcport, InSrcPort, k##V##InSrcPortColumns), \
    ACL_SUB_ENTRY(R, Indstport, indstport, InDstPort, k##V##InDstPortColumns), \
  }

constexpr Column kIPv4RuleColumns[] = {
    ACL_COLUMN(V4Rule, "ACL/IPv4AdvanceRules/Rule/", GroupID, groupid, 0x01,
               kU32),
    IPV4_ADVANCE_RULE_COLUMNS(V4Rule, "ACL/IPv4AdvanceRules/Rule/"),
};
IPV4_ADVANCE_SUB_ENTRIES(IPv4, V4Rule, "ACL/IPv4AdvanceRules/Rule/");

constexpr Column kIPv4NamedRuleColumns[] = {
    ACL_COLUMN(V4NamedRule, "ACL/IPv4NamedAdvanceRules/Rule/", GroupIndex,
               groupindex, 0x01, kName),
    IPV4_ADVANCE_RULE_COLUMNS(V4NamedRule, "ACL/IPv4NamedAdvanceRules/Rule/"),
};
IPV4_ADVANCE_SUB_ENTRIES(IPv4Named, V4NamedRule,
                         "ACL/IPv4NamedAdvanceRules/Rule/");

// ---------------------------------------------------------------------------
// IPv6 advance rules. Columns run 0x01 to 0x2D, each once; ECN is the last.
// Addresses are plain text, prefix lengths numbers.

// Columns of an IPv6 advance rule after its group; M is the rule class, P
// its path prefix.
#define IPV6_ADVANCE_RULE_COLUMNS(M, P)                              \
  ACL_COLUMN(M, P, RuleID,           ruleid,           0x02, kU32),  \
  ACL_COLUMN(M, P, Action,           action,           0x03, kU32),  \
  ACL_COLUMN(M, P, ProtocolType,     protocoltype,     0x04, kU32),  \
  ACL_COLUMN(M, P, SrcAny,           srcany,           0x05, kBool), \
  ACL_COLUMN(M, P, DstAny,           dstany,           0x08, kBool), \
  ACL_COLUMN(M, P, DSCP,             dscp,             0x0B, kU32),  \
  ACL_COLUMN(M, P, ECN,              ecn,              0x2D, kU32),  \
  ACL_COLUMN(M, P, FlowLabel,        flowlabel,        0x0C, kU32),  \
  ACL_COLUMN(M, P, RoutingTypeAny,   routingtypeany,   0x0D, kBool), \
  ACL_COLUMN(M, P, RoutingTypeValue, routingtypevalue, 0x0E, kU32),  \
  ACL_COLUMN(M, P, Established,      established,      0x1B, kBool), \
  ACL_COLUMN(M, P, Fragment,         fragment,         0x1E, kBool), \
  ACL_COLUMN(M, P, HopTypeAny,       hoptypeany,       0x1F, kBool), \
  ACL_COLUMN(M, P, HopTypeValue,     hoptypevalue,     0x20, kU32),  \
  ACL_COLUMN(M, P, TimeRange,        timerange,        0x21, kName), \
  ACL_COLUMN(M, P, VRF,              vrf,              0x22, kText), \
  ACL_COLUMN(M, P, QoSLocalID,       qoslocalid,       0x29, kU32),  \
  ACL_COLUMN(M, P, Counting,         counting,         0x23, kBool), \
  ACL_COLUMN(M, P, Logging,          logging,          0x24, kBool), \
  ACL_COLUMN(M, P, Comment,          comment,          0x25, kText), \
  ACL_COLUMN(M, P, Status,           status,           0x26, kU32),  \
  ACL_COLUMN(M, P, Count,            count,            0x27, kU64),  \
  ACL_COLUMN(M, P, MatchIndex,       matchindex,       0x28, kU32),  \
  ACL_COLUMN(M, P, GreValue,         grevalue,         0x2A, kText), \
  ACL_COLUMN(M, P, Options,          options,          0x2B, kBool), \
  ACL_COLUMN(M, P, FragmentType,     fragmenttype,     0x2C, kU32)

// Columns of each nested message of an IPv6 advance rule: M is the nested
// class, P its path prefix.
#define V6_SRC_IPV6_COLUMNS(M, P)                              \
  ACL_COLUMN(M, P, SrcIPv6Addr,   srcipv6addr,   0x06, kText), \
  ACL_COLUMN(M, P, SrcIPv6Prefix, srcipv6prefix, 0x07, kU32)

#define V6_DST_IPV6_COLUMNS(M, P)                              \
  ACL_COLUMN(M, P, DstIPv6Addr,   dstipv6addr,   0x09, kText), \
  ACL_COLUMN(M, P, DstIPv6Prefix, dstipv6prefix, 0x0A, kU32)

#define V6_SRC_PORT_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, SrcPortOp,     srcportop,     0x0F, kU32), \
  ACL_COLUMN(M, P, SrcPortValue1, srcportvalue1, 0x10, kU32), \
  ACL_COLUMN(M, P, SrcPortValue2, srcportvalue2, 0x11, kU32)

#define V6_DST_PORT_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, DstPortOp,     dstportop,     0x12, kU32), \
  ACL_COLUMN(M, P, DstPortValue1, dstportvalue1, 0x13, kU32), \
  ACL_COLUMN(M, P, DstPortValue2, dstportvalue2, 0x14, kU32)

#define V6_TCP_FLAG_COLUMNS(M, P)         \
  ACL_COLUMN(M, P, ACK, ack, 0x15, kU32), \
  ACL_COLUMN(M, P, FIN, fin, 0x16, kU32), \
  ACL_COLUMN(M, P, PSH, psh, 0x17, kU32), \
  ACL_COLUMN(M, P, RST, rst, 0x18, kU32), \
  ACL_COLUMN(M, P, SYN, syn, 0x19, kU32), \
  ACL_COLUMN(M, P, URG, urg, 0x1A, kU32)

#define V6_ICMP6_COLUMNS(M, P)                        \
  ACL_COLUMN(M, P, ICMP6Type, icmp6type, 0x1C, kU32), \
  ACL_COLUMN(M, P, ICMP6Code, icmp6code, 0x1D, kU32)

// The nested messages of an IPv6 advance rule: one column array per message
// and the rule's sub-entry list, all named after V. R is the rule class, P
// its path prefix.
#define IPV6_ADVANCE_SUB_ENTRIES(V, R, P)                              \
  constexpr Column k##V##SrcIPv6Columns[] = {                          \
      V6_SRC_IPV6_COLUMNS(R::SrcIPv6, P "SrcIPv6/")};                  \
  constexpr Column k##V##DstIPv6Columns[] = {                          \
      V6_DST_IPV6_COLUMNS(R::DstIPv6, P "DstIPv6/")};                  \
  constexpr Column k##V##SrcPortColumns[] = {                          \
      V6_SRC_PORT_COLUMNS(R::SrcPort, P "SrcPort/")};                  \
  constexpr Column k##V##DstPortColumns[] = {                          \
      V6_DST_PORT_COLUMNS(R::DstPort, P "DstPort/")};                  \
  constexpr Column k##V##TcpFlagColumns[] = {                          \
      V6_TCP_FLAG_COLUMNS(R::TcpFlag, P "TcpFlag/")};                  \
  constexpr Column k##V##ICMP6Columns[] = {                            \
      V6_ICMP6_COLUMNS(R::ICMP6, P "ICMP6/")};                         \
  constexpr SubEntry k##V##SubEntries[] = {                            \
    ACL_SUB_ENTRY(R, Srcipv6, srcipv6, SrcIPv6, k##V##SrcIPv6Columns), \
    ACL_SUB_ENTRY(R, Dstipv6, dstipv6, DstIPv6, k##V##DstIPv6Columns), \
    ACL_SUB_ENTRY(R, Srcport, srcport, SrcPort, k##V##SrcPortColumns), \
    ACL_SUB_ENTRY(R, Dstport, dstport, DstPort, k##V##DstPortColumns), \
    ACL_SUB_ENTRY(R, Tcpflag, tcpflag, TcpFlag, k##V##TcpFlagColumns), \
    ACL_SUB_ENTRY(R, Icmp6,   icmp6,   ICMP6,   k##V##ICMP6Columns),   \
  }

constexpr Column kIPv6RuleColumns[] = {
    ACL_COLUMN(V6Rule, "ACL/IPv6AdvanceRules/Rule/", GroupID, groupid, 0x01,
               kU32),
    IPV6_ADVANCE_RULE_COLUMNS(V6Rule, "ACL/IPv6AdvanceRules/Rule/"),
};
IPV6_ADVANCE_SUB_ENTRIES(IPv6, V6Rule, "ACL/IPv6AdvanceRules/Rule/");

constexpr Column kIPv6NamedRuleColumns[] = {
    ACL_COLUMN(V6NamedRule, "ACL/IPv6NamedAdvanceRules/Rule/", GroupIndex,
               groupindex, 0x01, kName),
    IPV6_ADVANCE_RULE_COLUMNS(V6NamedRule, "ACL/IPv6NamedAdvanceRules/Rule/"),
};
IPV6_ADVANCE_SUB_ENTRIES(IPv6Named, V6NamedRule,
                         "ACL/IPv6NamedAdvanceRules/Rule/");

#undef IPV4_ADVANCE_RULE_COLUMNS
#undef V4_DST_IPV4_COLUMNS
#undef V4_DST_PORT_COLUMNS
#undef V4_ICMP_COLUMNS
#undef V4_IN_DST_IPV4_COLUMNS
#undef V4_IN_DST_PORT_COLUMNS
#undef V4_IN_SRC_IPV4_COLUMNS
#undef V4_IN_SRC_PORT_COLUMNS
#undef V4_SRC_IPV4_COLUMNS
#undef V4_SRC_PORT_COLUMNS
#undef V4_TCP_FLAG_COLUMNS
#undef IPV4_ADVANCE_SUB_ENTRIES
#undef IPV6_ADVANCE_RULE_COLUMNS
#undef V6_DST_IPV6_COLUMNS
#undef V6_DST_PORT_COLUMNS
#undef V6_ICMP6_COLUMNS
#undef V6_SRC_IPV6_COLUMNS
#undef V6_SRC_PORT_COLUMNS
#undef V6_TCP_FLAG_COLUMNS
#undef IPV6_ADVANCE_SUB_ENTRIES

}  // namespace

constexpr Table kIPv4AdvanceRules{
    "IPv4AdvanceRules", 9, ACL_LIST(ACLIPv4AdvanceRules, Rule, rule),
    kIPv4RuleColumns, kIPv4SubEntries};
constexpr Table kIPv4NamedAdvanceRules{
    "IPv4NamedAdvanceRules", 10,
    ACL_LIST(ACLIPv4NamedAdvanceRules, Rule, rule), kIPv4NamedRuleColumns,
    kIPv4NamedSubEntries};
constexpr Table kIPv6AdvanceRules{
    "IPv6AdvanceRules", 11, ACL_LIST(ACLIPv6AdvanceRules, Rule, rule),
    kIPv6RuleColumns, kIPv6SubEntries};
constexpr Table kIPv6NamedAdvanceRules{
    "IPv6NamedAdvanceRules", 12,
    ACL_LIST(ACLIPv6NamedAdvanceRules, Rule, rule), kIPv6NamedRuleColumns,
    kIPv6NamedSubEntries};

}  // namespace acl_tables
