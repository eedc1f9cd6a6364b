// The development host's configuration registry: the host's own view of the
// device schema, loaded from a registry data file (JSON), as a tree
//
//   root -> "private" -> "ACL" -> table [-> row] [-> sub] -> column
//
// with each table's columns (name, column number, MOR type code, value
// constraints). It answers the module's ZORM_* lookups and tells the value
// checks, the configuration reader and the adapters what a column is.
//
// The data file:
//   {"module": "ACL",
//    "tables": [{"name": "IPv4BasicRules", "number": 5, "row": "Rule",
//                "columns": [{"name": "GroupID", "column": 1, "type": 1,
//                             "min": 2000, "max": 2999},
//                            {"name": "SrcIPv4Addr", "column": 5, "type": 5,
//                             "sub": "SrcIPv4"}, ...]}, ...]}
// "row" is absent for a single-instance table; "sub" names the nested
// message a column belongs to; "min"/"max" bound numbers, "maxLength"
// strings, and "format" ("ipv6") says how a string is judged.
//
// Immutable once loaded: safe to read from any number of threads.

#ifndef ACL_DEVHOST_REGISTRY_H_
#define ACL_DEVHOST_REGISTRY_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/host_api.h"

namespace devhost {

struct RegColumn {
  std::string name;    // "SrcIPv4Addr"
  uint8_t number = 0;  // CC
  uint32_t type = 0;   // MOR type code
  std::string sub;     // nested message name, "" for a row/table column
  std::string path;    // "ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr"
  std::optional<uint64_t> min, max;   // numbers
  std::optional<uint32_t> maxLength;  // strings
  std::string format;                 // "ipv6", or ""
};

struct RegTable {
  std::string name;    // "IPv4BasicRules"
  uint8_t number = 0;  // TT
  std::string row;     // "Rule", or "" for a single-instance table
  std::vector<RegColumn> columns;
};

// The largest value of the number type `type` (1 or 8).
uint64_t TypeMax(uint32_t type);

class Registry {
 public:
  // Loads a registry data file's JSON. Throws std::runtime_error naming
  // what is wrong.
  static std::unique_ptr<Registry> Load(const nlohmann::json& data);
  // The built-in registry of this host.
  static std::unique_ptr<Registry> BuiltIn();

  ~Registry();  // neither copied nor moved: the tree points into tables_

  tagZormRegNode* root() const { return root_.get(); }
  // ZORM_GetChildZormRegNode / ...IgnoreCase.
  static tagZormRegNode* Child(tagZormRegNode* parent, const char* name,
                               bool ignoreCase);

  // The table a table node stands for, or null (for other nodes).
  const RegTable* TableOf(const tagZormRegNode* node) const;
  // The table named `name`, or null.
  const RegTable* Table(std::string_view name) const;
  const std::vector<RegTable>& tables() const { return tables_; }
  // The column whose path is `path`, or null.
  const RegColumn* ColumnAt(std::string_view path) const;

 private:
  Registry();

  std::vector<RegTable> tables_;  // never resized once loaded
  std::unique_ptr<tagZormRegNode> root_;
  // Keys view the names and paths in tables_.
  std::unordered_map<std::string_view, const RegTable*> byName_;
  std::unordered_map<std::string_view, const RegColumn*> byPath_;
};

}  // namespace devhost

#endif  // ACL_DEVHOST_REGISTRY_H_
