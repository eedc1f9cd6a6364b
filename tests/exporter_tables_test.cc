// The exporter's tables (exporter/tables.cc) are tables the module reads,
// by their registry names: its list is written apart from the module's.

#include <set>
#include <string>

#include <gtest/gtest.h>

#include "exporter/tables.h"
#include "tables/table_list.h"

namespace {

TEST(ExporterTables, AreTablesOfTheModule) {
#define ACL_TABLE_NAME(name) #name,
  const std::set<std::string> module = {ACL_MODULE_TABLES(ACL_TABLE_NAME)};
#undef ACL_TABLE_NAME
  ASSERT_GT(exporter::kTableCount, 0u);
  std::set<std::string> seen;
  for (size_t i = 0; i < exporter::kTableCount; ++i) {
    const std::string name = exporter::kTables[i].name;
    EXPECT_TRUE(module.count(name)) << name << " is no table of the module";
    EXPECT_TRUE(seen.insert(name).second) << name << " is listed twice";
  }
}

}  // namespace
