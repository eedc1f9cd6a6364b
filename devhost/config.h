// The device configuration in the compact form the json adapter answers
// from. Each configured row of a table (or the instance of a
// single-instance table) is an Entry:
//
//   answer text  rendered once, keys in registry order, in one arena per
//                table; answering copies it and renders nothing anew
//   cells        its valued columns as fixed-size Cells
//   elements     the elements of its nested lists, each a range of cells
//
// Row tables are indexed by their first two row columns (group and rule in
// the rule tables), so a request row that names them finds its entries
// without a scan. Made once by LoadConfig (below), immutable afterwards:
// safe to read from any number of threads.

#ifndef ACL_DEVHOST_CONFIG_H_
#define ACL_DEVHOST_CONFIG_H_

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "devhost/registry.h"

namespace devhost {

// A growable array of plain records in one malloc block, grown by realloc.
// From 128 KiB on the block is a mapping of its own (memory.h) that glibc
// grows with mremap: its pages move, never copied, so a large array never
// needs twice its size, and capacity not yet written takes no memory.
// Owns its block; not thread-safe while growing.
template <typename T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T>, "plain records only");

 public:
  PodArray() = default;
  ~PodArray() { std::free(data_); }
  PodArray(PodArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}

  size_t size() const { return size_; }
  const T* data() const { return data_; }
  T* data() { return data_; }
  const T& operator[](size_t i) const { return data_[i]; }

  void push_back(const T& value) { append(&value, 1); }
  void append(const T* values, size_t count) {
    if (capacity_ - size_ < count) {
      const size_t capacity =
          std::max({size_t{16}, 2 * capacity_, size_ + count});
      void* p = std::realloc(data_, capacity * sizeof(T));
      if (p == nullptr) throw std::bad_alloc();
      data_ = static_cast<T*>(p);
      capacity_ = capacity;
    }
    if (count != 0) std::memcpy(data_ + size_, values, count * sizeof(T));
    size_ += count;
  }

 private:
  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Values of different kinds never compare equal, nor does a value of no
// kind (a request value of an unknown type).
enum class CellKind : uint8_t { kNone, kNumber, kText, kBytes };

// One valued column, in 12 bytes: a number (booleans as 0/1), or bytes
// (texts, addresses), up to kInPlace of them in `value`, longer ones at
// offset `value` of a byte pool.
struct __attribute__((packed, aligned(4))) Cell {
  static constexpr uint32_t kInPlace = 8;
  static constexpr uint32_t kMaxSize = UINT16_MAX;

  uint8_t column = 0;
  CellKind kind = CellKind::kNone;
  uint16_t size = 0;   // kText, kBytes: byte count
  uint64_t value = 0;  // kNumber: the number; see above

  static Cell Number(uint8_t column, uint64_t n) {
    return Cell{column, CellKind::kNumber, 0, n};
  }
  // A cell of no kind (which matches nothing) when `bytes` are longer than
  // kMaxSize. REQUIRES: kind is kText or kBytes.
  static Cell Bytes(uint8_t column, CellKind kind, std::string_view bytes,
                    PodArray<char>* pool);

  // The bytes of a kText or kBytes cell made with `pool`.
  std::string_view BytesIn(const char* pool) const;
};
static_assert(sizeof(Cell) == 12, "cells are fixed-size");

// True when `a` (bytes in `poolA`) and `b` (in `poolB`) hold the same value.
bool SameValue(const Cell& a, const char* poolA, const Cell& b,
               const char* poolB);

// Entries (or request rows) between looks at a cancel flag.
constexpr size_t kCheckEvery = 4096;

// What one request row (or the table node of a single-instance table)
// asks for: valued columns that an entry must all have, and per sub-entry
// with values, a nested list of which one element must have them all.
struct Wanted {
  struct Sub {
    uint32_t sub;    // ConfigTable::Sub
    uint32_t first;  // range of subCells
    uint32_t count;
  };

  std::vector<Cell> cells;
  std::vector<Sub> subs;
  std::vector<Cell> subCells;
  PodArray<char> pool;
  bool never = false;  // names a nested list the table does not have

  // True when every entry matches.
  bool SelectsAll() const { return !never && cells.empty() && subs.empty(); }
};

// One configured table. The reader fills it entry by entry: the elements
// of the entry's nested lists (AddElement) and its answer text (appended to
// text()), then the entry itself with its row cells (EndEntry); Finish
// completes the index.
class ConfigTable {
 public:
  // REQUIRES: `reg` outlives the table.
  explicit ConfigTable(const RegTable& reg);

