#include "devhost/registry.h"

#include <strings.h>

#include <cctype>
#include <limits>
#include <set>
#include <stdexcept>
#include <unordered_map>

#include "tree/tree.h"

namespace devhost {
extern const char kRegistryJson[];
}  // namespace devhost

// A node of the registry tree. The tree mirrors the column paths:
//
//   root "" -> "private" -> module -> table [-> row] [-> sub] -> column
//
// Nodes are owned by their parent; the root by the Registry.
struct tagZormRegNode {
  std::string name;
  std::vector<std::unique_ptr<tagZormRegNode>> children;
  const devhost::RegTable* table = nullptr;  // set on table nodes only
};

namespace devhost {
namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw std::runtime_error("registry: " + where + ": " + what);
}

bool IsNumberType(uint32_t type) {
  return type == zorm_mor_value::kTypeU32 || type == zorm_mor_value::kTypeU64;
}

bool IsStringType(uint32_t type) {
  return type == zorm_mor_value::kTypeString ||
         type == zorm_mor_value::kTypeName;
}

bool IsKnownType(uint32_t type) {
  return IsNumberType(type) || IsStringType(type) ||
         type == zorm_mor_value::kTypeIPv4 ||
         type == zorm_mor_value::kTypeMAC || type == zorm_mor_value::kTypeBool;
}

// Reads data[key] as a whole number from `min` to `max`.
uint64_t Unsigned(const json& data, const char* key, uint64_t min,
                  uint64_t max, const std::string& where) {
  const json& v = data.at(key);
  const bool natural =
      v.is_number_unsigned() || (v.is_number_integer() && v.get<int64_t>() >= 0);
  if (!natural || v.get<uint64_t>() < min || v.get<uint64_t>() > max) {
    Fail(where, std::string("\"") + key + "\" must be a number from " +
                    std::to_string(min) + " to " + std::to_string(max));
  }
  return v.get<uint64_t>();
}

// Reads data[key] as a non-empty name (letters, digits, '_').
std::string Name(const json& data, const char* key, const std::string& where) {
  auto it = data.find(key);
  if (it == data.end()) Fail(where, std::string("\"") + key + "\" is missing");
  if (!it->is_string() || it->get<std::string>().empty()) {
    Fail(where, std::string("\"") + key + "\" must be a non-empty text");
  }
  std::string name = it->get<std::string>();
  for (char c : name) {
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '_')) {
      Fail(where, std::string("\"") + key + "\" must hold letters, digits " +
                      "and '_' only, not \"" + name + "\"");
    }
  }
  return name;
}

void CheckKeys(const json& data, const std::set<std::string>& known,
               const std::string& where) {
  if (!data.is_object()) Fail(where, "must be an object");
  for (auto it = data.begin(); it != data.end(); ++it) {
    if (!known.count(it.key())) Fail(where, "unknown key \"" + it.key() + "\"");
  }
}

RegColumn LoadColumn(const json& data, const std::string& tableWhere) {
  CheckKeys(data,
            {"name", "column", "type", "sub", "min", "max", "maxLength",
             "format"},
            tableWhere + ": a column");
  RegColumn c;
  c.name = Name(data, "name", tableWhere + ": a column");
  const std::string where = tableWhere + ": column \"" + c.name + "\"";
  if (!data.contains("column")) Fail(where, "\"column\" is missing");
  c.number = static_cast<uint8_t>(Unsigned(data, "column", 1, 255, where));
  if (!data.contains("type")) Fail(where, "\"type\" is missing");
  c.type = static_cast<uint32_t>(Unsigned(data, "type", 0, 255, where));
  if (!IsKnownType(c.type)) {
    Fail(where, "\"type\" " + std::to_string(c.type) +
                    " is not one of 1, 5, 6, 8, 14, 15, 22");
  }
  if (data.contains("sub")) c.sub = Name(data, "sub", where);

  const uint64_t typeMax = c.type == zorm_mor_value::kTypeU64
                               ? std::numeric_limits<uint64_t>::max()
                               : std::numeric_limits<uint32_t>::max();
  if (data.contains("min") || data.contains("max")) {
    if (!IsNumberType(c.type)) Fail(where, "\"min\"/\"max\" need type 1 or 8");
    if (data.contains("min")) c.min = Unsigned(data, "min", 0, typeMax, where);
    if (data.contains("max")) c.max = Unsigned(data, "max", 0, typeMax, where);
    if (c.min && c.max && *c.min > *c.max) Fail(where, "\"min\" exceeds \"max\"");
  }
  if (data.contains("maxLength")) {
    if (!IsStringType(c.type)) Fail(where, "\"maxLength\" needs type 6 or 22");
    c.maxLength = static_cast<uint32_t>(Unsigned(
        data, "maxLength", 0, std::numeric_limits<uint32_t>::max(), where));
  }
  if (data.contains("format")) {
    const json& f = data["format"];
    if (!f.is_string() || f.get<std::string>() != "ipv6") {
      Fail(where, "\"format\" must be \"ipv6\"");
    }
    if (c.type != zorm_mor_value::kTypeString) {
      Fail(where, "\"format\" needs type 6");
    }
    c.format = "ipv6";
  }
  return c;
}

