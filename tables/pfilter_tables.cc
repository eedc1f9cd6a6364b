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
#define APPLIED_GROUP_COLUMNS(M, P)                         \
  ACL_COLUMN(M, P, AppObjType,   appobjtype,   0x01, kU32), \
  ACL_COLUMN(M, P, AppObjIndex,  appobjindex,  0x02, kU32), \
  ACL_COLUMN(M, P, AppDirection, appdirection, 0x03, kU32), \
  ACL_COLUMN(M, P, AppAclType,   appacltype,   0x04, kU32), \
  ACL_COLUMN(M, P, AppAclGroup,  appaclgroup,  0x05, kName)

// InnerEncap and ShareMode come before AppSequence although the registry
// numbers them after it; column 0x08 is not asked for.
#define PFILTER_APPLY_COLUMNS(M, P)                        \
  APPLIED_GROUP_COLUMNS(M, P),                             \
  ACL_COLUMN(M, P, HardCount,   hardcount,   0x06, kU32),  \
  ACL_COLUMN(M, P, InnerEncap,  innerencap,  0x09, kU32),  \
  ACL_COLUMN(M, P, ShareMode,   sharemode,   0x0A, kBool), \
  ACL_COLUMN(M, P, AppSequence, appsequence, 0x07, kU32)

#define GROUP_RUN_INFO_COLUMNS(M, P)                                      \
  APPLIED_GROUP_COLUMNS(M, P),                                            \
  ACL_COLUMN(M, P, AclGroupStatus,      aclgroupstatus,      0x06, kU32), \
  ACL_COLUMN(M, P, AclGroupCountStatus, aclgroupcountstatus, 0x07, kU32), \
  ACL_COLUMN(M, P, AclGroupPermitPkts,  aclgrouppermitpkts,  0x08, kU64), \
  ACL_COLUMN(M, P, AclGroupPermitBytes, aclgrouppermitbytes, 0x09, kU64), \
  ACL_COLUMN(M, P, AclGroupDenyPkts,    aclgroupdenypkts,    0x0A, kU64), \
  ACL_COLUMN(M, P, AclGroupDenyBytes,   aclgroupdenybytes,   0x0B, kU64)

#define RULE_RUN_INFO_COLUMNS(M, P)                                     \
  APPLIED_GROUP_COLUMNS(M, P),                                          \
  ACL_COLUMN(M, P, AppAclRuleIndex,    appaclruleindex,    0x06, kU32), \
  ACL_COLUMN(M, P, AclRuleStatus,      aclrulestatus,      0x07, kU32), \
  ACL_COLUMN(M, P, AclRuleCountStatus, aclrulecountstatus, 0x08, kU32), \
  ACL_COLUMN(M, P, AclRuleMatchPkts,   aclrulematchpkts,   0x09, kU64), \
  ACL_COLUMN(M, P, AclRuleMatchBytes,  aclrulematchbytes,  0x0A, kU64)

#define STATISTIC_SUM_COLUMNS(M, P)                          \
  ACL_COLUMN(M, P, Direction,    direction,    0x01, kU32),  \
  ACL_COLUMN(M, P, AclType,      acltype,      0x02, kU32),  \
  ACL_COLUMN(M, P, AclGroup,     aclgroup,     0x03, kName), \
  ACL_COLUMN(M, P, AclRuleIndex, aclruleindex, 0x04, kU32),  \
  ACL_COLUMN(M, P, MatchPackets, matchpackets, 0x05, kU64),  \
  ACL_COLUMN(M, P, MatchBytes,   matchbytes,   0x06, kU64)

// The zone pair and the group applied to it: the first four columns of both
// zone-pair tables.
#define ZONE_PAIR_GROUP_COLUMNS(M, P)                \
  ACL_COLUMN(M, P, SrcZone,  srczone,  0x01, kName), \
  ACL_COLUMN(M, P, DestZone, destzone, 0x02, kName), \
  ACL_COLUMN(M, P, AclType,  acltype,  0x03, kU32),  \
  ACL_COLUMN(M, P, AclGroup, aclgroup, 0x04, kName)

#define ZONE_PAIR_PFILTER_COLUMNS(M, P)                  \
  ZONE_PAIR_GROUP_COLUMNS(M, P),                         \
  ACL_COLUMN(M, P, AppSequence, appsequence, 0x05, kU32)

#define ZONE_PAIR_RULE_COLUMNS(M, P)                            \
  ZONE_PAIR_GROUP_COLUMNS(M, P),                                \
  ACL_COLUMN(M, P, AclRuleID,      aclruleid,      0x05, kU32), \
  ACL_COLUMN(M, P, RuleMatchPkts,  rulematchpkts,  0x06, kU64), \
  ACL_COLUMN(M, P, RuleMatchBytes, rulematchbytes, 0x07, kU64)

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

constexpr Table kPfilterApply{
    "PfilterApply", 19, ACL_LIST(ACLPfilterApply, Pfilter, pfilter),
    kPfilterApplyColumns, {}};
constexpr Table kPfilterGroupRunInfo{
    "PfilterGroupRunInfo", 20,
    ACL_LIST(ACLPfilterGroupRunInfo, Groupruninfo, groupruninfo),
    kPfilterGroupRunInfoColumns, {}};
constexpr Table kPfilterRuleRunInfo{
    "PfilterRuleRunInfo", 21,
    ACL_LIST(ACLPfilterRuleRunInfo, Ruleruninfo, ruleruninfo),
    kPfilterRuleRunInfoColumns, {}};
constexpr Table kPfilterStatisticSum{
    "PfilterStatisticSum", 22,
    ACL_LIST(ACLPfilterStatisticSum, Statisticsum, statisticsum),
    kPfilterStatisticSumColumns, {}};
constexpr Table kZonePairPfilter{
    "ZonePairPfilter", 24, ACL_LIST(ACLZonePairPfilter, Pfilter, pfilter),
    kZonePairPfilterColumns, {}};
constexpr Table kZonePairPfilterRules{
    "ZonePairPfilterRules", 25, ACL_LIST(ACLZonePairPfilterRules, Rule, rule),
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
