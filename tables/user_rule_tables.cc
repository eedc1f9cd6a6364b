// User-defined rules, in numbered and in named groups.
//
// A rule matches a rule string under a mask at an offset in one of five
// layers, optionally with addresses and ports. IPv4 addresses and wildcards
// are IPv4 values, IPv6 addresses plain text. The registry numbers the row's
// columns and the sub-entries' columns in one sequence that does not follow
// the request's field order; columns 0x27 and 0x28 are not columns of these
// tables.

#include "proto/acl_tree.pb.h"
#include "tables/tables.h"

namespace acl_tables {
namespace {

using acl::ACLUserNamedRules;
using acl::ACLUserRules;
using UserRule = acl::ACLUserRules::Rule;
using UserNamedRule = acl::ACLUserNamedRules::Rule;

// Columns of a user-defined rule after its group, shared by both variants.
#define USER_RULE_COLUMNS(M, P)                                      \
  ACL_COLUMN(M, P, RuleID,           ruleid,           0x02, kU32),  \
  ACL_COLUMN(M, P, Action,           action,           0x03, kU32),  \
  ACL_COLUMN(M, P, UdfFormat,        udfformat,        0x19, kU32),  \
  ACL_COLUMN(M, P, ProtocolType,     protocoltype,     0x18, kU32),  \
  ACL_COLUMN(M, P, IPv6ProtocolType, ipv6protocoltype, 0x29, kU32),  \
  ACL_COLUMN(M, P, SrcAny,           srcany,           0x1A, kBool), \
  ACL_COLUMN(M, P, DstAny,           dstany,           0x1D, kBool), \
  ACL_COLUMN(M, P, DSCP,             dscp,             0x26, kU32),  \
  ACL_COLUMN(M, P, TimeRange,        timerange,        0x10, kName), \
  ACL_COLUMN(M, P, Counting,         counting,         0x11, kBool), \
  ACL_COLUMN(M, P, Comment,          comment,          0x12, kText), \
  ACL_COLUMN(M, P, Status,           status,           0x13, kU32),  \
  ACL_COLUMN(M, P, Count,            count,            0x14, kU64)

// Columns of each sub-entry kind, shared by both variants: M is the nested
// message, P the sub-entry's path prefix.
#define USER_L2_RULE_COLUMNS(M, P)                           \
  ACL_COLUMN(M, P, L2RuleString, l2rulestring, 0x04, kText), \
  ACL_COLUMN(M, P, L2RuleMask,   l2rulemask,   0x05, kText), \
  ACL_COLUMN(M, P, L2Offset,     l2offset,     0x06, kU32)
#define USER_IPV4_RULE_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, IPv4RuleString, ipv4rulestring, 0x07, kText), \
  ACL_COLUMN(M, P, IPv4RuleMask,   ipv4rulemask,   0x08, kText), \
  ACL_COLUMN(M, P, IPv4Offset,     ipv4offset,     0x09, kU32)
#define USER_IPV6_RULE_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, IPv6RuleString, ipv6rulestring, 0x0A, kText), \
  ACL_COLUMN(M, P, IPv6RuleMask,   ipv6rulemask,   0x0B, kText), \
  ACL_COLUMN(M, P, IPv6Offset,     ipv6offset,     0x0C, kU32)
#define USER_L4_RULE_COLUMNS(M, P)                           \
  ACL_COLUMN(M, P, L4RuleString, l4rulestring, 0x0D, kText), \
  ACL_COLUMN(M, P, L4RuleMask,   l4rulemask,   0x0E, kText), \
  ACL_COLUMN(M, P, L4Offset,     l4offset,     0x0F, kU32)
#define USER_L5_RULE_COLUMNS(M, P)                           \
  ACL_COLUMN(M, P, L5RuleString, l5rulestring, 0x15, kText), \
  ACL_COLUMN(M, P, L5RuleMask,   l5rulemask,   0x16, kText), \
  ACL_COLUMN(M, P, L5Offset,     l5offset,     0x17, kU32)
#define USER_SRC_IPV4_COLUMNS(M, P)                                \
  ACL_COLUMN(M, P, SrcIPv4Addr,     srcipv4addr,     0x1B, kIPv4), \
  ACL_COLUMN(M, P, SrcIPv4Wildcard, srcipv4wildcard, 0x1C, kIPv4)
#define USER_SRC_IPV6_COLUMNS(M, P)                            \
  ACL_COLUMN(M, P, SrcIPv6Addr,   srcipv6addr,   0x2A, kText), \
  ACL_COLUMN(M, P, SrcIPv6Prefix, srcipv6prefix, 0x2B, kU32)
#define USER_DST_IPV4_COLUMNS(M, P)                                \
  ACL_COLUMN(M, P, DstIPv4Addr,     dstipv4addr,     0x1E, kIPv4), \
  ACL_COLUMN(M, P, DstIPv4Wildcard, dstipv4wildcard, 0x1F, kIPv4)
#define USER_DST_IPV6_COLUMNS(M, P)                            \
  ACL_COLUMN(M, P, DstIPv6Addr,   dstipv6addr,   0x2C, kText), \
  ACL_COLUMN(M, P, DstIPv6Prefix, dstipv6prefix, 0x2D, kU32)
#define USER_SRC_PORT_COLUMNS(M, P)                           \
  ACL_COLUMN(M, P, SrcPortOp,     srcportop,     0x20, kU32), \
  ACL_COLUMN(M, P, SrcPortValue1, srcportvalue1, 0x21, kU32), \
  ACL_COLUMN(M, P, SrcPortValue2, srcportvalue2, 0x22, kU32)
#define USER_DST_PORT_COLUMNS(M, P)                           \
  ACL_COLUMN(M, P, DstPortOp,     dstportop,     0x23, kU32), \
  ACL_COLUMN(M, P, DstPortValue1, dstportvalue1, 0x24, kU32), \
  ACL_COLUMN(M, P, DstPortValue2, dstportvalue2, 0x25, kU32)

// The sub-entry kinds of a user-defined rule in field order, shared by both
// variants: R is the variant's Rule, A the common stem of its sub-entry
// column arrays.
#define USER_RULE_SUB_ENTRIES(R, A)                                   \
  ACL_SUB_ENTRY(R, L2Rule,   l2rule,   L2Rule,   A##L2RuleColumns),   \
  ACL_SUB_ENTRY(R, Ipv4Rule, ipv4rule, IPv4Rule, A##IPv4RuleColumns), \
  ACL_SUB_ENTRY(R, Ipv6Rule, ipv6rule, IPv6Rule, A##IPv6RuleColumns), \
  ACL_SUB_ENTRY(R, L4Rule,   l4rule,   L4Rule,   A##L4RuleColumns),   \
  ACL_SUB_ENTRY(R, L5Rule,   l5rule,   L5Rule,   A##L5RuleColumns),   \
  ACL_SUB_ENTRY(R, Srcipv4,  srcipv4,  SrcIPv4,  A##SrcIPv4Columns),  \
  ACL_SUB_ENTRY(R, Srcipv6,  srcipv6,  SrcIPv6,  A##SrcIPv6Columns),  \
  ACL_SUB_ENTRY(R, Dstipv4,  dstipv4,  DstIPv4,  A##DstIPv4Columns),  \
  ACL_SUB_ENTRY(R, Dstipv6,  dstipv6,  DstIPv6,  A##DstIPv6Columns),  \
  ACL_SUB_ENTRY(R, Srcport,  srcport,  SrcPort,  A##SrcPortColumns),  \
  ACL_SUB_ENTRY(R, Dstport,  dstport,  DstPort,  A##DstPortColumns)

// Numbered groups.
constexpr Column kUserRuleColumns[] = {
    ACL_COLUMN(UserRule, "ACL/UserRules/Rule/", GroupID, groupid, 0x01, kU32),
    USER_RULE_COLUMNS(UserRule, "ACL/UserRules/Rule/"),
};
constexpr Column kUserL2RuleColumns[] = {
    USER_L2_RULE_COLUMNS(UserRule::L2Rule, "ACL/UserRules/Rule/L2Rule/"),
};
constexpr Column kUserIPv4RuleColumns[] = {
    USER_IPV4_RULE_COLUMNS(UserRule::IPv4Rule, "ACL/UserRules/Rule/IPv4Rule/"),
};
constexpr Column kUserIPv6RuleColumns[] = {
    USER_IPV6_RULE_COLUMNS(UserRule::IPv6Rule, "ACL/UserRules/Rule/IPv6Rule/"),
};
constexpr Column kUserL4RuleColumns[] = {
    USER_L4_RULE_COLUMNS(UserRule::L4Rule, "ACL/UserRules/Rule/L4Rule/"),
};
constexpr Column kUserL5RuleColumns[] = {
    USER_L5_RULE_COLUMNS(UserRule::L5Rule, "ACL/UserRules/Rule/L5Rule/"),
};
constexpr Column kUserSrcIPv4Columns[] = {
    USER_SRC_IPV4_COLUMNS(UserRule::SrcIPv4, "ACL/UserRules/Rule/SrcIPv4/"),
};
constexpr Column kUserSrcIPv6Columns[] = {
    USER_SRC_IPV6_COLUMNS(UserRule::SrcIPv6, "ACL/UserRules/Rule/SrcIPv6/"),
};
constexpr Column kUserDstIPv4Columns[] = {
    USER_DST_IPV4_COLUMNS(UserRule::DstIPv4, "ACL/UserRules/Rule/DstIPv4/"),
};
constexpr Column kUserDstIPv6Columns[] = {
    USER_DST_IPV6_COLUMNS(UserRule::DstIPv6, "ACL/UserRules/Rule/DstIPv6/"),
};
constexpr Column kUserSrcPortColumns[] = {
    USER_SRC_PORT_COLUMNS(UserRule::SrcPort, "ACL/UserRules/Rule/SrcPort/"),
};
constexpr Column kUserDstPortColumns[] = {
    USER_DST_PORT_COLUMNS(UserRule::DstPort, "ACL/UserRules/Rule/DstPort/"),
};
constexpr SubEntry kUserRuleSubEntries[] = {
    USER_RULE_SUB_ENTRIES(UserRule, kUser),
};

// Named groups.
constexpr Column kUserNamedRuleColumns[] = {
    ACL_COLUMN(UserNamedRule, "ACL/UserNamedRules/Rule/", GroupIndex,
               groupindex, 0x01, kName),
    USER_RULE_COLUMNS(UserNamedRule, "ACL/UserNamedRules/Rule/"),
};
constexpr Column kUserNamedL2RuleColumns[] = {
    USER_L2_RULE_COLUMNS(UserNamedRule::L2Rule,
                         "ACL/UserNamedRules/Rule/L2Rule/"),
};
constexpr Column kUserNamedIPv4RuleColumns[] = {
    USER_IPV4_RULE_COLUMNS(UserNamedRule::IPv4Rule,
                           "ACL/UserNamedRules/Rule/IPv4Rule/"),
};
constexpr Column kUserNamedIPv6RuleColumns[] = {
    USER_IPV6_RULE_COLUMNS(UserNamedRule::IPv6Rule,
                           "ACL/UserNamedRules/Rule/IPv6Rule/"),
};
constexpr Column kUserNamedL4RuleColumns[] = {
    USER_L4_RULE_COLUMNS(UserNamedRule::L4Rule,
                         "ACL/UserNamedRules/Rule/L4Rule/"),
};
constexpr Column kUserNamedL5RuleColumns[] = {
    USER_L5_RULE_COLUMNS(UserNamedRule::L5Rule,
                         "ACL/UserNamedRules/Rule/L5Rule/"),
};
constexpr Column kUserNamedSrcIPv4Columns[] = {
    USER_SRC_IPV4_COLUMNS(UserNamedRule::SrcIPv4,
                          "ACL/UserNamedRules/Rule/SrcIPv4/"),
};
constexpr Column kUserNamedSrcIPv6Columns[] = {
    USER_SRC_IPV6_COLUMNS(UserNamedRule::SrcIPv6,
                          "ACL/UserNamedRules/Rule/SrcIPv6/"),
};
constexpr Column kUserNamedDstIPv4Columns[] = {
    USER_DST_IPV4_COLUMNS(UserNamedRule::DstIPv4,
                          "ACL/UserNamedRules/Rule/DstIPv4/"),
};
constexpr Column kUserNamedDstIPv6Columns[] = {
    USER_DST_IPV6_COLUMNS(UserNamedRule::DstIPv6,
                          "ACL/UserNamedRules/Rule/DstIPv6/"),
};
constexpr Column kUserNamedSrcPortColumns[] = {
    USER_SRC_PORT_COLUMNS(UserNamedRule::SrcPort,
                          "ACL/UserNamedRules/Rule/SrcPort/"),
};
constexpr Column kUserNamedDstPortColumns[] = {
    USER_DST_PORT_COLUMNS(UserNamedRule::DstPort,
                          "ACL/UserNamedRules/Rule/DstPort/"),
};
constexpr SubEntry kUserNamedRuleSubEntries[] = {
    USER_RULE_SUB_ENTRIES(UserNamedRule, kUserNamed),
};

}  // namespace

constexpr Table kUserRules{
    "UserRules", 15, ACL_LIST(ACLUserRules, Rule, rule), kUserRuleColumns,
    kUserRuleSubEntries};
constexpr Table kUserNamedRules{
    "UserNamedRules", 16, ACL_LIST(ACLUserNamedRules, Rule, rule),
    kUserNamedRuleColumns, kUserNamedRuleSubEntries};

}  // namespace acl_tables

#undef USER_RULE_COLUMNS
#undef USER_L2_RULE_COLUMNS
#undef USER_IPV4_RULE_COLUMNS
#undef USER_IPV6_RULE_COLUMNS
#undef USER_L4_RULE_COLUMNS
#undef USER_L5_RULE_COLUMNS
#undef USER_SRC_IPV4_COLUMNS
#undef USER_SRC_IPV6_COLUMNS
#undef USER_DST_IPV4_COLUMNS
#undef USER_DST_IPV6_COLUMNS
#undef USER_SRC_PORT_COLUMNS
#undef USER_DST_PORT_COLUMNS
#undef USER_RULE_SUB_ENTRIES
