// The json adapter reads the configuration once, when it is made: every
// configured row (or single instance) becomes an Entry holding its valued
// columns by column number, its nested lists by nested message name, and its
// answer text, rendered then with the keys in registry order. A request is
// turned into the same form (Wanted) and compared entry by entry; the answer
// is the matching entries' texts joined, so answering renders nothing anew.

#include "devhost/adapter.h"


#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "devhost/tree_json.h"
#include "devhost/values.h"

namespace devhost {

extern const char kSampleConfigJson[];

namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// ---- Values -----------------------------------------------------------------

// A value as the matcher compares it: numbers (booleans as 0/1), texts, or
// raw bytes (IPv4 and IPv6 addresses, MAC addresses). Values of different
// kinds never compare equal, nor does a value of no kind.
struct Value {
  enum Kind : uint8_t { kNone, kNumber, kText, kBytes };
  Kind kind = kNone;
  uint64_t number = 0;
  std::string text;  // kText: the text; kBytes: the bytes

  static Value Number(uint64_t n) {
    Value v;
    v.kind = kNumber;
    v.number = n;
    return v;
  }
  static Value Text(std::string t) { return Of(kText, std::move(t)); }
  static Value Bytes(std::string b) { return Of(kBytes, std::move(b)); }
  static Value Bytes(const void* b, size_t size) {
    return Bytes(std::string(static_cast<const char*>(b), size));
  }
  bool Equals(const Value& other) const {
    return kind != kNone && kind == other.kind && number == other.number &&
           text == other.text;
  }

 private:
  static Value Of(Kind kind, std::string text) {
    Value v;
    v.kind = kind;
    v.text = std::move(text);
    return v;
  }
};

// One valued column of a row, an instance or a nested element.
struct Cell {
  uint8_t column;
  Value value;
};
using Cells = std::vector<Cell>;

bool HasCell(const Cells& cells, const Cell& want) {
  for (const Cell& c : cells) {
    if (c.column == want.column && c.value.Equals(want.value)) return true;
  }
  return false;
}

// True when every cell of `want` is among `have`.
bool CellsMatch(const Cells& want, const Cells& have) {
  for (const Cell& w : want) {
    if (!HasCell(have, w)) return false;
  }
  return true;
}

// The value a request column record carries, read by its MOR type code.
// IPv6 address texts are compared as addresses, so that any spelling of an
// address matches the configured one.
Value RequestValue(const tagGrpcColumn& column, const RegColumn* reg) {
  const tagZormMorValue& slot = column.value;
  switch (column.typeCode) {
    case zorm_mor_value::kTypeU32:
    case zorm_mor_value::kTypeBool:
      return Value::Number(slot.u32);
    case zorm_mor_value::kTypeU64:
      return Value::Number(slot.u64);
    case zorm_mor_value::kTypeIPv4:
      return Value::Bytes(slot.bytes, 4);
    case zorm_mor_value::kTypeMAC:
      return Value::Bytes(slot.bytes, 6);
    case zorm_mor_value::kTypeString:
    case zorm_mor_value::kTypeName: {
      std::string text(TextOf(slot));
      uint8_t ipv6[16];
      if (reg != nullptr && reg->format == "ipv6" && ParseIPv6(text, ipv6)) {
        return Value::Bytes(ipv6, sizeof(ipv6));
      }
      return Value::Text(std::move(text));
    }
    default:
      return Value();
  }
}

// Configured values: each reader returns the value of `v` for column `reg`,
// or a kNone value with `*error` saying what is wrong with it.

Value ConfigNumber(const RegColumn& reg, const json& v, std::string* error) {
  if (!v.is_number_unsigned() &&
      !(v.is_number_integer() && v.get<int64_t>() >= 0)) {
    *error = "expected an unsigned whole number";
    return Value();
  }
  const uint64_t n = v.get<uint64_t>();
  if (reg.type == zorm_mor_value::kTypeU32 && n > UINT32_MAX) {
    *error = "expected a number below 2^32";
    return Value();
  }
  return Value::Number(n);
}

Value ConfigBool(const json& v, std::string* error) {
  if (v.is_boolean()) return Value::Number(v.get<bool>() ? 1 : 0);
  if (v.is_number_unsigned() && v.get<uint64_t>() <= 1) {
    return Value::Number(v.get<uint64_t>());
  }
  *error = "expected true or false";
  return Value();
}

// Strings, and the addresses written as text.
Value ConfigText(const RegColumn& reg, const std::string& text,
                 std::string* error) {
  uint8_t bytes[16];
  switch (reg.type) {
    case zorm_mor_value::kTypeIPv4:
      if (ParseIPv4(text, bytes)) return Value::Bytes(bytes, 4);
      *error = "expected a dotted IPv4 address";
      return Value();
    case zorm_mor_value::kTypeMAC:
      if (ParseMAC(text, bytes)) return Value::Bytes(bytes, 6);
      *error = "expected a MAC address such as 00-1a-2b-3c-4d-5e";
      return Value();
    case zorm_mor_value::kTypeString:
    case zorm_mor_value::kTypeName:
      if (reg.format != "ipv6") return Value::Text(text);
      if (ParseIPv6(text, bytes)) return Value::Bytes(bytes, 16);
      *error = "expected an IPv6 address";
      return Value();
    default:
      *error = "column type " + std::to_string(reg.type) + " is not supported";
      return Value();
  }
}

Value ConfigValue(const RegColumn& reg, const json& v, std::string* error) {
  switch (reg.type) {
    case zorm_mor_value::kTypeU32:
    case zorm_mor_value::kTypeU64:
      return ConfigNumber(reg, v, error);
    case zorm_mor_value::kTypeBool:
      return ConfigBool(v, error);
    default:
      if (v.is_string()) {
        return ConfigText(reg, v.get_ref<const std::string&>(), error);
      }
      *error = "expected a string";
      return Value();
  }
}

// ---- The configuration, parsed ----------------------------------------------

// A configured row, or the instance of a single-instance table: its valued
// columns, its nested lists by nested message name, and its answer text.
struct Entry {
  Cells cells;
  std::map<std::string, std::vector<Cells>> lists;
  std::string text;
};

// Collects what is wrong with a configuration, each problem at its place
// (a JSON pointer such as /IPv4BasicRules/Rule/2/SrcIPv4/0/SrcIPv4Addr).
class Problems {
 public:
  void Add(const std::string& where, const std::string& what) {
    if (list_.size() < kMax) list_.push_back(where + ": " + what);
    ++count_;
  }
  void ThrowIfAny() const {
    if (count_ == 0) return;
    std::string message = "configuration does not fit the registry: ";
    for (size_t i = 0; i < list_.size(); ++i) {
      if (i > 0) message += "; ";
      message += list_[i];
    }
    if (count_ > list_.size()) {
      message += "; and " + std::to_string(count_ - list_.size()) + " more";
    }
    throw std::runtime_error(message);
  }

