#include "devhost/config.h"

#include <fcntl.h>
#include <simdjson.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "devhost/checks.h"
#include "tree/tree.h"

namespace devhost {
namespace {

namespace mv = zorm_mor_value;
namespace od = simdjson::ondemand;
using simdjson::error_code;
using Keys = std::unordered_set<std::string_view>;

constexpr char kNotJson[] = "configuration is not valid JSON: ";
constexpr char kDoesNotFit[] = "configuration does not fit the registry: ";
constexpr char kCannotRead[] = "cannot read ";
constexpr char kTooDeep[] = "containers nested more than 64 deep";
constexpr char kUnsigned[] = "expected an unsigned whole number";
constexpr char kBool[] = "expected true or false";
constexpr size_t kMaxDepth = 64;
constexpr size_t kReportEvery = size_t{1} << 20;  // bytes between reports
constexpr size_t kReadChunk = size_t{1} << 16;

// `text` (valid UTF-8: the parser checked it) as a JSON string literal.
std::string Quoted(std::string_view text) {
  return nlohmann::json(std::string(text)).dump();
}

// Throws "cannot read PATH: REASON" for errno, closing `fd` (unless -1).
[[noreturn]] void CannotRead(const std::string& path, int fd) {
  const int error = errno;
  if (fd >= 0) close(fd);
  throw std::runtime_error(kCannotRead + path + ": " + std::strerror(error));
}

struct Unmap {
  size_t length;
  void operator()(char* map) const { munmap(map, length); }
};

// Where the parser's first pass found a fault, which it does not tell: in
// a text that is not UTF-8, near the first byte that is not; else at the
// first string that holds a control character or does not end.
size_t FirstPassFault(std::string_view text, error_code error) {
  if (error == simdjson::UTF8_ERROR) {
    size_t good = 0, bad = text.size();  // a valid and an invalid prefix
    while (bad - good > 4) {
      size_t mid = good + (bad - good) / 2;
      while (mid > good && (text[mid] & 0xC0) == 0x80) --mid;
      if (mid == good) break;
      (simdjson::validate_utf8(text.data(), mid) ? good : bad) = mid;
    }
    return good;
  }
  size_t quote = text.size();
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (quote == text.size()) {
      if (c == '"') quote = i;
    } else if (c == '\\') {
      ++i;
    } else if (c == '"') {
      quote = text.size();
    } else if (c < 0x20) {
      return i;
    }
  }
  return quote;
}

// A name a configuration may use in a registry table, at the entry level
// (columns, and nested lists at their first column) or within a nested
// list, with the registry place that orders the answer's keys.
struct Slot {
  const RegColumn* column;  // null for a nested list
  int sub;                  // a nested list's ConfigTable::Sub
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
  for (uint16_t i = 0; i < reg.columns.size(); ++i) {
    const RegColumn& c = reg.columns[i];
    if (c.sub.empty()) {
      shape.entry[c.name] = Slot{&c, -1, i};  // wins over a list's name
      continue;
    }
    const int sub = table.Sub(c.sub);
    if (shape.subs.size() <= static_cast<size_t>(sub)) {
      shape.subs.resize(sub + 1);
    }
    shape.subs[sub].emplace(c.name, Slot{&c, sub, i});
    shape.entry.emplace(c.sub, Slot{nullptr, sub, i});
  }
  return shape;
}

// One step of the place being read: an object's member or an array's
// element.
struct Step {
  bool array;
  size_t index;
  std::string_view key;
  bool list = false;  // a member that is an entry's nested list
};
using Path = std::vector<Step>;

std::string PointerOf(const Path& path) {
  std::string out;
  for (const Step& step : path) {
    out.push_back('/');
    if (step.array) out.append(std::to_string(step.index));
    for (const char c : step.key) {
      out.append(c == '~' ? "~0" : c == '/' ? "~1" : std::string(1, c));
    }
  }
  return out;
}

// One object's members as they are read, reused from object to object: the
// keys met (the registry places of known ones, the others by name), the
// cells, and each member rendered, with its place, to be put in order.
struct Scratch {
  struct Piece {
    uint16_t place;
    size_t begin, size;  // in text
  };

  std::vector<uint16_t> places;
  Keys unknown;
  std::vector<Cell> cells;
  std::string text;
  std::vector<Piece> pieces;

