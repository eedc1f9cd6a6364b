// The device configuration in the compact form the json adapter answers
// from. Each configured row of a table (or the instance of a
// single-instance table) is an Entry:
//
//   answer text  rendered once, keys in registry order, in one arena per
//                table; answering copies it and renders nothing anew
//   cells        its valued columns as fixed-size Cells
//   lists        its nested lists, each a range of elements, each element
//                a range of cells
//
// A Cell holds a number (booleans as 0/1) or up to 8 bytes (IPv4 and MAC
// addresses, short texts) in place; longer texts and IPv6 addresses (16
// bytes) lie in the table's byte pool. Row tables are indexed by their
// first two row columns (group and rule in the rule tables), so a request
// row that names them finds its entries without a scan.
//
// Made once by LoadConfig (config_reader.h), immutable afterwards: safe to
// read from any number of threads.

#ifndef ACL_DEVHOST_CONFIG_H_
#define ACL_DEVHOST_CONFIG_H_

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
#include <utility>
#include <unordered_map>
#include <vector>

#include "devhost/memory.h"
#include "devhost/registry.h"

namespace devhost {

// A growable array of plain records in one malloc block, grown with
// realloc: from 128 KiB on the block is a mapping of its own, which glibc
// grows with mremap (its pages move, they are never copied), so that a
// large array never needs twice its size; from 2 MiB on it is hinted to
// huge pages (memory.h). Owns its block; not thread-safe while growing.
template <typename T>
class PodArray {
  static_assert(std::is_trivially_copyable_v<T>, "plain records only");

 public:
  PodArray() = default;
  ~PodArray() { std::free(data_); }
  PodArray(PodArray&& other) noexcept { Take(&other); }
  PodArray& operator=(PodArray&& other) noexcept {
    if (this != &other) {
      std::free(data_);
      Take(&other);
    }
    return *this;
  }
  PodArray(const PodArray&) = delete;
  PodArray& operator=(const PodArray&) = delete;

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T* data() const { return data_; }
  T* data() { return data_; }
  const T& operator[](size_t i) const { return data_[i]; }
  T& operator[](size_t i) { return data_[i]; }

  void push_back(const T& value) {
    if (size_ == capacity_) Grow(size_ + 1);
    data_[size_++] = value;
  }
  void append(const T* values, size_t count) {
    if (count == 0) return;
    if (capacity_ - size_ < count) Grow(size_ + count);
    std::memcpy(data_ + size_, values, count * sizeof(T));
    size_ += count;
  }
  // Gives back the capacity beyond the size.
  void ShrinkToFit() {
    if (size_ == capacity_ || size_ == 0) return;
    if (void* p = std::realloc(data_, size_ * sizeof(T))) {
      data_ = static_cast<T*>(p);
      capacity_ = size_;
    }
  }

