#include "devhost/config_reader.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "devhost/config_json.h"
#include "devhost/values.h"
#include "tree/tree.h"

namespace devhost {
namespace {

constexpr char kNotJson[] = "configuration is not valid JSON: ";
constexpr char kDoesNotFit[] = "configuration does not fit the registry: ";
constexpr int kNoLevel = -1;
// Bytes read between reports of progress.
constexpr size_t kReportEvery = size_t{8} << 20;

// What a configuration is checked against, per registry table: its names
// at the entry level (columns and nested lists) and within each nested
// list, with the registry place that orders the answer's keys.
struct Slot {
  const RegColumn* column;  // null for a nested list
  int sub;                  // ConfigTable::Sub of a nested list or its column
  uint16_t place;           // index in the registry's columns
};
using Names = std::unordered_map<std::string_view, Slot>;

struct Shape {
  const RegTable* reg = nullptr;
  Names entry;
  std::vector<Names> subs;  // by ConfigTable::Sub
};

Shape ShapeOf(const RegTable& reg, const ConfigTable& table) {
  Shape shape;
  shape.reg = &reg;
  const auto& columns = reg.columns;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].sub.empty()) {
      shape.entry.emplace(columns[i].name,
                          Slot{&columns[i], -1, static_cast<uint16_t>(i)});
    }
  }
  for (size_t i = 0; i < columns.size(); ++i) {
    const RegColumn& c = columns[i];
    if (c.sub.empty()) continue;
    const int sub = table.Sub(c.sub);
    if (shape.subs.size() <= static_cast<size_t>(sub)) shape.subs.resize(sub + 1);
    const auto place = static_cast<uint16_t>(i);
    shape.subs[sub].emplace(c.name, Slot{&c, sub, place});
    // A nested list sits at its first column; a column of the same name
    // at the entry level wins.
    shape.entry.emplace(c.sub, Slot{nullptr, sub, place});
  }
  return shape;
}

// Collects what is wrong with a configuration; keeps the kMaxProblems
// first in key order and counts the rest.
class Problems {
 public:
  // Adds `what` at the cursor's place. At level `listLevel` (or none) the
  // member is a nested list, which orders after the entry's columns.
  void Add(const JsonCursor& cursor, const std::string& what, int listLevel) {
    std::string place = cursor.Pointer();
    if (place.empty()) place = "/";
    kept_.emplace_back(OrderOf(cursor, listLevel), place + ": " + what);
    ++count_;
    if (kept_.size() >= 2 * kMaxProblems) Trim();
  }

  void ThrowIfAny() {
    if (count_ == 0) return;
    Trim();
    std::string message = kDoesNotFit;
    for (size_t i = 0; i < kept_.size(); ++i) {
      if (i > 0) message += "; ";
      message += kept_[i].second;
    }
    if (count_ > kept_.size()) {
      message += "; and " + std::to_string(count_ - kept_.size()) + " more";
    }
    throw std::runtime_error(message);
  }

 private:
  // A text whose byte order is the order of places: per level, an index as
  // 8 big-endian bytes, or a key behind a byte that puts nested lists last.
  static std::string OrderOf(const JsonCursor& cursor, int listLevel) {
    std::string order;
    for (size_t level = 0; level < cursor.depth() && cursor.HasMember(level);
         ++level) {
      if (cursor.IsArray(level)) {
        const uint64_t index = cursor.Index(level);
        for (int shift = 56; shift >= 0; shift -= 8) {
          order.push_back(static_cast<char>(index >> shift));
        }
      } else {
        order.push_back(static_cast<int>(level) == listLevel ? '\1' : '\0');
        order.append(cursor.Key(level));
        order.push_back('\0');
      }
    }
    return order;
  }

  void Trim() {
    std::sort(kept_.begin(), kept_.end());
    if (kept_.size() > kMaxProblems) kept_.resize(kMaxProblems);
  }

  std::vector<std::pair<std::string, std::string>> kept_;  // order, message
  size_t count_ = 0;
};

// One rendered member of an entry or element: its registry place and its
// bytes in the text being built.
struct Piece {
  uint16_t place;
  size_t begin, size;
};

void AppendKey(const std::string& name, std::string* out) {
  out->push_back('"');
  out->append(name);  // registry names are letters, digits and '_'
  out->append("\":");
}

// Appends '{' + `pieces` of `text` in registry order + '}' to `out` (a
// std::string or a PodArray<char>).
template <typename Out>
void AppendInOrder(std::vector<Piece>* pieces, const std::string& text,
                   Out* out) {
  // Configured keys mostly come in registry order already.
  for (size_t i = 1; i < pieces->size(); ++i) {
    for (size_t j = i; j > 0 && (*pieces)[j - 1].place > (*pieces)[j].place;
         --j) {
      std::swap((*pieces)[j - 1], (*pieces)[j]);
    }
  }
  out->push_back('{');
  for (size_t i = 0; i < pieces->size(); ++i) {
    if (i > 0) out->push_back(',');
    out->append(text.data() + (*pieces)[i].begin, (*pieces)[i].size);
  }
  out->push_back('}');
}