  void Clear() {
    places.clear();
    if (!unknown.empty()) unknown.clear();
    cells.clear();
    text.clear();
    pieces.clear();
  }
  // Appends '{' + the pieces in registry order + '}' to `out` (a
  // std::string or a PodArray<char>).
  template <typename Out>
  void AppendInOrder(Out* out) {
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& a, const Piece& b) { return a.place < b.place; });
    out->push_back('{');
    for (size_t i = 0; i < pieces.size(); ++i) {
      if (i > 0) out->push_back(',');
      out->append(text.data() + pieces[i].begin, pieces[i].size);
    }
    out->push_back('}');
  }
};

// The one pass over a configuration text; reports to `done` every
// kReportEvery bytes.
class Reader {
 public:
  Reader(const Registry& registry, simdjson::padded_string_view text,
         const std::function<void(size_t)>& done)
      : registry_(registry), text_(text), done_(done) {}

  std::unique_ptr<Config> Read() {
    if (const error_code e = parser_.iterate(text_).get(doc_)) {
      const size_t at = FirstPassFault(text_, e);
      FailAt(at, simdjson::error_message(e), PointerAt(at));
    }
    auto config = std::make_unique<Config>();
    od::object tables;
    if (Get(doc_.type()) != od::json_type::object) {
      Problem("expected an object of tables");
    } else if (const error_code e = doc_.get_object().get(tables)) {
      // The top value does not end.
      FailAt(text_.size(), simdjson::error_message(e), "");
    } else {
      Members(tables, true, [&](std::string_view name, od::value& value) {
        const RegTable* reg = registry_.Table(std::string(name));
        if (reg == nullptr) {
          Refuse(value, "unknown table " + Quoted(name));
        } else {
          auto& table = config->tables[reg];  // a key comes once
          table = std::make_unique<ConfigTable>(*reg);
          ReadTable(*reg, table.get(), value);
        }
      });
      if (Offset() != text_.size()) Fail("more text after the top value");
    }
    if (problemCount_ == 0) return config;
    std::string message = kDoesNotFit;
    for (const auto& [order, problem] : problems_) {
      message += (message == kDoesNotFit ? "" : "; ") + problem;
    }
    if (problemCount_ > problems_.size()) {
      message +=
          "; and " + std::to_string(problemCount_ - problems_.size()) + " more";
    }
    throw std::runtime_error(message);
  }

 private:
  size_t Offset() {
    const char* at = nullptr;
    if (doc_.current_location().get(at) != simdjson::SUCCESS) {
      return text_.size();
    }
    return static_cast<size_t>(at - text_.data());
  }

  [[noreturn]] void Fail(const std::string& what) {
    FailAt(Offset(), what, PointerOf(path_));
  }

  [[noreturn]] void FailAt(size_t offset, const std::string& what,
                           const std::string& pointer) const {
    const std::string_view before(text_.data(), std::min(offset, text_.size()));
    const size_t line = 1 + std::count(before.begin(), before.end(), '\n');
    size_t column = 1;  // in characters
    for (size_t i = before.rfind('\n') + 1; i < before.size(); ++i) {
      column += (before[i] & 0xC0) != 0x80;
    }
    std::string message =
        "line " + std::to_string(line) + ", column " + std::to_string(column);
    if (!pointer.empty()) message += ", at " + pointer;
    throw std::runtime_error(kNotJson + message + ": " + what);
  }

  // The JSON pointer of the value at `offset`, where the parser's first
  // pass found a fault: where reading the text before it, a string there
  // closed, runs out.
  std::string PointerAt(size_t offset) const {
    const simdjson::padded_string before(std::string(text_.substr(0, offset)) +
                                         '"');
    Reader reader(registry_, before, nullptr);
    try {
      if (reader.parser_.iterate(before).get(reader.doc_) ==
          simdjson::SUCCESS) {
        od::value top = reader.Get(reader.doc_.get_value());
        reader.Skip(top);
      }
    } catch (const std::runtime_error&) {
    }
    return PointerOf(reader.path_);
  }

  template <typename T>
  T Get(simdjson::simdjson_result<T>&& result) {
    T value;
    if (const error_code e = std::move(result).get(value)) {
      Fail(simdjson::error_message(e));
    }
    return value;
  }