 private:
  static constexpr size_t kMax = 20;
  std::vector<std::string> list_;
  size_t count_ = 0;
};

std::string Quoted(const std::string& name) {
  return json(name).dump(-1, ' ', false, json::error_handler_t::replace);
}

// Reads configured objects (rows, instances, nested elements) of one table
// into entries, checking every key and value against the registry, and
// renders each entry with its keys in the registry's column order.
class TableReader {
 public:
  TableReader(const RegTable& table, Problems* problems)
      : table_(table), problems_(problems) {
    for (const RegColumn& c : table.columns) {
      if (!c.sub.empty()) subs_.insert(c.sub);
    }
  }

  // True when `key` of a row or instance names a nested list rather than a
  // column.
  bool IsList(const std::string& key) const {
    return subs_.count(key) != 0 && Find("", key) == nullptr;
  }

  Entry Read(const json& object, const std::string& where) {
    Entry entry;
    if (!object.is_object()) {
      problems_->Add(where, "expected an object");
      return entry;
    }
    ReadCells(object, "", where, &entry.cells);
    for (const auto& [key, value] : object.items()) {
      if (!IsList(key)) continue;
      std::vector<Cells>& list = entry.lists[key];
      if (!value.is_array()) {
        problems_->Add(where + "/" + key, "expected a list of " + key);
        continue;
      }
      for (size_t i = 0; i < value.size(); ++i) {
        std::string at = where + "/" + key + "/" + std::to_string(i);
        list.emplace_back();
        if (!value[i].is_object()) {
          problems_->Add(at, "expected an object");
          continue;
        }
        ReadCells(value[i], key, at, &list.back());
      }
    }
    entry.text = Render(object, "").dump(
        -1, ' ', false, ordered_json::error_handler_t::replace);
    return entry;
  }

