#include "devhost/registry.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <list>
#include <set>
#include <stdexcept>

#include "devhost/values.h"
#include "tree/tree.h"

// A node of the registry tree, owned by its parent (the root by the Registry).
struct tagZormRegNode {
  std::string name;
  std::list<tagZormRegNode> children;        // a list: nodes never move
  const devhost::RegTable* table = nullptr;  // set on table nodes only
};

namespace devhost {

extern const char kRegistryJson[];

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw std::runtime_error("registry: " + where + ": " + what);
}

std::string Quoted(const std::string& text) { return '"' + text + '"'; }

const json& Member(const json& data, const char* key,
                   const std::string& where) {
  auto it = data.find(key);
  if (it == data.end()) Fail(where, Quoted(key) + " is missing");
  return *it;
}

// Reads data[key] as a whole number from `min` to `max`.
uint64_t Unsigned(const json& data, const char* key, uint64_t min, uint64_t max,
                  const std::string& where) {
  const json& v = Member(data, key, where);
  if (!v.is_number_unsigned() || v.get<uint64_t>() < min ||
      v.get<uint64_t>() > max) {
    Fail(where, Quoted(key) + " must be a number from " + std::to_string(min) +
                    " to " + std::to_string(max));
  }
  return v.get<uint64_t>();
}

// Reads data[key], when there, as a whole number up to `max`.
std::optional<uint64_t> Optional(const json& data, const char* key,
                                 uint64_t max, const std::string& where) {
  if (!data.contains(key)) return std::nullopt;
  return Unsigned(data, key, 0, max, where);
}

// Reads data[key] as a non-empty name (letters, digits, '_').
std::string Name(const json& data, const char* key, const std::string& where) {
  const json& v = Member(data, key, where);
  const std::string name = v.is_string() ? v.get<std::string>() : "";
  if (name.empty()) Fail(where, Quoted(key) + " must be a non-empty text");
  const auto good = [](unsigned char c) { return isalnum(c) || c == '_'; };
  if (!std::all_of(name.begin(), name.end(), good)) {
    Fail(where, Quoted(key) + " must hold letters, digits and '_' only, not " +
                    Quoted(name));
  }
  return name;
}

void CheckKeys(const json& data, const std::set<std::string>& known,
               const std::string& where) {
  if (!data.is_object()) Fail(where, "must be an object");
  for (auto it = data.begin(); it != data.end(); ++it) {
    if (!known.count(it.key())) Fail(where, "unknown key " + Quoted(it.key()));
  }
}

RegColumn LoadColumn(const json& data, const std::string& tableWhere) {
  const std::string anyWhere = tableWhere + ": a column";
  CheckKeys(
      data,
      {"name", "column", "type", "sub", "min", "max", "maxLength", "format"},
      anyWhere);
  RegColumn c;
  c.name = Name(data, "name", anyWhere);
  const std::string where = tableWhere + ": column " + Quoted(c.name);
  c.number = static_cast<uint8_t>(Unsigned(data, "column", 1, 255, where));
  c.type = static_cast<uint32_t>(Unsigned(data, "type", 0, 255, where));
  if (TypeInfo(c.type)->typeCode != c.type) {
    Fail(where, "\"type\" " + std::to_string(c.type) +
                    " is not one of 1, 5, 6, 8, 14, 15, 22");
  }
  if (data.contains("sub")) c.sub = Name(data, "sub", where);
  namespace mv = zorm_mor_value;
  const bool number = c.type == mv::kTypeU32 || c.type == mv::kTypeU64;
  const bool string = c.type == mv::kTypeString || c.type == mv::kTypeName;
  c.min = Optional(data, "min", TypeMax(c.type), where);
  c.max = Optional(data, "max", TypeMax(c.type), where);
  if ((c.min || c.max) && !number) {
    Fail(where, "\"min\"/\"max\" need type 1 or 8");
  }
  if (c.min && c.max && *c.min > *c.max) Fail(where, "\"min\" exceeds \"max\"");
  c.maxLength = Optional(data, "maxLength", UINT32_MAX, where);
  if (c.maxLength && !string) Fail(where, "\"maxLength\" needs type 6 or 22");
  if (data.contains("format")) {
    if (data["format"] != "ipv6") Fail(where, "\"format\" must be \"ipv6\"");
    if (c.type != mv::kTypeString) Fail(where, "\"format\" needs type 6");
    c.format = "ipv6";
  }
  return c;
}