// The one pass over a configuration text.
class Reader {
 public:
  Reader(const Registry& registry, std::string_view text,
         const std::function<void(size_t)>& done)
      : registry_(registry), cursor_(text), done_(done) {}

  std::unique_ptr<Config> Read() {
    auto config = std::make_unique<Config>();
    if (cursor_.Peek() != JsonType::kObject) {
      Problem("expected an object of tables");
      problems_.ThrowIfAny();
    }
    cursor_.EnterObject();
    std::string_view name;
    while (cursor_.NextKey(&name)) {
      const RegTable* reg = registry_.Table(std::string(name));
      if (reg == nullptr) {
        Refuse("unknown table " + Quoted(name));
      } else {
        ReadTable(*reg, config->Add(*reg));
      }
    }
    cursor_.Finish();
    problems_.ThrowIfAny();
    return config;
  }

 private:
  // Adds a problem at the cursor's place; returns false.
  bool Problem(const std::string& what) {
    problems_.Add(cursor_, what, listLevel_);
    return false;
  }
  // The same, and skips the value at the place.
  bool Refuse(const std::string& what) {
    Problem(what);
    cursor_.Skip();
    return false;
  }

  void ReadTable(const RegTable& reg, ConfigTable* table) {
    const Shape shape = ShapeOf(reg, *table);
    ConfigBuilder builder(table);
    if (reg.row.empty()) {
      ReadEntry(shape, &builder);
    } else if (cursor_.Peek() != JsonType::kObject) {
      Refuse("expected {" + Quoted(reg.row) + ": [...]}");
    } else {
      cursor_.EnterObject();
      std::string_view key;
      while (cursor_.NextKey(&key)) {
        if (key != reg.row) {
          Refuse("unknown row " + Quoted(key) + " (" + reg.name +
                 " has rows " + Quoted(reg.row) + ")");
        } else if (cursor_.Peek() != JsonType::kArray) {
          Refuse("expected a list of rows");
        } else {
          cursor_.EnterArray();
          while (cursor_.NextElement()) ReadEntry(shape, &builder);
        }
      }
    }
    builder.Finish();
  }

  // A row or an instance.
  void ReadEntry(const Shape& shape, ConfigBuilder* builder) {
    if (cursor_.Peek() != JsonType::kObject) {
      Refuse("expected an object");
      return;
    }
    const int level = static_cast<int>(cursor_.depth());
    cursor_.EnterObject();
    cells_.clear();
    text_.clear();
    pieces_.clear();
    std::string_view key;
    while (cursor_.NextKey(&key)) {
      auto it = shape.entry.find(key);
      if (it == shape.entry.end()) {
        Refuse("unknown column " + Quoted(key) + " of " + shape.reg->name);
        continue;
      }
      const Slot& slot = it->second;
      const size_t begin = text_.size();
      bool read;
      if (slot.column != nullptr) {
        AppendKey(slot.column->name, &text_);
        read = ReadValue(*slot.column, &cells_, &text_, builder->pool());
      } else {
        listLevel_ = level;
        read = ReadList(shape, slot.sub, key, builder);
        listLevel_ = kNoLevel;
      }
      if (read) {
        pieces_.push_back(Piece{slot.place, begin, text_.size() - begin});
      } else {
        text_.resize(begin);
      }
    }
    AppendInOrder(&pieces_, text_, builder->text());
    builder->EndEntry(cells_.data(), cells_.size());
    if (done_ && cursor_.offset() - reported_ >= kReportEvery) {
      reported_ = cursor_.offset();
      done_(reported_);
    }
  }

  // A nested list, rendered onto text_.
  bool ReadList(const Shape& shape, int sub, std::string_view name,
                ConfigBuilder* builder) {
    if (cursor_.Peek() != JsonType::kArray) {
      return Refuse("expected a list of " + std::string(name));
    }
    AppendKey(std::string(name), &text_);
    text_.push_back('[');
    builder->BeginList(static_cast<uint32_t>(sub));
    cursor_.EnterArray();
    bool first = true;
    while (cursor_.NextElement()) {
      if (cursor_.Peek() != JsonType::kObject) {
        Refuse("expected an object");
        continue;
      }
      if (!first) text_.push_back(',');
      first = false;
      ReadElement(shape, sub, name, builder);
    }
    text_.push_back(']');
    return true;
  }