 private:
  void Take(PodArray* other) {
    data_ = std::exchange(other->data_, nullptr);
    size_ = std::exchange(other->size_, 0);
    capacity_ = std::exchange(other->capacity_, 0);
  }
  void Grow(size_t need) {
    size_t capacity = capacity_ < 16 ? 16 : capacity_ * 2;
    if (capacity < need) capacity = need;
    void* p = std::realloc(data_, capacity * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    AdviseHugePages(p, capacity * sizeof(T));
    data_ = static_cast<T*>(p);
    capacity_ = capacity;
  }

  T* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// What a cell's value is. Values of different kinds never compare equal,
// nor does a value of no kind (a request value of a type the adapter does
// not know).
enum class CellKind : uint8_t { kNone, kNumber, kText, kBytes };

// One valued column, in 12 bytes: a configuration holds many. Bytes of up
// to kInPlace are kept in `value`, longer ones at offset `value` of a byte
// pool.
struct __attribute__((packed, aligned(4))) Cell {
  static constexpr uint32_t kInPlace = 8;
  static constexpr uint32_t kMaxSize = UINT16_MAX;

  uint8_t column = 0;
  CellKind kind = CellKind::kNone;
  uint16_t size = 0;   // kText, kBytes: byte count
  uint64_t value = 0;  // kNumber: the number; see above

  static Cell Number(uint8_t column, uint64_t n);
  // A cell of no kind (which matches nothing) when `bytes` are longer than
  // kMaxSize. REQUIRES: kind is kText or kBytes.
  static Cell Bytes(uint8_t column, CellKind kind, std::string_view bytes,
                    PodArray<char>* pool);

  // The bytes of a kText or kBytes cell, `pool` being the one it was made
  // with.
  std::string_view BytesIn(const char* pool) const;
};
static_assert(sizeof(Cell) == 12, "cells are fixed-size");

// True when `a` (bytes in `poolA`) and `b` (in `poolB`) hold the same value.
bool SameValue(const Cell& a, const char* poolA, const Cell& b,
               const char* poolB);

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

class ConfigTable {
 public:
  // REQUIRES: `reg` outlives the table.
  explicit ConfigTable(const RegTable& reg);

  const RegTable& reg() const { return reg_; }
  size_t size() const { return entries_.size(); }
  std::string_view Text(size_t entry) const;
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
  // null) every few thousand entries and returns false once it is set.
  bool Select(const std::vector<Wanted>& wanted,
              std::vector<uint64_t>* selected,
              const std::atomic<bool>* cancel) const;

 private:
  friend class ConfigBuilder;

  struct Entry {
    uint32_t text;  // offset in texts_
    uint32_t textSize;
    uint32_t firstCell;
    uint32_t firstList;
    uint16_t cellCount;
    uint16_t listCount;
  };
  struct List {
    uint32_t firstElement;
    uint32_t elementCount;
    uint32_t sub;
  };
  struct Element {
    uint32_t firstCell;
    uint32_t cellCount;
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
  uint64_t KeyOf(const Cell& cell, const char* pool) const;
  uint32_t SecondKeyOf(const Cell* cell, const char* pool) const;
  // Indexes the entry just added, whose row cells are `cells`.
  void IndexLast(const Cell* cells, size_t count);
  void SortIndex();
  // The index range that can hold the entries matching `wanted`; false
  // when the index cannot narrow it.
  bool Candidates(const Wanted& wanted, const IndexKey** begin,
                  const IndexKey** end) const;

  const RegTable& reg_;
  std::vector<std::string_view> subs_;  // nested message names
  std::bitset<256> ipv6_;
  PodArray<Entry> entries_;
  PodArray<List> lists_;
  PodArray<Element> elements_;
  PodArray<Cell> cells_;
  PodArray<char> pool_;
  PodArray<char> texts_;
  int keyA_ = -1, keyB_ = -1;  // index columns, -1 for none
  PodArray<IndexKey> index_;
};

// Fills a ConfigTable entry by entry, as a reader meets the rows: the
// entry's nested lists (BeginList, then AddElement per element) and its
// answer text (appended to text()), then the entry itself with its row
// cells (EndEntry). Finish completes the index. Not thread-safe.
class ConfigBuilder {
 public:
  // REQUIRES: `table` is new and outlives the builder.
  explicit ConfigBuilder(ConfigTable* table);

  // Where the bytes of longer cell values go (Cell::Bytes).
  PodArray<char>* pool() { return &table_->pool_; }
  // Where the entry's answer text goes.
  PodArray<char>* text() { return &table_->texts_; }

  void BeginList(uint32_t sub);
  void AddElement(const Cell* cells, size_t count);
  void EndEntry(const Cell* cells, size_t count);
  void Finish();

 private:
  ConfigTable* table_;
  size_t firstList_ = 0;  // of the entry being read
  size_t firstText_ = 0;
};

// The configured tables. Tables the configuration does not name are absent.
class Config {
 public:
  const ConfigTable* Table(const RegTable* reg) const;
  // The table for `reg`, made empty on first use; for readers only.
  ConfigTable* Add(const RegTable& reg);

 private:
  std::unordered_map<const RegTable*, std::unique_ptr<ConfigTable>> tables_;
};

}  // namespace devhost

#endif  // ACL_DEVHOST_CONFIG_H_
