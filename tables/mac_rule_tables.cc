// MAC rules, in numbered and in named groups.
//
// The four address kinds of sub-entry carry MAC values, the protocol and
// LSAP kinds plain text. The registry numbers the row's columns and the
// sub-entries' columns in one sequence that does not follow the request's
// field order, and InProtocolTypeMask takes column 0x20: 0x1A to 0x1F are
// not columns of these tables.

#include "proto/acl_tree.pb.h"
#include "tables/tables.h"

namespace acl_tables {
namespace {

using acl::ACLMACNamedRules;
using acl::ACLMACRules;
using MACRule = acl::ACLMACRules::Rule;
using MACNamedRule = acl::ACLMACNamedRules::Rule;

// Columns of a MAC rule after its group, shared by both variants.
#define MAC_RULE_COLUMNS(M, P)                           \
  ACL_COLUMN(M, P, RuleID,     ruleid,     0x02, kU32),  \
  ACL_COLUMN(M, P, Action,     action,     0x03, kU32),  \
  ACL_COLUMN(M, P, COS,        cos,        0x08, kU32),  \
  ACL_COLUMN(M, P, EncapType,  encaptype,  0x13, kU32),  \
  ACL_COLUMN(M, P, VxlanID,    vxlanid,    0x14, kU32),  \
  ACL_COLUMN(M, P, TimeRange,  timerange,  0x0D, kName), \
  ACL_COLUMN(M, P, Counting,   counting,   0x0E, kBool), \
  ACL_COLUMN(M, P, Comment,    comment,    0x0F, kText), \
  ACL_COLUMN(M, P, Status,     status,     0x10, kU32),  \
  ACL_COLUMN(M, P, Count,      count,      0x11, kU64),  \
  ACL_COLUMN(M, P, MatchIndex, matchindex, 0x12, kU32)

// Columns of each sub-entry kind, shared by both variants: M is the nested
// message, P the sub-entry's path prefix.
#define SRC_MAC_ADDR_COLUMNS(M, P)                            \
  ACL_COLUMN(M, P, SrcMACAddress, srcmacaddress, 0x04, kMAC), \
  ACL_COLUMN(M, P, SrcMACMask,    srcmacmask,    0x05, kMAC)
#define DST_MAC_ADDR_COLUMNS(M, P)                            \
  ACL_COLUMN(M, P, DstMACAddress, dstmacaddress, 0x06, kMAC), \
  ACL_COLUMN(M, P, DstMACMask,    dstmacmask,    0x07, kMAC)
#define PROTOCOL_COLUMNS(M, P)                                       \
  ACL_COLUMN(M, P, ProtocolType,     protocoltype,     0x09, kText), \
  ACL_COLUMN(M, P, ProtocolTypeMask, protocoltypemask, 0x0A, kText)
#define LSAP_COLUMNS(M, P)                                   \
  ACL_COLUMN(M, P, LSAPType,     lsaptype,     0x0B, kText), \
  ACL_COLUMN(M, P, LSAPTypeMask, lsaptypemask, 0x0C, kText)
#define IN_SRC_MAC_ADDR_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, InSrcMACAddress, insrcmacaddress, 0x15, kMAC), \
  ACL_COLUMN(M, P, InSrcMACMask,    insrcmacmask,    0x16, kMAC)
#define IN_DST_MAC_ADDR_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, InDstMACAddress, indstmacaddress, 0x17, kMAC), \
  ACL_COLUMN(M, P, InDstMACMask,    indstmacmask,    0x18, kMAC)
#define IN_PROTOCOL_COLUMNS(M, P)                                        \
  ACL_COLUMN(M, P, InProtocolType,     inprotocoltype,     0x19, kText), \
  ACL_COLUMN(M, P, InProtocolTypeMask, inprotocoltypemask, 0x20, kText)

// The sub-entry kinds of a MAC rule in field order, shared by both variants:
// R is the variant's Rule, A the common stem of its sub-entry column arrays.
#define MAC_RULE_SUB_ENTRIES(R, A)                           \
  ACL_SUB_ENTRY(R, Srcmacaddr, srcmacaddr, SrcMACAddr,       \
                A##SrcMACAddrColumns),                       \
  ACL_SUB_ENTRY(R, Dstmacaddr, dstmacaddr, DstMACAddr,       \
                A##DstMACAddrColumns),                       \
  ACL_SUB_ENTRY(R, Protocol, protocol, Protocol,             \
                A##ProtocolColumns),                         \
  ACL_SUB_ENTRY(R, Lsap, lsap, LSAP,                         \
                A##LSAPColumns),                             \
  ACL_SUB_ENTRY(R, Insrcmacaddr, insrcmacaddr, InSrcMACAddr, \
                A##InSrcMACAddrColumns),                     \
  ACL_SUB_ENTRY(R, Indstmacaddr, indstmacaddr, InDstMACAddr, \
                A##InDstMACAddrColumns),                     \
  ACL_SUB_ENTRY(R, Inprotocol, inprotocol, InProtocol,       \
                A##InProtocolColumns)

// Numbered groups.
constexpr Column kMACRuleColumns[] = {
    ACL_COLUMN(MACRule, "ACL/MACRules/Rule/", GroupID, groupid, 0x01, kU32),
    MAC_RULE_COLUMNS(MACRule, "ACL/MACRules/Rule/"),
};
constexpr Column kMACSrcMACAddrColumns[] = {
    SRC_MAC_ADDR_COLUMNS(MACRule::SrcMACAddr,
                         "ACL/MACRules/Rule/SrcMACAddr/"),
};
constexpr Column kMACDstMACAddrColumns[] = {
    DST_MAC_ADDR_COLUMNS(MACRule::DstMACAddr,
                         "ACL/MACRules/Rule/DstMACAddr/"),
};
constexpr Column kMACProtocolColumns[] = {
    PROTOCOL_COLUMNS(MACRule::Protocol, "ACL/MACRules/Rule/Protocol/"),
};
constexpr Column kMACLSAPColumns[] = {
    LSAP_COLUMNS(MACRule::LSAP, "ACL/MACRules/Rule/LSAP/"),
};
constexpr Column kMACInSrcMACAddrColumns[] = {
    IN_SRC_MAC_ADDR_COLUMNS(MACRule::InSrcMACAddr,
                            "ACL/MACRules/Rule/InSrcMACAddr/"),
};
constexpr Column kMACInDstMACAddrColumns[] = {
    IN_DST_MAC_ADDR_COLUMNS(MACRule::InDstMACAddr,
                            "ACL/MACRules/Rule/InDstMACAddr/"),
};
constexpr Column kMACInProtocolColumns[] = {
    IN_PROTOCOL_COLUMNS(MACRule::InProtocol, "ACL/MACRules/Rule/InProtocol/"),
};
constexpr SubEntry kMACRuleSubEntries[] = {
    MAC_RULE_SUB_ENTRIES(MACRule, kMAC),
};

// Named groups.
constexpr Column kMACNamedRuleColumns[] = {
    ACL_COLUMN(MACNamedRule, "ACL/MACNamedRules/Rule/", GroupIndex,
               groupindex, 0x01, kName),
    MAC_RULE_COLUMNS(MACNamedRule, "ACL/MACNamedRules/Rule/"),
};
constexpr Column kMACNamedSrcMACAddrColumns[] = {
    SRC_MAC_ADDR_COLUMNS(MACNamedRule::SrcMACAddr,
                         "ACL/MACNamedRules/Rule/SrcMACAddr/"),
};
constexpr Column kMACNamedDstMACAddrColumns[] = {
    DST_MAC_ADDR_COLUMNS(MACNamedRule::DstMACAddr,
                         "ACL/MACNamedRules/Rule/DstMACAddr/"),
};
constexpr Column kMACNamedProtocolColumns[] = {
    PROTOCOL_COLUMNS(MACNamedRule::Protocol,
                     "ACL/MACNamedRules/Rule/Protocol/"),
};
constexpr Column kMACNamedLSAPColumns[] = {
    LSAP_COLUMNS(MACNamedRule::LSAP, "ACL/MACNamedRules/Rule/LSAP/"),
};
constexpr Column kMACNamedInSrcMACAddrColumns[] = {
    IN_SRC_MAC_ADDR_COLUMNS(MACNamedRule::InSrcMACAddr,
                            "ACL/MACNamedRules/Rule/InSrcMACAddr/"),
};
constexpr Column kMACNamedInDstMACAddrColumns[] = {
    IN_DST_MAC_ADDR_COLUMNS(MACNamedRule::InDstMACAddr,
                            "ACL/MACNamedRules/Rule/InDstMACAddr/"),
};
constexpr Column kMACNamedInProtocolColumns[] = {
    IN_PROTOCOL_COLUMNS(MACNamedRule::InProtocol,
                        "ACL/MACNamedRules/Rule/InProtocol/"),
};
constexpr SubEntry kMACNamedRuleSubEntries[] = {
    MAC_RULE_SUB_ENTRIES(MACNamedRule, kMACNamed),
};

}  // namespace

constexpr Table kMACRules{"MACRules", 13, ACL_LIST(ACLMACRules, Rule, rule),
                          kMACRuleColumns, kMACRuleSubEntries};
constexpr Table kMACNamedRules{
    "MACNamedRules", 14, ACL_LIST(ACLMACNamedRules, Rule, rule),
    kMACNamedRuleColumns, kMACNamedRuleSubEntries};

}  // namespace acl_tables

#undef MAC_RULE_COLUMNS
#undef SRC_MAC_ADDR_COLUMNS
#undef DST_MAC_ADDR_COLUMNS
#undef PROTOCOL_COLUMNS
#undef LSAP_COLUMNS
#undef IN_SRC_MAC_ADDR_COLUMNS
#undef IN_DST_MAC_ADDR_COLUMNS
#undef IN_PROTOCOL_COLUMNS
#undef MAC_RULE_SUB_ENTRIES
