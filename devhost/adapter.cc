// The json adapter answers from the compact configuration of config.h: a
// request becomes the same cells (one Wanted per request row, or one for the
// table node of a single instance), the table selects the entries that
// match, and the answer is their rendered texts joined.

#include "devhost/adapter.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "devhost/config.h"
#include "devhost/memory.h"
#include "devhost/values.h"

namespace devhost {

namespace {

using Parts = std::initializer_list<std::string_view>;

// `parts` joined, as a NUL-terminated text of `*size` bytes in a block of
// memory.h's (the adapters' only call into it), which the caller frees;
// null when out of memory.
template <typename List>
char* Joined(const List& parts, size_t* size) {
  size_t total = 0;
  for (std::string_view part : parts) total += part.size();
  auto* text = static_cast<char*>(TakeBlock(total + 1));
  if (text == nullptr) return nullptr;
  char* end = text;
  for (std::string_view part : parts) {
    std::memcpy(end, part.data(), part.size());
    end += part.size();
  }
  *end = '\0';
  *size = total;
  return text;
}

// The cell of the value a request column record carries, read by its MOR
// type code. IPv6 address texts are compared as addresses, so that any
// spelling of an address matches the configured one.
Cell CellOf(const tagGrpcColumn& column, const ConfigTable& table,
            PodArray<char>* pool) {
  const auto number = static_cast<uint8_t>(column.morId & 0xFF);
  const tagZormMorValue& slot = column.value;
  const std::string_view bytes(reinterpret_cast<const char*>(slot.bytes),
                               sizeof(slot.bytes));
  uint8_t ipv6[16];
  switch (column.typeCode) {
    case zorm_mor_value::kTypeU32:
    case zorm_mor_value::kTypeBool:
      return Cell::Number(number, slot.u32);
    case zorm_mor_value::kTypeU64:
      return Cell::Number(number, slot.u64);
    case zorm_mor_value::kTypeIPv4:
      return Cell::Bytes(number, CellKind::kBytes, bytes.substr(0, 4), pool);
    case zorm_mor_value::kTypeMAC:
      return Cell::Bytes(number, CellKind::kBytes, bytes.substr(0, 6), pool);
    case zorm_mor_value::kTypeString:
    case zorm_mor_value::kTypeName:
      if (table.IsIPv6(number) && ParseIPv6(TextOf(slot), ipv6)) {
        return Cell::Bytes(number, CellKind::kBytes,
                           {reinterpret_cast<char*>(ipv6), sizeof(ipv6)}, pool);
      }
      return Cell::Bytes(number, CellKind::kText, TextOf(slot), pool);
    default:
      return Cell{number};  // of no kind: matches nothing
  }
}

// What one request node asks for; sub-entries without values ask nothing.
Wanted WantedOf(const tagGrpcTableOrRow& node, const ConfigTable& table) {
  Wanted wanted;
  const auto add = [&](const tagGrpcColumn* c, std::vector<Cell>* cells) {
    for (; c != nullptr; c = c->next) {
      if (c->noValue != 1) cells->push_back(CellOf(*c, table, &wanted.pool));
    }
  };
  add(node.columnHead, &wanted.cells);
  for (const tagGrpcSubEntry* e = node.subHead; e != nullptr; e = e->next) {
    const auto first = static_cast<uint32_t>(wanted.subCells.size());
    add(e->columnHead, &wanted.subCells);
    const auto count = static_cast<uint32_t>(wanted.subCells.size() - first);
    if (count == 0) continue;
    const int sub = table.Sub(e->name != nullptr ? e->name : "");
    wanted.never = wanted.never || sub < 0;  // a list the table lacks
    if (sub < 0) continue;
    wanted.subs.push_back({static_cast<uint32_t>(sub), first, count});
  }
  return wanted;
}

class JsonAdapter : public Adapter {
 public:
  JsonAdapter(const Registry& registry, std::unique_ptr<Config> config)
      : registry_(registry), config_(std::move(config)) {}

  char* Answer(const tagGrpcTableOrRow* table, const char* /*module*/,
               size_t* size) const override {
    const RegTable* reg = registry_.TableOf(table->regNode);
    if (reg == nullptr) return nullptr;
    const auto it = config_->tables.find(reg);
    const ConfigTable* configured =
        it != config_->tables.end() ? it->second.get() : nullptr;
    return reg->row.empty() ? Instance(*table, *reg, configured, size)
                            : Rows(*table, *reg, configured, size);
  }

 private:
  // {"<Table>":{"<Row>":[...]}}: every configured row that one request row
  // or more selects, in configuration order, each once. A request without
  // rows selects all.
  char* Rows(const tagGrpcTableOrRow& node, const RegTable& reg,
             const ConfigTable* table, size_t* size) const {
    const std::string head = "{\"" + reg.name + "\":{\"" + reg.row + "\":[";
    std::vector<std::string_view> parts;
    parts.reserve(8);  // a small answer's: head, a few runs, tail
    parts.push_back(head);
    if (table != nullptr) {
      std::vector<Wanted> wanted;
      for (const tagGrpcTableOrRow* row = node.firstRow; row != nullptr;
           row = row->next) {
        wanted.push_back(WantedOf(*row, *table));
      }
      if (wanted.empty()) wanted.emplace_back();  // selects all
      std::vector<uint64_t> selected;
      if (!table->Select(wanted, &selected, giveUpFlag()) ||
          !AddRuns(selected, *table, &parts)) {
        return nullptr;
      }
    }
    parts.push_back("]}}");
    return Joined(parts, size);
  }