 private:
  const RegColumn* Find(const std::string& sub, const std::string& name) const {
    for (const RegColumn& c : table_.columns) {
      if (c.sub == sub && c.name == name) return &c;
    }
    return nullptr;
  }

  // Reads the columns of `object` at nesting `sub` ("" for a row or an
  // instance, where nested list names are also allowed).
  void ReadCells(const json& object, const std::string& sub,
                 const std::string& where, Cells* cells) {
    for (const auto& [key, value] : object.items()) {
      if (sub.empty() && IsList(key)) continue;
      const RegColumn* column = Find(sub, key);
      std::string at = where + "/" + key;
      if (column == nullptr) {
        problems_->Add(at, "unknown column " + Quoted(key) + " of " +
                               table_.name + (sub.empty() ? "" : "/" + sub));
        continue;
      }
      std::string error;
      Value v = ConfigValue(*column, value, &error);
      if (v.kind == Value::kNone) {
        problems_->Add(at, error);
        continue;
      }
      cells->push_back(Cell{column->number, std::move(v)});
    }
  }

  // `object` with its keys in registry order; a nested list takes the place
  // of its first column.
  ordered_json Render(const json& object, const std::string& sub) const {
    ordered_json out = ordered_json::object();
    for (const RegColumn& c : table_.columns) {
      if (c.sub == sub) {
        auto it = object.find(c.name);
        if (it != object.end()) out[c.name] = *it;
      } else if (sub.empty() && !out.contains(c.sub)) {
        auto it = object.find(c.sub);
        if (it == object.end() || !it->is_array()) continue;
        ordered_json list = ordered_json::array();
        for (const json& element : *it) list.push_back(Render(element, c.sub));
        out[c.sub] = std::move(list);
      }
    }
    return out;
  }

  const RegTable& table_;
  Problems* problems_;
  std::set<std::string> subs_;  // nested message names
};

// ---- The request, as match keys ---------------------------------------------

// What one request node (a row, or the table node of a single-instance
// table) asks for: its valued columns, and per sub-entry that has valued
// columns, the nested message name and those columns.
struct Wanted {
  Cells cells;
  std::vector<std::pair<std::string, Cells>> subs;

  bool Matches(const Entry& entry) const {
    if (!CellsMatch(cells, entry.cells)) return false;
    for (const auto& [name, want] : subs) {
      auto it = entry.lists.find(name);
      if (it == entry.lists.end() || !AnyMatches(want, it->second)) {
        return false;
      }
    }
    return true;
  }