RegTable LoadTable(const json& data, const std::string& module) {
  CheckKeys(data, {"name", "number", "row", "columns"}, "a table");
  RegTable t;
  t.name = Name(data, "name", "a table");
  const std::string where = "table " + Quoted(t.name);
  t.number = static_cast<uint8_t>(Unsigned(data, "number", 1, 255, where));
  if (data.contains("row")) t.row = Name(data, "row", where);
  auto cols = data.find("columns");
  if (cols == data.end() || !cols->is_array() || cols->empty()) {
    Fail(where, "\"columns\" must be a non-empty array");
  }
  std::set<uint8_t> numbers;
  for (const json& col : *cols) {
    RegColumn c = LoadColumn(col, where);
    if (!numbers.insert(c.number).second) {
      Fail(where,
           "column number " + std::to_string(c.number) + " is used twice");
    }
    c.path = module + "/" + t.name + (t.row.empty() ? "" : "/" + t.row) +
             (c.sub.empty() ? "" : "/" + c.sub) + "/" + c.name;
    t.columns.push_back(std::move(c));
  }
  return t;
}

tagZormRegNode* AddChild(tagZormRegNode* parent, const std::string& name) {
  for (tagZormRegNode& child : parent->children) {
    if (child.name == name) return &child;
  }
  return &parent->children.emplace_back(tagZormRegNode{name, {}, nullptr});
}

}  // namespace

uint64_t TypeMax(uint32_t type) {
  return type == zorm_mor_value::kTypeU64
             ? std::numeric_limits<uint64_t>::max()
             : std::numeric_limits<uint32_t>::max();
}

Registry::Registry() : root_(std::make_unique<tagZormRegNode>()) {}
Registry::~Registry() = default;

std::unique_ptr<Registry> Registry::Load(const json& data) {
  CheckKeys(data, {"module", "tables"}, "the registry");
  std::unique_ptr<Registry> r(new Registry());
  const std::string module =
      data.contains("module") ? Name(data, "module", "the registry") : "ACL";
  auto tables = data.find("tables");
  if (tables == data.end() || !tables->is_array()) {
    Fail("the registry", "\"tables\" must be an array");
  }
  r->tables_.reserve(tables->size());  // the maps and nodes point into it
  tagZormRegNode* moduleNode =
      AddChild(AddChild(r->root_.get(), "private"), module);
  std::set<uint8_t> numbers;
  for (const json& data : *tables) {
    const RegTable& t = r->tables_.emplace_back(LoadTable(data, module));
    const std::string where = "table " + Quoted(t.name);
    if (!numbers.insert(t.number).second) {
      Fail(where,
           "table number " + std::to_string(t.number) + " is used twice");
    }
    if (!r->byName_.emplace(t.name, &t).second) {
      Fail(where, "the name is used twice");
    }
    tagZormRegNode* tableNode = AddChild(moduleNode, t.name);
    tableNode->table = &t;
    tagZormRegNode* rowNode =
        t.row.empty() ? tableNode : AddChild(tableNode, t.row);
    for (const RegColumn& c : t.columns) {
      AddChild(c.sub.empty() ? rowNode : AddChild(rowNode, c.sub), c.name);
      if (!r->byPath_.emplace(c.path, &c).second) {
        Fail(where, "column path " + c.path + " is used twice");
      }
    }
  }
  return r;
}

std::unique_ptr<Registry> Registry::BuiltIn() {
  return Load(json::parse(kRegistryJson));
}

tagZormRegNode* Registry::Child(tagZormRegNode* parent, const char* name,
                                bool ignoreCase) {
  if (parent == nullptr || name == nullptr) return nullptr;
  for (tagZormRegNode& child : parent->children) {
    if (ignoreCase ? strcasecmp(child.name.c_str(), name) == 0
                   : child.name == name) {
      return &child;
    }
  }
  return nullptr;
}

const RegTable* Registry::TableOf(const tagZormRegNode* node) const {
  return node == nullptr ? nullptr : node->table;
}

const RegTable* Registry::Table(std::string_view name) const {
  auto it = byName_.find(name);
  return it == byName_.end() ? nullptr : it->second;
}

const RegColumn* Registry::ColumnAt(std::string_view path) const {
  auto it = byPath_.find(path);
  return it == byPath_.end() ? nullptr : it->second;
}

}  // namespace devhost
