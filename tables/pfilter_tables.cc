// Packet-filter application, run information of groups and rules, summed
// statistics, and packet filters between zone pairs.
//
// All six tables are flat: a row holds scalar columns only. Counters are
// columns like any other, asked for without a value when not given, so that
// the adapter returns them. Each table's columns are written once below with
// M the row message and P its path prefix, and expanded once.

#include "proto/acl_tree.pb.h"
#include "tables/tables.h"

namespace acl_tables {
namespace {

using acl::ACLPfilterApply;
using acl::ACLPfilterGroupRunInfo;
using acl::ACLPfilterRuleRunInfo;
using acl::ACLPfilterStatisticSum;
using acl::ACLZonePairPfilter;
using acl::ACLZonePairPfilterRules;
using Pfilter = acl::ACLPfilterApply::Pfilter;
using GroupRunInfo = acl::ACLPfilterGroupRunInfo::GroupRunInfo;
using RuleRunInfo = acl::ACLPfilterRuleRunInfo::RuleRunInfo;
using StatisticSum = acl::ACLPfilterStatisticSum::StatisticSum;
using ZonePairPfilter = acl::ACLZonePairPfilter::Pfilter;
using ZonePairRule = acl::ACLZonePairPfilterRules::Rule;

// The object, direction and group a filter is applied with: the first five
// columns of an application and of both kinds of run information.
#define APPLIED_GROUP_COLUMNS(M, P)                       \
  ACL_COLUMN(M, P, AppObjType,          0x01, kU32),      \
  ACL_COLUMN(M, P, AppObjIndex,         0x02, kU32),      \
  ACL_COLUMN(M, P, AppDirection,        0x03, kU32),      \
  ACL_COLUMN(M, P, AppAclType,          0x04, kU32),      \
  ACL_COLUMN(M, P, AppAclGroup,         0x05, kName)

// InnerEncap and ShareMode come before AppSequence although the registry
// numbers them after it; column 0x08 is not asked for.
#define PFILTER_APPLY_COLUMNS(M, P)                       \
  APPLIED_GROUP_COLUMNS(M, P),                            \
  ACL_COLUMN(M, P, HardCount,           0x06, kU32),      \
  ACL_COLUMN(M, P, InnerEncap,          0x09, kU32),      \
  ACL_COLUMN(M, P, ShareMode,           0x0A, kBool),     \
  ACL_COLUMN(M, P, AppSequence,         0x07, kU32)

#define GROUP_RUN_INFO_COLUMNS(M, P)                      \
  APPLIED_GROUP_COLUMNS(M, P),                            \
  ACL_COLUMN(M, P, AclGroupStatus,      0x06, kU32),      \
  ACL_COLUMN(M, P, AclGroupCountStatus, 0x07, kU32),      \
  ACL_COLUMN(M, P, AclGroupPermitPkts,  0x08, kU64),      \
  ACL_COLUMN(M, P, AclGroupPermitBytes, 0x09, kU64),      \
  ACL_COLUMN(M, P, AclGroupDenyPkts,    0x0A, kU64),      \
  ACL_COLUMN(M, P, AclGroupDenyBytes,   0x0B, kU64)

#define RULE_RUN_INFO_COLUMNS(M, P)                       \
  APPLIED_GROUP_COLUMNS(M, P),                            \
  ACL_COLUMN(M, P, AppAclRuleIndex,     0x06, kU32),      \
  ACL_COLUMN(M, P, AclRuleStatus,       0x07, kU32),      \
  ACL_COLUMN(M, P, AclRuleCountStatus,  0x08, kU32),      \
  ACL_COLUMN(M, P, AclRuleMatchPkts,    0x09, kU64),      \
  ACL_COLUMN(M, P, AclRuleMatchBytes,   0x0A, kU64)

#define STATISTIC_SUM_COLUMNS(M, P)                       \
  ACL_COLUMN(M, P, Direction,           0x01, kU32),      \
  ACL_COLUMN(M, P, AclType,             0x02, kU32),      \
  ACL_COLUMN(M, P, AclGroup,            0x03, kName),     \
  ACL_COLUMN(M, P, AclRuleIndex,        0x04, kU32),      \
  ACL_COLUMN(M, P, MatchPackets,        0x05, kU64),      \
  ACL_COLUMN(M, P, MatchBytes,          0x06, kU64)

// The zone pair and the group applied to it: the first four columns of both
// zone-pair tables.
#define ZONE_PAIR_GROUP_COLUMNS(M, P)                     \
  ACL_COLUMN(M, P, SrcZone,             0x01, kName),     \
  ACL_COLUMN(M, P, DestZone,            0x02, kName),     \
  ACL_COLUMN(M, P, AclType,             0x03, kU32),      \
  ACL_COLUMN(M, P, AclGroup,            0x04, kName)

#define ZONE_PAIR_PFILTER_COLUMNS(M, P)                   \
  ZONE_PAIR_GROUP_COLUMNS(M, P),                          \
  ACL_COLUMN(M, P, AppSequence,         0x05, kU32)

#define ZONE_PAIR_RULE_COLUMNS(M, P)                      \
  ZONE_PAIR_GROUP_COLUMNS(M, P),                          \
  ACL_COLUMN(M, P, AclRuleID,           0x05, kU32),      \
  ACL_COLUMN(M, P, RuleMatchPkts,       0x06, kU64),      \
  ACL_COLUMN(M, P, RuleMatchBytes,      0x07, kU64)

constexpr Column kPfilterApplyColumns[] = {
    PFILTER_APPLY_COLUMNS(Pfilter, "ACL/PfilterApply/Pfilter/"),
};
constexpr Column kPfilterGroupRunInfoColumns[] = {
    GROUP_RUN_INFO_COLUMNS(GroupRunInfo,
                           "ACL/PfilterGroupRunInfo/GroupRunInfo/"),
};
constexpr Column kPfilterRuleRunInfoColumns[] = {
    RULE_RUN_INFO_COLUMNS(RuleRunInfo, "ACL/PfilterRuleRunInfo/RuleRunInfo/"),
};
constexpr Column kPfilterStatisticSumColumns[] = {
    STATISTIC_SUM_COLUMNS(StatisticSum,
                          "ACL/PfilterStatisticSum/StatisticSum/"),
};
constexpr Column kZonePairPfilterColumns[] = {
    ZONE_PAIR_PFILTER_COLUMNS(ZonePairPfilter, "ACL/ZonePairPfilter/Pfilter/"),
};
constexpr Column kZonePairPfilterRuleColumns[] = {
    ZONE_PAIR_RULE_COLUMNS(ZonePairRule, "ACL/ZonePairPfilterRules/Rule/"),
};

}  // namespace

constexpr Table kPfilterApply{"PfilterApply", 19,
                              ACLPfilterApply::kPfilterFieldNumber,
                              kPfilterApplyColumns, {}};
constexpr Table kPfilterGroupRunInfo{
    "PfilterGroupRunInfo", 20, ACLPfilterGroupRunInfo::kGroupruninfoFieldNumber,
    kPfilterGroupRunInfoColumns, {}};
constexpr Table kPfilterRuleRunInfo{
    "PfilterRuleRunInfo", 21, ACLPfilterRuleRunInfo::kRuleruninfoFieldNumber,
    kPfilterRuleRunInfoColumns, {}};
constexpr Table kPfilterStatisticSum{
    "PfilterStatisticSum", 22, ACLPfilterStatisticSum::kStatisticsumFieldNumber,
    kPfilterStatisticSumColumns, {}};
constexpr Table kZonePairPfilter{"ZonePairPfilter", 24,
                                 ACLZonePairPfilter::kPfilterFieldNumber,
                                 kZonePairPfilterColumns, {}};
constexpr Table kZonePairPfilterRules{"ZonePairPfilterRules", 25,
                                      ACLZonePairPfilterRules::kRuleFieldNumber,
                                      kZonePairPfilterRuleColumns, {}};

}  // namespace acl_tables

#undef APPLIED_GROUP_COLUMNS
#undef PFILTER_APPLY_COLUMNS
#undef GROUP_RUN_INFO_COLUMNS
#undef RULE_RUN_INFO_COLUMNS
#undef STATISTIC_SUM_COLUMNS
#undef ZONE_PAIR_GROUP_COLUMNS
#undef ZONE_PAIR_PFILTER_COLUMNS
#undef ZONE_PAIR_RULE_COLUMNS