  size_t size() const { return entries_.size(); }
  std::string_view Text(size_t entry) const { return Texts(entry, entry); }
  // The texts of entries `first` to `last`, joined by commas: the texts lie
  // in entry order, each followed by a comma.
  std::string_view Texts(size_t first, size_t last) const;

  // The number of nested message `name` in this table, or -1.
  int Sub(std::string_view name) const;
  // True when strings of column `column` are IPv6 addresses.
  bool IsIPv6(uint8_t column) const { return ipv6_[column]; }

  bool Matches(const Wanted& wanted, size_t entry) const;
  // Marks in `selected` (one bit per entry, bit i of word i/64) every
  // entry that one `wanted` or more matches. Consults `cancel` (may be
  // null) every kCheckEvery entries and returns false once it is set.
  bool Select(const std::vector<Wanted>& wanted,
              std::vector<uint64_t>* selected,
              const std::atomic<bool>* cancel) const;

  // Building: where longer cell values and the entry's text go.
  PodArray<char>* pool() { return &pool_; }
  PodArray<char>* text() { return &texts_; }
  void AddElement(uint16_t sub, const Cell* cells, size_t count);
  void EndEntry(const Cell* cells, size_t count);
  void Finish();

 private:
  struct Entry {
    uint32_t text;  // offset in texts_
    uint32_t textSize;
    uint32_t firstCell;
    uint32_t firstElement;  // of its nested lists, list by list
    uint32_t elementCount;
    uint32_t cellCount;
  };
  struct Element {
    uint32_t firstCell;
    uint16_t cellCount;
    uint16_t sub;  // the nested list's
  };
  // An entry by the keys of its first two row columns: the first's, and
  // the second's folded to 32 bits (0 when the entry lacks it).
  struct IndexKey {
    uint64_t a;
    uint32_t b;
    uint32_t entry;
  };

  bool HasCells(uint32_t first, uint32_t count, const Cell* want,
                size_t wantCount, const char* wantPool) const;
  // The index key of `cells` (in `pool`); false when they lack the first
  // index column.
  bool KeyOf(const Cell* cells, size_t count, const char* pool,
             IndexKey* key) const;

  std::vector<std::string_view> subs_;  // nested message names
  std::bitset<256> ipv6_;
  PodArray<Entry> entries_;
  PodArray<Element> elements_;
  PodArray<Cell> cells_;
  PodArray<char> pool_;
  PodArray<char> texts_;
  int keyA_ = -1, keyB_ = -1;  // index columns, -1 for none
  PodArray<IndexKey> index_;
  size_t openElement_ = 0, openText_ = 0;  // of the entry being read
};

// The configured tables, by their registry tables. Tables the
// configuration does not name are absent.
struct Config {
  std::unordered_map<const RegTable*, std::unique_ptr<ConfigTable>> tables;
};

// Reads a device configuration (JSON, with simdjson's On-Demand parser)
// into the compact form above in one pass over the text, checking
// every table, row, column and value against the registry and rendering
// each entry's answer text on the way (the form: docs/devhost.md):
//
//   {"<Table>": {"<Row>": [<entry>, ...]},    a table with rows
//    "<Table>": <entry>, ...}                 a single-instance table
//   <entry>:  {"<Column>": value, "<Nested>": [{"<Column>": value}, ...]}
//
// Faults throw std::runtime_error. Text that is not JSON, a key twice in
// one object, or containers nested more than 64 deep stop the reading at
// once, with the place and the JSON pointer of the value being read:
//   "configuration is not valid JSON: line 3, column 9, at /Base: ..."
// Content that does not fit the registry is collected, each problem at its
// JSON pointer, and reported in key order (an entry's columns before its
// nested lists), the first kMaxProblems in full, then a count:
//   "configuration does not fit the registry: /Nope: unknown table ...; ..."
//
// Stateless: safe to call from any number of threads at once.

constexpr size_t kMaxProblems = 20;

// Reads `text` (copied once, to give the parser its padding).
// REQUIRES: `registry` outlives the result.
std::unique_ptr<Config> LoadConfig(const Registry& registry,
                                   std::string_view text);

// Reads the file at `path`, giving back its pages as the reading passes
// them (reported every MiB); throws "cannot read PATH: REASON" as well.
// REQUIRES: `registry` outlives the result.
std::unique_ptr<Config> LoadConfigFile(const Registry& registry,
                                       const std::string& path);

}  // namespace devhost

#endif  // ACL_DEVHOST_CONFIG_H_