  void ReadElement(const Shape& shape, int sub, std::string_view list,
                   ConfigBuilder* builder) {
    cursor_.EnterObject();
    elementCells_.clear();
    elementText_.clear();
    elementPieces_.clear();
    const Names& names = shape.subs[static_cast<size_t>(sub)];
    std::string_view key;
    while (cursor_.NextKey(&key)) {
      auto it = names.find(key);
      if (it == names.end()) {
        Refuse("unknown column " + Quoted(key) + " of " + shape.reg->name +
               "/" + std::string(list));
        continue;
      }
      const size_t begin = elementText_.size();
      AppendKey(it->second.column->name, &elementText_);
      if (ReadValue(*it->second.column, &elementCells_, &elementText_,
                    builder->pool())) {
        elementPieces_.push_back(
            Piece{it->second.place, begin, elementText_.size() - begin});
      } else {
        elementText_.resize(begin);
      }
    }
    AppendInOrder(&elementPieces_, elementText_, &text_);
    builder->AddElement(elementCells_.data(), elementCells_.size());
  }

  // Reads the value of `column` as a cell onto `cells` and renders it onto
  // `out`; false, with a problem, when it does not fit.
  bool ReadValue(const RegColumn& column, std::vector<Cell>* cells,
                 std::string* out, PodArray<char>* pool) {
    const JsonType type = cursor_.Peek();
    switch (column.type) {
      case zorm_mor_value::kTypeU32:
      case zorm_mor_value::kTypeU64: {
        constexpr char kUnsigned[] = "expected an unsigned whole number";
        if (type != JsonType::kNumber) return Refuse(kUnsigned);
        const JsonNumber n = cursor_.ReadNumber();
        // -0 is a whole number too, written 0.
        if (!n.whole || (n.negative && n.magnitude != 0)) {
          return Problem(kUnsigned);
        }
        if (column.type == zorm_mor_value::kTypeU32 &&
            n.magnitude > UINT32_MAX) {
          return Problem("expected a number below 2^32");
        }
        cells->push_back(Cell::Number(column.number, n.magnitude));
        out->append(n.negative ? "0" : n.written);
        return true;
      }
      case zorm_mor_value::kTypeBool: {
        constexpr char kBool[] = "expected true or false";
        if (type == JsonType::kBool) {
          const bool b = cursor_.ReadBool();
          cells->push_back(Cell::Number(column.number, b ? 1 : 0));
          out->append(b ? "true" : "false");
          return true;
        }
        if (type != JsonType::kNumber) return Refuse(kBool);
        const JsonNumber n = cursor_.ReadNumber();
        if (!n.whole || n.negative || n.magnitude > 1) return Problem(kBool);
        cells->push_back(Cell::Number(column.number, n.magnitude));
        out->append(n.written);
        return true;
      }
      default:
        if (type != JsonType::kString) return Refuse("expected a string");
        return ReadText(column, cells, out, pool);
    }
  }

  // Strings, and the addresses written as strings.
  bool ReadText(const RegColumn& column, std::vector<Cell>* cells,
                std::string* out, PodArray<char>* pool) {
    const JsonString s = cursor_.ReadString();
    uint8_t bytes[16];
    std::string_view value;
    CellKind kind = CellKind::kBytes;
    switch (column.type) {
      case zorm_mor_value::kTypeIPv4:
        if (!ParseIPv4(s.text, bytes)) {
          return Problem("expected a dotted IPv4 address");
        }
        value = std::string_view(reinterpret_cast<char*>(bytes), 4);
        break;
      case zorm_mor_value::kTypeMAC:
        if (!ParseMAC(s.text, bytes)) {
          return Problem("expected a MAC address such as 00-1a-2b-3c-4d-5e");
        }
        value = std::string_view(reinterpret_cast<char*>(bytes), 6);
        break;
      case zorm_mor_value::kTypeString:
      case zorm_mor_value::kTypeName:
        if (column.format != "ipv6") {
          kind = CellKind::kText;
          value = s.text;
        } else if (ParseIPv6(s.text, bytes)) {
          value = std::string_view(reinterpret_cast<char*>(bytes), 16);
        } else {
          return Problem("expected an IPv6 address");
        }
        break;
      default:
        return Problem("column type " + std::to_string(column.type) +
                       " is not supported");
    }
    cells->push_back(Cell::Bytes(column.number, kind, value, pool));
    if (s.escaped) {
      AppendQuoted(s.text, out);
    } else {
      out->push_back('"');
      out->append(s.text);
      out->push_back('"');
    }
    return true;
  }

  const Registry& registry_;
  JsonCursor cursor_;
  const std::function<void(size_t)>& done_;
  size_t reported_ = 0;
  Problems problems_;
  int listLevel_ = kNoLevel;  // level of the entry whose list is being read
  // Reused from entry to entry.
  std::vector<Cell> cells_, elementCells_;
  std::string text_, elementText_;
  std::vector<Piece> pieces_, elementPieces_;
};

}  // namespace

std::unique_ptr<Config> LoadConfig(const Registry& registry,
                                   std::string_view text,
                                   const std::function<void(size_t)>& done) {
  try {
    return Reader(registry, text, done).Read();
  } catch (const JsonError& e) {
    throw std::runtime_error(kNotJson + std::string(e.what()));
  }
}

}  // namespace devhost