  // A string value decoded; a fault in it is placed at its start.
  std::string_view StringOf(od::value& value) {
    const char* at = value.raw_json_token().data();
    std::string_view text;
    if (const error_code e = value.get_string().get(text)) {
      FailAt(static_cast<size_t>(at - text_.data()), simdjson::error_message(e),
             PointerOf(path_));
    }
    return text;
  }

  // Adds a problem at the current place, keeping the kMaxProblems first in
  // the order of places: a text whose byte order is theirs, per level an
  // index as 8 big-endian bytes or a key behind a byte that puts nested
  // lists after the entry's columns. Returns false.
  bool Problem(const std::string& what) {
    std::string order;
    for (const Step& step : path_) {
      for (int shift = 56; step.array && shift >= 0; shift -= 8) {
        order.push_back(static_cast<char>(step.index >> shift));
      }
      if (step.array) continue;
      order.push_back(step.list ? '\1' : '\0');
      order.append(step.key);
      order.push_back('\0');
    }
    const std::string place = path_.empty() ? "/" : PointerOf(path_);
    problems_.emplace(std::move(order), place + ": " + what);
    if (problems_.size() > kMaxProblems) {
      problems_.erase(std::prev(problems_.end()));
    }
    ++problemCount_;
    return false;
  }
  // The same, and reads past `value`.
  bool Refuse(od::value& value, const std::string& what) {
    Problem(what);
    Skip(value);
    return false;
  }

  // REQUIRES: `key` is the key just read.
  [[noreturn]] void Twice(std::string_view key) const {
    FailAt(keyAt_, "the key " + Quoted(key) + " appears twice in one object",
           PointerOf(path_));
  }

  // Calls f(key, value) for every member of `object`, the key being the
  // last step of the place. Refuses a key twice when `unique`.
  template <typename F>
  void Members(od::object object, bool unique, F f) {
    Keys keys;
    bool stepped = false;
    for (auto member : object) {
      od::field field = Get(std::move(member));
      // The key as written when it has no escapes (most do), else decoded.
      const char* raw = field.key().raw();
      keyAt_ = static_cast<size_t>(raw - 1 - text_.data());
      std::string_view key(raw, static_cast<size_t>(text_.end() - raw));
      key = key.substr(0, key.find('"'));
      if (key.find('\\') != std::string_view::npos) {
        key = Get(field.unescaped_key());
      }
      if (!std::exchange(stepped, true)) path_.emplace_back();
      path_.back() = Step{false, 0, key};
      if (unique && !keys.insert(key).second) Twice(key);
      f(key, field.value());
    }
    if (stepped) path_.pop_back();
  }

  // Calls f(value) for every element of `array`, its index being the last
  // step of the place.
  template <typename F>
  void Elements(od::array array, F f) {
    size_t index = 0;
    for (auto element : array) {
      od::value value = Get(std::move(element));
      if (index == 0) path_.emplace_back();
      path_.back() = Step{true, index++, {}};
      f(value);
    }
    if (index != 0) path_.pop_back();
  }

  // Reads past `value`, checking it as strictly as what is read.
  void Skip(od::value& value) {
    switch (Get(value.type())) {
      case od::json_type::object:
        if (path_.size() >= kMaxDepth) Fail(kTooDeep);
        Members(Get(value.get_object()), true,
                [this](std::string_view, od::value& v) { Skip(v); });
        break;
      case od::json_type::array:
        if (path_.size() >= kMaxDepth) Fail(kTooDeep);
        Elements(Get(value.get_array()), [this](od::value& v) { Skip(v); });
        break;
      case od::json_type::string:
        StringOf(value);
        break;
      case od::json_type::number:
        Get(value.get_double());
        break;
      case od::json_type::boolean:
        Get(value.get_bool());
        break;
      case od::json_type::null:
        if (!Get(value.is_null())) Fail("expected null");
        break;
    }
  }

