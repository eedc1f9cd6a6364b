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
// the table node, the lists' columns numbered 1 to 8 in list order.
constexpr Column kUserAclL2Columns[] = {
    ACL_COLUMN(UserAclL2, "ACL/Capability/UserAclL2/", L2MaxOffset, 0x01, kU32),
    ACL_COLUMN(UserAclL2, "ACL/Capability/UserAclL2/", L2MaxLen,    0x02, kU32),
};

constexpr Column kUserAclL4Columns[] = {
    ACL_COLUMN(UserAclL4, "ACL/Capability/UserAclL4/", L4MaxOffset, 0x03, kU32),
    ACL_COLUMN(UserAclL4, "ACL/Capability/UserAclL4/", L4MaxLen,    0x04, kU32),
};

constexpr Column kUserAclIPv4Columns[] = {
    ACL_COLUMN(UserAclIPv4, "ACL/Capability/UserAclIPv4/", IPv4MaxOffset, 0x05,
               kU32),
    ACL_COLUMN(UserAclIPv4, "ACL/Capability/UserAclIPv4/", IPv4MaxLen,    0x06,
               kU32),
};

constexpr Column kUserAclIPv6Columns[] = {
    ACL_COLUMN(UserAclIPv6, "ACL/Capability/UserAclIPv6/", IPv6MaxOffset, 0x07,
               kU32),
    ACL_COLUMN(UserAclIPv6, "ACL/Capability/UserAclIPv6/", IPv6MaxLen,    0x08,
               kU32),
};

constexpr SubEntry kCapabilitySubEntries[] = {
    ACL_SUB_ENTRY(ACLCapability, Useracll2,   UserAclL2,   kUserAclL2Columns),
    ACL_SUB_ENTRY(ACLCapability, Useracll4,   UserAclL4,   kUserAclL4Columns),
    ACL_SUB_ENTRY(ACLCapability, Useraclipv4, UserAclIPv4, kUserAclIPv4Columns),
    ACL_SUB_ENTRY(ACLCapability, Useraclipv6, UserAclIPv6, kUserAclIPv6Columns),
};

constexpr Column kGroupColumns[] = {
    ACL_COLUMN(Group, "ACL/Groups/Group/", GroupType,   0x01, kU32),
    ACL_COLUMN(Group, "ACL/Groups/Group/", GroupID,     0x02, kU32),
    ACL_COLUMN(Group, "ACL/Groups/Group/", MatchOrder,  0x03, kU32),
    ACL_COLUMN(Group, "ACL/Groups/Group/", Step,        0x04, kU32),
    ACL_COLUMN(Group, "ACL/Groups/Group/", Name,        0x05, kName),
    ACL_COLUMN(Group, "ACL/Groups/Group/", Description, 0x06, kText),
    ACL_COLUMN(Group, "ACL/Groups/Group/", RuleNum,     0x07, kU32),
};

// A named group's Name is column 9 yet comes before RuleNum (column 7);
// column 8 of the registry table is not asked for.
constexpr Column kNamedGroupColumns[] = {
    ACL_COLUMN(NGroup, "ACL/NamedGroups/Group/", GroupType,     0x01, kU32),
    ACL_COLUMN(NGroup, "ACL/NamedGroups/Group/", GroupCategory, 0x02, kU32),
    ACL_COLUMN(NGroup, "ACL/NamedGroups/Group/", GroupIndex,    0x03, kName),
    ACL_COLUMN(NGroup, "ACL/NamedGroups/Group/", MatchOrder,    0x04, kU32),
    ACL_COLUMN(NGroup, "ACL/NamedGroups/Group/", Step,          0x05, kU32),
    ACL_COLUMN(NGroup, "ACL/NamedGroups/Group/", Description,   0x06, kText),
    ACL_COLUMN(NGroup, "ACL/NamedGroups/Group/", Name,          0x09, kName),
    ACL_COLUMN(NGroup, "ACL/NamedGroups/Group/", RuleNum,       0x07, kU32),
};

}  // namespace

constexpr Table kCapability{"Capability", 2, kNoRows, {},
                            kCapabilitySubEntries};
constexpr Table kGroups{"Groups", 3, ACLGroups::kGroupFieldNumber,
                        kGroupColumns, {}};
constexpr Table kNamedGroups{"NamedGroups", 4,
                             ACLNamedGroups::kGroupFieldNumber,
                             kNamedGroupColumns, {}};

}  // namespace acl_tables