RegTable LoadTable(const json& data, const std::string& module) {
  CheckKeys(data, {"name", "number", "row", "columns"}, "a table");
  RegTable t;
  t.name = Name(data, "name", "a table");
  const std::string where = "table \"" + t.name + "\"";
  if (!data.contains("number")) Fail(where, "\"number\" is missing");
  t.number = static_cast<uint8_t>(Unsigned(data, "number", 1, 255, where));
  if (data.contains("row")) t.row = Name(data, "row", where);
  auto cols = data.find("columns");
  if (cols == data.end() || !cols->is_array() || cols->empty()) {
    Fail(where, "\"columns\" must be a non-empty array");
  }
  std::set<uint8_t> numbers;
  std::set<std::string> paths;
  for (const json& col : *cols) {
    RegColumn c = LoadColumn(col, where);
    if (!numbers.insert(c.number).second) {
      Fail(where, "column number " + std::to_string(c.number) +
                      " is used twice");
    }
    c.path = module + "/" + t.name;
    if (!t.row.empty()) c.path += "/" + t.row;
    if (!c.sub.empty()) c.path += "/" + c.sub;
    c.path += "/" + c.name;
    if (!paths.insert(c.path).second) {
      Fail(where, "column path " + c.path + " is used twice");
    }
    t.columns.push_back(std::move(c));
  }
  return t;
}

tagZormRegNode* AddChild(tagZormRegNode* parent, const std::string& name) {
  for (auto& child : parent->children) {
    if (child->name == name) return child.get();
  }
  parent->children.push_back(std::make_unique<tagZormRegNode>());
  parent->children.back()->name = name;
  return parent->children.back().get();
}

}  // namespace

const RegColumn* RegTable::Column(uint8_t n) const {
  for (const RegColumn& c : columns) {
    if (c.number == n) return &c;
  }
  return nullptr;
}

struct Registry::Impl {
  std::vector<RegTable> tables;  // never resized after loading
  tagZormRegNode root;
  std::unordered_map<std::string, const RegTable*> byName;
  std::unordered_map<std::string, const RegColumn*> byPath;
};

Registry::Registry(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Registry::~Registry() = default;

std::unique_ptr<Registry> Registry::Load(const json& data) {
  CheckKeys(data, {"module", "tables"}, "the registry");
  auto impl = std::make_unique<Impl>();
  const std::string module =
      data.contains("module") ? Name(data, "module", "the registry") : "ACL";
  auto tables = data.find("tables");
  if (tables == data.end() || !tables->is_array()) {
    Fail("the registry", "\"tables\" must be an array");
  }
  std::set<uint8_t> numbers;
  for (const json& t : *tables) {
    impl->tables.push_back(LoadTable(t, module));
    const RegTable& table = impl->tables.back();
    if (!numbers.insert(table.number).second) {
      Fail("table \"" + table.name + "\"",
           "table number " + std::to_string(table.number) + " is used twice");
    }
  }

  tagZormRegNode* moduleNode = AddChild(AddChild(&impl->root, "private"),
                                        module);
  for (const RegTable& t : impl->tables) {
    if (!impl->byName.emplace(t.name, &t).second) {
      Fail("table \"" + t.name + "\"", "the name is used twice");
    }
    tagZormRegNode* tableNode = AddChild(moduleNode, t.name);
    tableNode->table = &t;
    tagZormRegNode* rowNode = t.row.empty() ? tableNode
                                            : AddChild(tableNode, t.row);
    for (const RegColumn& c : t.columns) {
      tagZormRegNode* parent = c.sub.empty() ? rowNode
                                             : AddChild(rowNode, c.sub);
      AddChild(parent, c.name);
      impl->byPath.emplace(c.path, &c);
    }
  }
  return std::unique_ptr<Registry>(new Registry(std::move(impl)));
}

std::unique_ptr<Registry> Registry::BuiltIn() {
  return Load(json::parse(kRegistryJson));
}

tagZormRegNode* Registry::root() const { return &impl_->root; }

tagZormRegNode* Registry::Child(tagZormRegNode* parent, const char* name,
                                bool ignoreCase) {
  if (parent == nullptr || name == nullptr) return nullptr;
  for (auto& child : parent->children) {
    if (ignoreCase ? strcasecmp(child->name.c_str(), name) == 0
                   : child->name == name) {
      return child.get();
    }
  }
  return nullptr;
}

const RegTable* Registry::TableOf(const tagZormRegNode* node) const {
  return node == nullptr ? nullptr : node->table;
}

const RegTable* Registry::Table(const std::string& name) const {
  auto it = impl_->byName.find(name);
  return it == impl_->byName.end() ? nullptr : it->second;
}

const std::vector<RegTable>& Registry::tables() const { return impl_->tables; }

const RegColumn* Registry::ColumnAt(const std::string& path) const {
  auto it = impl_->byPath.find(path);
  return it == impl_->byPath.end() ? nullptr : it->second;
}

}  // namespace devhost
