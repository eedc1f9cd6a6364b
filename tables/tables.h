// Every registry table the service reads, one constant Table each, defined
// by the family units beside this file. Table numbers run 1 to 26; 23 is
// not a table of the service.

#ifndef ACL_TABLES_TABLES_H_
#define ACL_TABLES_TABLES_H_

#include "tables/table.h"

namespace acl_tables {

// Base, packet-filter actions and intervals (base_tables.cc).
extern const Table kBase;
extern const Table kPfilterDefAction;
extern const Table kPfilterIgnoreAction;
extern const Table kIntervals;

// Groups and capability (group_tables.cc).
extern const Table kCapability;
extern const Table kGroups;
extern const Table kNamedGroups;

// Basic rules (basic_rule_tables.cc).
extern const Table kIPv4BasicRules;
extern const Table kIPv4NamedBasicRules;
extern const Table kIPv6BasicRules;
extern const Table kIPv6NamedBasicRules;

// Advance rules (advance_rule_tables.cc).
extern const Table kIPv4AdvanceRules;
extern const Table kIPv4NamedAdvanceRules;
extern const Table kIPv6AdvanceRules;
extern const Table kIPv6NamedAdvanceRules;

// MAC rules (mac_rule_tables.cc).
extern const Table kMACRules;
extern const Table kMACNamedRules;

// User-defined rules (user_rule_tables.cc).
extern const Table kUserRules;
extern const Table kUserNamedRules;

// Packet-filter application, run information, statistics and zone pairs
// (pfilter_tables.cc).
extern const Table kPfilterApply;
extern const Table kPfilterGroupRunInfo;
extern const Table kPfilterRuleRunInfo;
extern const Table kPfilterStatisticSum;
extern const Table kZonePairPfilter;
extern const Table kZonePairPfilterRules;

// All of the above, in table-number order: ACL_MODULE_TABLES
// (table_list.h), the one list of them.
extern const Span<const Table*> kAllTables;

}  // namespace acl_tables

#endif  // ACL_TABLES_TABLES_H_
