#include "tables/tables.h"

namespace acl_tables {
namespace {

constexpr const Table* kTables[] = {
    &kBase,                 &kCapability,           &kGroups,
    &kNamedGroups,          &kIPv4BasicRules,       &kIPv4NamedBasicRules,
    &kIPv6BasicRules,       &kIPv6NamedBasicRules,  &kIPv4AdvanceRules,
    &kIPv4NamedAdvanceRules, &kIPv6AdvanceRules,    &kIPv6NamedAdvanceRules,
    &kMACRules,             &kMACNamedRules,        &kUserRules,
    &kUserNamedRules,       &kIntervals,            &kPfilterDefAction,
    &kPfilterApply,         &kPfilterGroupRunInfo,  &kPfilterRuleRunInfo,
    &kPfilterStatisticSum,  &kZonePairPfilter,      &kZonePairPfilterRules,
    &kPfilterIgnoreAction,
};

}  // namespace

constexpr Span<const Table*> kAllTables{kTables};

}  // namespace acl_tables
