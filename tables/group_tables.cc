// Numbered and named ACL groups, and the capability limits of user-defined
// matching.

#include "proto/acl_tree.pb.h"
#include "tables/tables.h"

namespace acl_tables {
namespace {

using acl::ACLCapability;
using acl::ACLGroups;
using acl::ACLNamedGroups;
using Group = acl::ACLGroups::Group;
using NGroup = acl::ACLNamedGroups::Group;
using UserAclL2 = acl::ACLCapability::UserAclL2;
using UserAclL4 = acl::ACLCapability::UserAclL4;
using UserAclIPv4 = acl::ACLCapability::UserAclIPv4;
using UserAclIPv6 = acl::ACLCapability::UserAclIPv6;

// Capability has no rows: each element of its four lists is a sub-entry on
// the table node, the lists' columns numbered 1 to 8 in list order. M is
// the list's element class, P its path prefix.
#define USER_ACL_L2_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, L2MaxOffset,   l2maxoffset,   0x01, kU32), \
  ACL_COLUMN(M, P, L2MaxLen,      l2maxlen,      0x02, kU32)
#define USER_ACL_L4_COLUMNS(M, P)                             \
  ACL_COLUMN(M, P, L4MaxOffset,   l4maxoffset,   0x03, kU32), \
  ACL_COLUMN(M, P, L4MaxLen,      l4maxlen,      0x04, kU32)
#define USER_ACL_IPV4_COLUMNS(M, P)                           \
  ACL_COLUMN(M, P, IPv4MaxOffset, ipv4maxoffset, 0x05, kU32), \
  ACL_COLUMN(M, P, IPv4MaxLen,    ipv4maxlen,    0x06, kU32)
#define USER_ACL_IPV6_COLUMNS(M, P)                           \
  ACL_COLUMN(M, P, IPv6MaxOffset, ipv6maxoffset, 0x07, kU32), \
  ACL_COLUMN(M, P, IPv6MaxLen,    ipv6maxlen,    0x08, kU32)

#define GROUP_COLUMNS(M, P)                                    \
  ACL_COLUMN(M, P, GroupType,     grouptype,     0x01, kU32),  \
  ACL_COLUMN(M, P, GroupID,       groupid,       0x02, kU32),  \
  ACL_COLUMN(M, P, MatchOrder,    matchorder,    0x03, kU32),  \
  ACL_COLUMN(M, P, Step,          step,          0x04, kU32),  \
  ACL_COLUMN(M, P, Name,          name,          0x05, kName), \
  ACL_COLUMN(M, P, Description,   description,   0x06, kText), \
  ACL_COLUMN(M, P, RuleNum,       rulenum,       0x07, kU32)

// A named group's Name is column 9 yet comes before RuleNum (column 7);
// column 8 of the registry table is not asked for.
#define NAMED_GROUP_COLUMNS(M, P)                              \
  ACL_COLUMN(M, P, GroupType,     grouptype,     0x01, kU32),  \
  ACL_COLUMN(M, P, GroupCategory, groupcategory, 0x02, kU32),  \
  ACL_COLUMN(M, P, GroupIndex,    groupindex,    0x03, kName), \
  ACL_COLUMN(M, P, MatchOrder,    matchorder,    0x04, kU32),  \
  ACL_COLUMN(M, P, Step,          step,          0x05, kU32),  \
  ACL_COLUMN(M, P, Description,   description,   0x06, kText), \
  ACL_COLUMN(M, P, Name,          name,          0x09, kName), \
  ACL_COLUMN(M, P, RuleNum,       rulenum,       0x07, kU32)

constexpr Column kUserAclL2Columns[] = {
    USER_ACL_L2_COLUMNS(UserAclL2, "ACL/Capability/UserAclL2/"),
};
constexpr Column kUserAclL4Columns[] = {
    USER_ACL_L4_COLUMNS(UserAclL4, "ACL/Capability/UserAclL4/"),
};
constexpr Column kUserAclIPv4Columns[] = {
    USER_ACL_IPV4_COLUMNS(UserAclIPv4, "ACL/Capability/UserAclIPv4/"),
};
constexpr Column kUserAclIPv6Columns[] = {
    USER_ACL_IPV6_COLUMNS(UserAclIPv6, "ACL/Capability/UserAclIPv6/"),
};

constexpr SubEntry kCapabilitySubEntries[] = {
    ACL_SUB_ENTRY(ACLCapability, Useracll2, useracll2, UserAclL2,
                  kUserAclL2Columns),
    ACL_SUB_ENTRY(ACLCapability, Useracll4, useracll4, UserAclL4,
                  kUserAclL4Columns),
    ACL_SUB_ENTRY(ACLCapability, Useraclipv4, useraclipv4, UserAclIPv4,
                  kUserAclIPv4Columns),
    ACL_SUB_ENTRY(ACLCapability, Useraclipv6, useraclipv6, UserAclIPv6,
                  kUserAclIPv6Columns),
};

constexpr Column kGroupColumns[] = {
    GROUP_COLUMNS(Group, "ACL/Groups/Group/"),
};
constexpr Column kNamedGroupColumns[] = {
    NAMED_GROUP_COLUMNS(NGroup, "ACL/NamedGroups/Group/"),
};

#undef USER_ACL_L2_COLUMNS
#undef USER_ACL_L4_COLUMNS
#undef USER_ACL_IPV4_COLUMNS
#undef USER_ACL_IPV6_COLUMNS
#undef GROUP_COLUMNS
#undef NAMED_GROUP_COLUMNS

}  // namespace

constexpr Table kCapability{"Capability", 2, kNoRows, {},
                            kCapabilitySubEntries};
constexpr Table kGroups{"Groups", 3, ACL_LIST(ACLGroups, Group, group),
                        kGroupColumns, {}};
constexpr Table kNamedGroups{
    "NamedGroups", 4, ACL_LIST(ACLNamedGroups, Group, group),
    kNamedGroupColumns, {}};

}  // namespace acl_tables
