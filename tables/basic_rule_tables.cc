// IPv4 and IPv6 basic rules, in numbered and in named groups.
//
// The registry numbers the source-address columns 5 and 6, between SrcAny
// and the rest of the rule, but the request carries them last, in the
// address sub-entry; so the row columns skip from 4 to 7.

#include "proto/acl_tree.pb.h"
#include "tables/tables.h"

namespace acl_tables {
namespace {

using acl::ACLIPv4BasicRules;
using acl::ACLIPv4NamedBasicRules;
using acl::ACLIPv6BasicRules;
using acl::ACLIPv6NamedBasicRules;
using V4Rule = acl::ACLIPv4BasicRules::Rule;
using V4NamedRule = acl::ACLIPv4NamedBasicRules::Rule;
using V6Rule = acl::ACLIPv6BasicRules::Rule;
using V6NamedRule = acl::ACLIPv6NamedBasicRules::Rule;
using V4Src = acl::ACLIPv4BasicRules::Rule::SrcIPv4;
using V4NamedSrc = acl::ACLIPv4NamedBasicRules::Rule::SrcIPv4;
using V6Src = acl::ACLIPv6BasicRules::Rule::SrcIPv6;
using V6NamedSrc = acl::ACLIPv6NamedBasicRules::Rule::SrcIPv6;

// Columns of an IPv4 basic rule after its group, shared by both variants.
#define IPV4_BASIC_RULE_COLUMNS(M, P)                    \
  ACL_COLUMN(M, P, RuleID,     ruleid,     0x02, kU32),  \
  ACL_COLUMN(M, P, Action,     action,     0x03, kU32),  \
  ACL_COLUMN(M, P, SrcAny,     srcany,     0x04, kBool), \
  ACL_COLUMN(M, P, Fragment,   fragment,   0x07, kBool), \
  ACL_COLUMN(M, P, TimeRange,  timerange,  0x08, kName), \
  ACL_COLUMN(M, P, VRF,        vrf,        0x09, kText), \
  ACL_COLUMN(M, P, Counting,   counting,   0x0A, kBool), \
  ACL_COLUMN(M, P, Logging,    logging,    0x0B, kBool), \
  ACL_COLUMN(M, P, Comment,    comment,    0x0C, kText), \
  ACL_COLUMN(M, P, Status,     status,     0x0D, kU32),  \
  ACL_COLUMN(M, P, Count,      count,      0x0E, kU64),  \
  ACL_COLUMN(M, P, MatchIndex, matchindex, 0x0F, kU32)

// An IPv4 source address and its wildcard mask.
#define SRC_IPV4_COLUMNS(M, P)                                     \
  ACL_COLUMN(M, P, SrcIPv4Addr,     srcipv4addr,     0x05, kIPv4), \
  ACL_COLUMN(M, P, SrcIPv4Wildcard, srcipv4wildcard, 0x06, kIPv4)

// Columns of an IPv6 basic rule after its group, shared by both variants.
#define IPV6_BASIC_RULE_COLUMNS(M, P)                                \
  ACL_COLUMN(M, P, RuleID,           ruleid,           0x02, kU32),  \
  ACL_COLUMN(M, P, Action,           action,           0x03, kU32),  \
  ACL_COLUMN(M, P, SrcAny,           srcany,           0x04, kBool), \
  ACL_COLUMN(M, P, RoutingTypeAny,   routingtypeany,   0x07, kBool), \
  ACL_COLUMN(M, P, RoutingTypeValue, routingtypevalue, 0x08, kU32),  \
  ACL_COLUMN(M, P, Fragment,         fragment,         0x09, kBool), \
  ACL_COLUMN(M, P, TimeRange,        timerange,        0x0A, kName), \
  ACL_COLUMN(M, P, VRF,              vrf,              0x0B, kText), \
  ACL_COLUMN(M, P, Counting,         counting,         0x0C, kBool), \
  ACL_COLUMN(M, P, Logging,          logging,          0x0D, kBool), \
  ACL_COLUMN(M, P, Comment,          comment,          0x0E, kText), \
  ACL_COLUMN(M, P, Status,           status,           0x0F, kU32),  \
  ACL_COLUMN(M, P, Count,            count,            0x10, kU64),  \
  ACL_COLUMN(M, P, MatchIndex,       matchindex,       0x11, kU32)

// An IPv6 source address (plain text; there is no IPv6 address kind) and its
// prefix length.
#define SRC_IPV6_COLUMNS(M, P)                                 \
  ACL_COLUMN(M, P, SrcIPv6Addr,   srcipv6addr,   0x05, kText), \
  ACL_COLUMN(M, P, SrcIPv6Prefix, srcipv6prefix, 0x06, kU32)

// IPv4, numbered groups.
constexpr Column kIPv4BasicRuleColumns[] = {
    ACL_COLUMN(V4Rule, "ACL/IPv4BasicRules/Rule/", GroupID, groupid, 0x01,
               kU32),
    IPV4_BASIC_RULE_COLUMNS(V4Rule, "ACL/IPv4BasicRules/Rule/"),
};
constexpr Column kIPv4BasicSrcColumns[] = {
    SRC_IPV4_COLUMNS(V4Src, "ACL/IPv4BasicRules/Rule/SrcIPv4/"),
};
constexpr SubEntry kIPv4BasicRuleSubEntries[] = {
    ACL_SUB_ENTRY(V4Rule, Srcipv4, srcipv4, SrcIPv4, kIPv4BasicSrcColumns),
};

// IPv4, named groups.
constexpr Column kIPv4NamedBasicRuleColumns[] = {
    ACL_COLUMN(V4NamedRule, "ACL/IPv4NamedBasicRules/Rule/", GroupIndex,
               groupindex, 0x01, kName),
    IPV4_BASIC_RULE_COLUMNS(V4NamedRule, "ACL/IPv4NamedBasicRules/Rule/"),
};
constexpr Column kIPv4NamedBasicSrcColumns[] = {
    SRC_IPV4_COLUMNS(V4NamedSrc, "ACL/IPv4NamedBasicRules/Rule/SrcIPv4/"),
};
constexpr SubEntry kIPv4NamedBasicRuleSubEntries[] = {
    ACL_SUB_ENTRY(V4NamedRule, Srcipv4, srcipv4, SrcIPv4,
                  kIPv4NamedBasicSrcColumns),
};

// IPv6, numbered groups.
constexpr Column kIPv6BasicRuleColumns[] = {
    ACL_COLUMN(V6Rule, "ACL/IPv6BasicRules/Rule/", GroupID, groupid, 0x01,
               kU32),
    IPV6_BASIC_RULE_COLUMNS(V6Rule, "ACL/IPv6BasicRules/Rule/"),
};
constexpr Column kIPv6BasicSrcColumns[] = {
    SRC_IPV6_COLUMNS(V6Src, "ACL/IPv6BasicRules/Rule/SrcIPv6/"),
};
constexpr SubEntry kIPv6BasicRuleSubEntries[] = {
    ACL_SUB_ENTRY(V6Rule, Srcipv6, srcipv6, SrcIPv6, kIPv6BasicSrcColumns),
};

// IPv6, named groups.
constexpr Column kIPv6NamedBasicRuleColumns[] = {
    ACL_COLUMN(V6NamedRule, "ACL/IPv6NamedBasicRules/Rule/", GroupIndex,
               groupindex, 0x01, kName),
    IPV6_BASIC_RULE_COLUMNS(V6NamedRule, "ACL/IPv6NamedBasicRules/Rule/"),
};
constexpr Column kIPv6NamedBasicSrcColumns[] = {
    SRC_IPV6_COLUMNS(V6NamedSrc, "ACL/IPv6NamedBasicRules/Rule/SrcIPv6/"),
};
constexpr SubEntry kIPv6NamedBasicRuleSubEntries[] = {
    ACL_SUB_ENTRY(V6NamedRule, Srcipv6, srcipv6, SrcIPv6,
                  kIPv6NamedBasicSrcColumns),
};

}  // namespace

constexpr Table kIPv4BasicRules{
    "IPv4BasicRules", 5, ACL_LIST(ACLIPv4BasicRules, Rule, rule),
    kIPv4BasicRuleColumns, kIPv4BasicRuleSubEntries};
constexpr Table kIPv4NamedBasicRules{
    "IPv4NamedBasicRules", 6, ACL_LIST(ACLIPv4NamedBasicRules, Rule, rule),
    kIPv4NamedBasicRuleColumns, kIPv4NamedBasicRuleSubEntries};
constexpr Table kIPv6BasicRules{
    "IPv6BasicRules", 7, ACL_LIST(ACLIPv6BasicRules, Rule, rule),
    kIPv6BasicRuleColumns, kIPv6BasicRuleSubEntries};
constexpr Table kIPv6NamedBasicRules{
    "IPv6NamedBasicRules", 8, ACL_LIST(ACLIPv6NamedBasicRules, Rule, rule),
    kIPv6NamedBasicRuleColumns, kIPv6NamedBasicRuleSubEntries};

}  // namespace acl_tables

#undef IPV4_BASIC_RULE_COLUMNS
#undef SRC_IPV4_COLUMNS
#undef IPV6_BASIC_RULE_COLUMNS
#undef SRC_IPV6_COLUMNS
