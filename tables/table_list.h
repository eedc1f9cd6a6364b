// The registry tables the module reads, by name, in table-number order:
// the one list of them. X(Name) stands for the table acl_tables::kName of
// the family units beside this file, whose registry name is "Name".
// kAllTables (all_tables.cc) is made from it, and so is the contract
// checker's list (hostcheck/), which cannot link the tables' code (it would
// bring a second copy of the schema into a host). Plain text: no includes.
//
//   #define NAME(n) #n,
//   const char* names[] = {ACL_MODULE_TABLES(NAME)};

#ifndef ACL_TABLES_TABLE_LIST_H_
#define ACL_TABLES_TABLE_LIST_H_

#define ACL_MODULE_TABLES(X) \
  X(Base)                    \
  X(Capability)              \
  X(Groups)                  \
  X(NamedGroups)             \
  X(IPv4BasicRules)          \
  X(IPv4NamedBasicRules)     \
  X(IPv6BasicRules)          \
  X(IPv6NamedBasicRules)     \
  X(IPv4AdvanceRules)        \
  X(IPv4NamedAdvanceRules)   \
  X(IPv6AdvanceRules)        \
  X(IPv6NamedAdvanceRules)   \
  X(MACRules)                \
  X(MACNamedRules)           \
  X(UserRules)               \
  X(UserNamedRules)          \
  X(Intervals)               \
  X(PfilterDefAction)        \
  X(PfilterApply)            \
  X(PfilterGroupRunInfo)     \
  X(PfilterRuleRunInfo)      \
  X(PfilterStatisticSum)     \
  X(ZonePairPfilter)         \
  X(ZonePairPfilterRules)    \
  X(PfilterIgnoreAction)

#endif  // ACL_TABLES_TABLE_LIST_H_