  // Adds to `parts` the texts of the runs of consecutive entries marked in
  // `selected`, in order, joined by commas; false when cancelled on the way.
  bool AddRuns(const std::vector<uint64_t>& selected, const ConfigTable& table,
               std::vector<std::string_view>* parts) const {
    const size_t none = parts->size();
    const auto add = [&](size_t first, size_t last) {
      if (parts->size() != none) parts->push_back(",");
      parts->push_back(table.Texts(first, last));
    };
    size_t first = 0, end = 0;  // the run [first, end), empty when equal
    for (size_t word = 0; word < selected.size(); ++word) {
      if ((word + 1) % (kCheckEvery / 64) == 0 && GivingUp()) return false;
      const size_t base = word * 64;
      uint64_t bits = selected[word];
      if (bits == ~uint64_t{0} && end == base) {
        end = base + 64;  // a whole word extends the run
        continue;
      }
      for (; bits != 0; bits &= bits - 1) {
        const size_t entry = base + static_cast<size_t>(__builtin_ctzll(bits));
        if (entry != end) {
          if (first != end) add(first, end - 1);
          first = entry;
        }
        end = entry + 1;
      }
    }
    if (first != end) add(first, end - 1);
    return true;
  }

  // {"<Table>":{...}} when the instance matches the table node's keys,
  // {"<Table>":{}} when it does not or is not configured.
  static char* Instance(const tagGrpcTableOrRow& node, const RegTable& reg,
                        const ConfigTable* table, size_t* size) {
    std::string_view body = "{}";
    if (table != nullptr && table->size() != 0 &&
        table->Matches(WantedOf(node, *table), 0)) {
      body = table->Text(0);
    }
    const std::string head = "{\"" + reg.name + "\":";
    return Joined(Parts{head, body, "}"}, size);
  }

  const Registry& registry_;
  const std::unique_ptr<const Config> config_;
};

using nlohmann::ordered_json;

// The echo adapter's tree JSON (adapter.h).
ordered_json ColumnValue(const tagGrpcColumn& column) {
  switch (column.typeCode) {
    case zorm_mor_value::kTypeU32:
    case zorm_mor_value::kTypeBool:
      return column.value.u32;
    case zorm_mor_value::kTypeU64:
      return column.value.u64;
    case zorm_mor_value::kTypeIPv4:
      return IPv4Of(column.value);
    case zorm_mor_value::kTypeString:
    case zorm_mor_value::kTypeName:
      return std::string(TextOf(column.value));
    case zorm_mor_value::kTypeMAC:
      return MACOf(column.value);
    default:
      return nullptr;
  }
}

ordered_json Columns(const tagGrpcColumn* column) {
  ordered_json list = ordered_json::array();
  for (; column != nullptr; column = column->next) {
    char id[11];
    std::snprintf(id, sizeof(id), "0x%08X", column->morId);
    const bool noValue = column->noValue == 1;
    list.push_back(
        {{"morId", id}, {"type", column->typeCode}, {"noValue", noValue}});
    if (!noValue) list.back()["value"] = ColumnValue(*column);
  }
  return list;
}

ordered_json Node(const tagGrpcTableOrRow& node) {
  const bool table = node.kind == zorm_mor_value::kTableNode;
  ordered_json subs = ordered_json::array();
  for (const tagGrpcSubEntry* e = node.subHead; e != nullptr; e = e->next) {
    subs.push_back({{"name", e->name != nullptr ? e->name : ""},
                    {"columns", Columns(e->columnHead)}});
  }
  ordered_json n = {{"kind", table ? "table" : "row"},
                    {"columns", Columns(node.columnHead)},
                    {"subEntries", std::move(subs)}};
  if (!table) return n;
  ordered_json& rows = n["rows"] = ordered_json::array();
  for (const tagGrpcTableOrRow* r = node.firstRow; r != nullptr; r = r->next) {
    rows.push_back(Node(*r));
  }
  return n;
}

class EchoAdapter : public Adapter {
 public:
  explicit EchoAdapter(const Registry& registry) : registry_(registry) {}

  char* Answer(const tagGrpcTableOrRow* table, const char* module,
               size_t* size) const override {
    const RegTable* reg = registry_.TableOf(table->regNode);
    const ordered_json answer = {
        {"module", module != nullptr ? module : ""},
        {"table", reg != nullptr ? ordered_json(reg->name) : ordered_json()},
        {"tree", Node(*table)}};
    if (GivingUp()) return nullptr;
    const std::string text =
        answer.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
    return Joined(Parts{text}, size);
  }

 private:
  const Registry& registry_;
};

class FixedAdapter : public Adapter {
 public:
  explicit FixedAdapter(std::string answer) : answer_(std::move(answer)) {}

  char* Answer(const tagGrpcTableOrRow* /*table*/, const char* /*module*/,
               size_t* size) const override {
    return Joined(Parts{answer_}, size);
  }

 private:
  const std::string answer_;
};

}  // namespace

std::unique_ptr<Adapter> MakeJsonAdapter(const Registry& registry,
                                         std::unique_ptr<Config> config) {
  return std::make_unique<JsonAdapter>(registry, std::move(config));
}

std::unique_ptr<Adapter> MakeEchoAdapter(const Registry& registry) {
  return std::make_unique<EchoAdapter>(registry);
}

std::unique_ptr<Adapter> MakeFixedAdapter(std::string answer) {
  return std::make_unique<FixedAdapter>(std::move(answer));
}

}  // namespace devhost