 private:
  static bool AnyMatches(const Cells& want, const std::vector<Cells>& list) {
    for (const Cells& element : list) {
      if (CellsMatch(want, element)) return true;
    }
    return false;
  }
};

Cells ValuedCells(const tagGrpcColumn* column, const RegTable& table) {
  Cells cells;
  for (; column != nullptr; column = column->next) {
    if (column->noValue == 1) continue;
    auto number = static_cast<uint8_t>(column->morId & 0xFF);
    cells.push_back(Cell{number, RequestValue(*column, table.Column(number))});
  }
  return cells;
}

Wanted WantedOf(const tagGrpcTableOrRow& node, const RegTable& table) {
  Wanted wanted;
  wanted.cells = ValuedCells(node.columnHead, table);
  for (const tagGrpcSubEntry* e = node.subHead; e != nullptr; e = e->next) {
    Cells cells = ValuedCells(e->columnHead, table);
    if (cells.empty()) continue;
    wanted.subs.emplace_back(e->name != nullptr ? e->name : "",
                             std::move(cells));
  }
  return wanted;
}

char* HeapCopy(const std::string& text) {
  auto* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// ---- The adapters -----------------------------------------------------------

class JsonAdapter : public Adapter {
 public:
  JsonAdapter(const Registry& registry, const json& config)
      : registry_(registry) {
    Problems problems;
    if (!config.is_object()) {
      problems.Add("/", "expected an object of tables");
      problems.ThrowIfAny();
    }
    for (const auto& [name, value] : config.items()) {
      const RegTable* table = registry.Table(name);
      if (table == nullptr) {
        problems.Add("/" + name, "unknown table " + Quoted(name));
        continue;
      }
      ReadTable(*table, value, &problems);
    }
    problems.ThrowIfAny();
  }

  char* Answer(const tagGrpcTableOrRow* table,
               const char* /*module*/) const override {
    if (table == nullptr) return nullptr;
    const RegTable* reg = registry_.TableOf(table->regNode);
    if (reg == nullptr) return nullptr;
    static const std::vector<Entry> kUnconfigured;
    auto it = tables_.find(reg->name);
    const std::vector<Entry>& entries =
        it != tables_.end() ? it->second : kUnconfigured;
    const std::string answer = reg->row.empty()
                                   ? Instance(*table, *reg, entries)
                                   : Rows(*table, *reg, entries);
    return GivingUp() ? nullptr : HeapCopy(answer);
  }

 private:
  void ReadTable(const RegTable& table, const json& value, Problems* problems) {
    TableReader reader(table, problems);
    std::vector<Entry>& entries = tables_[table.name];
    const std::string where = "/" + table.name;
    if (table.row.empty()) {
      entries.push_back(reader.Read(value, where));
      return;
    }
    if (!value.is_object()) {
      problems->Add(where, "expected {" + Quoted(table.row) + ": [...]}");
      return;
    }
    for (const auto& [key, rows] : value.items()) {
      const std::string at = where + "/" + key;
      if (key != table.row) {
        problems->Add(at, "unknown row " + Quoted(key) + " (" + table.name +
                              " has rows " + Quoted(table.row) + ")");
      } else if (!rows.is_array()) {
        problems->Add(at, "expected a list of rows");
      } else {
        for (size_t i = 0; i < rows.size(); ++i) {
          entries.push_back(reader.Read(rows[i], at + "/" + std::to_string(i)));
        }
      }
    }
  }

  // {"<Table>":{"<Row>":[...]}}: every configured row that one request row
  // or more selects, in configuration order, each once. A request without
  // rows selects all.
  std::string Rows(const tagGrpcTableOrRow& table, const RegTable& reg,
                   const std::vector<Entry>& entries) const {
    std::vector<Wanted> wanted;
    for (const tagGrpcTableOrRow* row = table.firstRow; row != nullptr;
         row = row->next) {
      wanted.push_back(WantedOf(*row, reg));
    }
    std::string out = "{" + Quoted(reg.name) + ":{" + Quoted(reg.row) + ":[";
    bool first = true;
    for (const Entry& entry : entries) {
      if (GivingUp()) break;
      if (!wanted.empty() && !AnyMatches(wanted, entry)) continue;
      if (!first) out += ",";
      out += entry.text;
      first = false;
    }
    return out + "]}}";
  }

  static bool AnyMatches(const std::vector<Wanted>& wanted,
                         const Entry& entry) {
    for (const Wanted& w : wanted) {
      if (w.Matches(entry)) return true;
    }
    return false;
  }

  // {"<Table>":{...}} when the instance matches the table node's keys,
  // {"<Table>":{}} when it does not or is not configured.
  static std::string Instance(const tagGrpcTableOrRow& table,
                              const RegTable& reg,
                              const std::vector<Entry>& entries) {
    std::string body = "{}";
    if (!entries.empty() && WantedOf(table, reg).Matches(entries.front())) {
      body = entries.front().text;
    }
    return "{" + Quoted(reg.name) + ":" + body + "}";
  }

  const Registry& registry_;
  std::map<std::string, std::vector<Entry>> tables_;  // by table name
};

class EchoAdapter : public Adapter {
 public:
  explicit EchoAdapter(const Registry& registry) : registry_(registry) {}

  char* Answer(const tagGrpcTableOrRow* table,
               const char* module) const override {
    if (table == nullptr) return nullptr;
    const RegTable* reg = registry_.TableOf(table->regNode);
    ordered_json answer;
    answer["module"] = module != nullptr ? module : "";
    answer["table"] = reg != nullptr ? ordered_json(reg->name) : ordered_json();
    answer["tree"] = TreeToJsonValue(table);
    if (GivingUp()) return nullptr;
    return HeapCopy(
        answer.dump(-1, ' ', false, ordered_json::error_handler_t::replace));
  }

 private:
  const Registry& registry_;
};

}  // namespace

std::unique_ptr<Adapter> MakeJsonAdapter(const Registry& registry,
                                         nlohmann::json config) {
  return std::make_unique<JsonAdapter>(registry, config);
}

std::unique_ptr<Adapter> MakeEchoAdapter(const Registry& registry) {
  return std::make_unique<EchoAdapter>(registry);
}

nlohmann::json SampleConfig() {
  return nlohmann::json::parse(kSampleConfigJson);
}

}  // namespace devhost