  void ReadTable(const RegTable& reg, ConfigTable* table, od::value& value) {
    const Shape shape = ShapeOf(reg, *table);
    if (reg.row.empty()) {
      ReadEntry(shape, table, value);
    } else if (Get(value.type()) != od::json_type::object) {
      Refuse(value, "expected {" + Quoted(reg.row) + ": [...]}");
    } else {
      Members(Get(value.get_object()), true,
              [&](std::string_view key, od::value& rows) {
                if (key != reg.row) {
                  Refuse(rows, "unknown row " + Quoted(key) + " (" + reg.name +
                                   " has rows " + Quoted(reg.row) + ")");
                } else if (Get(rows.type()) != od::json_type::array) {
                  Refuse(rows, "expected a list of rows");
                } else {
                  Elements(Get(rows.get_array()), [&](od::value& entry) {
                    ReadEntry(shape, table, entry);
                  });
                }
              });
    }
    table->Finish();
  }

  // The members of object `value` onto `scratch` by `names`, those of an
  // element of nested list `list` ("" for an entry). False when `value` is
  // not an object.
  bool ReadMembers(const Shape& shape, const Names& names,
                   std::string_view list, od::value& value, ConfigTable* table,
                   Scratch* scratch) {
    if (Get(value.type()) != od::json_type::object) {
      return Refuse(value, "expected an object");
    }
    scratch->Clear();
    std::string& text = scratch->text;
    Members(
        Get(value.get_object()), false,
        [&](std::string_view key, od::value& member) {
          auto it = names.find(key);
          if (it == names.end()) {
            if (!scratch->unknown.insert(key).second) Twice(key);
            std::string of = shape.reg->name;
            if (!list.empty()) of += "/" + std::string(list);
            Refuse(member, "unknown column " + Quoted(key) + " of " + of);
            return;
          }
          const Slot& slot = it->second;
          std::vector<uint16_t>& places = scratch->places;
          if (std::find(places.begin(), places.end(), slot.place) !=
              places.end()) {
            Twice(key);
          }
          places.push_back(slot.place);
          const size_t begin = text.size();
          text.push_back('"');
          text.append(key);  // a registry name: letters, digits and '_'
          text.append("\":");
          path_.back().list = slot.column == nullptr;
          const bool read =
              slot.column != nullptr
                  ? ReadValue(*slot.column, member, scratch, table->pool())
                  : ReadList(shape, slot.sub, key, member, table);
          if (read) {
            scratch->pieces.push_back({slot.place, begin, text.size() - begin});
          } else {
            text.resize(begin);
          }
        });
    return true;
  }

  // A row or an instance.
  void ReadEntry(const Shape& shape, ConfigTable* table, od::value& value) {
    if (!ReadMembers(shape, shape.entry, "", value, table, &entry_)) return;
    entry_.AppendInOrder(table->text());
    table->EndEntry(entry_.cells.data(), entry_.cells.size());
    const size_t offset = done_ ? Offset() : 0;
    if (offset - reported_ >= kReportEvery && offset < text_.size()) {
      reported_ = offset;
      done_(reported_);
    }
  }

  // A nested list of the entry being read, rendered onto its text.
  bool ReadList(const Shape& shape, int sub, std::string_view name,
                od::value& value, ConfigTable* table) {
    if (Get(value.type()) != od::json_type::array) {
      return Refuse(value, "expected a list of " + std::string(name));
    }
    std::string& text = entry_.text;
    text.push_back('[');
    Elements(Get(value.get_array()), [&](od::value& element) {
      const size_t begin = text.size();
      if (text.back() != '[') text.push_back(',');
      if (!ReadMembers(shape, shape.subs[static_cast<size_t>(sub)], name,
                       element, table, &element_)) {
        text.resize(begin);
        return;
      }
      element_.AppendInOrder(&text);
      table->AddElement(static_cast<uint16_t>(sub), element_.cells.data(),
                        element_.cells.size());
    });
    text.push_back(']');
    return true;
  }

