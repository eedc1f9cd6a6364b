#include "tables/table_list.h"
#include "tables/tables.h"

namespace acl_tables {
namespace {

#define ACL_TABLE_ADDRESS(name) &k##name,
constexpr const Table* kTables[] = {ACL_MODULE_TABLES(ACL_TABLE_ADDRESS)};
#undef ACL_TABLE_ADDRESS

}  // namespace

constexpr Span<const Table*> kAllTables{kTables};

}  // namespace acl_tables