  // Reads the value of `column` as a cell onto `scratch` and renders it onto
  // its text; false, with a problem, when it does not fit.
  bool ReadValue(const RegColumn& column, od::value& value, Scratch* scratch,
                 PodArray<char>* pool) {
    const od::json_type type = Get(value.type());
    const bool boolean = column.type == mv::kTypeBool;
    if (!boolean && column.type != mv::kTypeU32 &&
        column.type != mv::kTypeU64) {
      if (type != od::json_type::string) {
        return Refuse(value, "expected a string");
      }
      return ReadText(column, value, scratch, pool);
    }
    const char* expected = boolean ? kBool : kUnsigned;
    const bool jsonBool = type == od::json_type::boolean;
    uint64_t n = 0;
    if (boolean && jsonBool) {
      n = Get(value.get_bool()) ? 1 : 0;
    } else if (type != od::json_type::number) {
      return Refuse(value, expected);
    } else if (value.get_uint64().get(n) != simdjson::SUCCESS) {
      int64_t i = 1;
      if (value.get_int64().get(i) != simdjson::SUCCESS) {
        Get(value.get_double());  // a number at all?
      }
      if (boolean || i != 0) return Problem(expected);  // -0 is whole
    }
    char buffer[20];
    const std::string_view digits(
        buffer, std::to_chars(buffer, buffer + sizeof buffer, n).ptr - buffer);
    uint8_t unused[16];
    size_t size;
    if (const auto why = JudgeValue(column, digits, unused, &size)) {
      return Problem(boolean ? kBool : "expected " + *why);
    }
    scratch->cells.push_back(Cell::Number(column.number, n));
    scratch->text.append(jsonBool ? (n != 0 ? "true" : "false") : digits);
    return true;
  }

  // Strings, and the addresses written as strings.
  bool ReadText(const RegColumn& column, od::value& value, Scratch* scratch,
                PodArray<char>* pool) {
    // The string as written (the token may end in white space), and what
    // it says: itself between the quotes unless it has escapes, which the
    // answer writes only where JSON needs them.
    std::string_view written = value.raw_json_token();
    written = written.substr(0, written.rfind('"') + 1);
    std::string_view text = written.substr(1, written.size() - 2);
    std::string requoted;
    if (text.find('\\') == std::string_view::npos) {
      Get(value.get_raw_json_string());
    } else {
      text = StringOf(value);
      requoted = Quoted(text);
      written = requoted;
    }
    uint8_t bytes[16];
    size_t size;
    if (const auto why = JudgeValue(column, text, bytes, &size)) {
      return Problem("expected " + *why);
    }
    const std::string_view cell =
        size == 0 ? text
                  : std::string_view(reinterpret_cast<char*>(bytes), size);
    if (cell.size() > Cell::kMaxSize) {
      return Problem("expected at most " + std::to_string(Cell::kMaxSize) +
                     " bytes");
    }
    scratch->cells.push_back(Cell::Bytes(
        column.number, size == 0 ? CellKind::kText : CellKind::kBytes, cell,
        pool));
    scratch->text.append(written);
    return true;
  }

  const Registry& registry_;
  const simdjson::padded_string_view text_;
  const std::function<void(size_t)> done_;
  od::parser parser_;
  od::document doc_;
  size_t keyAt_ = 0;  // offset of the key just read
  size_t reported_ = 0;
  Path path_;
  std::multimap<std::string, std::string> problems_;  // order, message
  size_t problemCount_ = 0;
  Scratch entry_, element_;
};

}  // namespace

std::unique_ptr<Config> LoadConfig(const Registry& registry,
                                   std::string_view text) {
  return Reader(registry, simdjson::padded_string(text), nullptr).Read();
}

std::unique_ptr<Config> LoadConfigFile(const Registry& registry,
                                       const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) CannotRead(path, fd);
  if (!S_ISREG(info.st_mode) || info.st_size == 0) {
    // Not a regular file (a pipe, say): read whole.
    std::string text;
    char buffer[kReadChunk];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
      if (n < 0 && errno != EINTR) CannotRead(path, fd);
      if (n > 0) text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return LoadConfig(registry, text);
  }
  // The file over zero pages that pad it for the parser, populated at once
  // (cheaper than a fault per page as the parse goes). The pages the
  // reading has passed go back as it reports its progress, so that the
  // file never lies whole in memory.
  const auto size = static_cast<size_t>(info.st_size);
  const size_t length = size + simdjson::SIMDJSON_PADDING;
  void* map =
      mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) CannotRead(path, fd);
  const std::unique_ptr<char, Unmap> owned(static_cast<char*>(map),
                                           Unmap{length});
  if (mmap(map, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd,
           0) == MAP_FAILED) {
    CannotRead(path, fd);
  }
  close(fd);
  madvise(map, size, MADV_SEQUENTIAL);
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const auto forget = [map, page](size_t done) {
    madvise(map, done / page * page, MADV_DONTNEED);
  };
  const simdjson::padded_string_view text(owned.get(), size, length);
  return Reader(registry, text, forget).Read();
}

}  // namespace devhost
