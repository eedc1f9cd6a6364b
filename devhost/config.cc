#include "devhost/config.h"


#include <algorithm>
#include <functional>
#include <stdexcept>
#include <tuple>

namespace devhost {
namespace {

// Entries (or request rows) between looks at the cancel flag.
constexpr size_t kCheckEvery = 4096;

constexpr char kTooLarge[] = "the configuration is too large";

uint32_t Narrow(size_t n) {
  if (n > UINT32_MAX) throw std::length_error(kTooLarge);
  return static_cast<uint32_t>(n);
}

bool Cancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

void Mark(std::vector<uint64_t>* bits, size_t i) {
  (*bits)[i >> 6] |= uint64_t{1} << (i & 63);
}

bool Marked(const std::vector<uint64_t>& bits, size_t i) {
  return (bits[i >> 6] >> (i & 63)) & 1;
}

}  // namespace

// ---- Cells ------------------------------------------------------------------

Cell Cell::Number(uint8_t column, uint64_t n) {
  Cell c;
  c.column = column;
  c.kind = CellKind::kNumber;
  c.value = n;
  return c;
}

Cell Cell::Bytes(uint8_t column, CellKind kind, std::string_view bytes,
                 PodArray<char>* pool) {
  Cell c;
  c.column = column;
  if (bytes.size() > kMaxSize) return c;
  c.kind = kind;
  c.size = static_cast<uint16_t>(bytes.size());
  if (c.size <= kInPlace) {
    uint64_t value = 0;
    std::memcpy(&value, bytes.data(), c.size);
    c.value = value;
  } else {
    c.value = pool->size();
    pool->append(bytes.data(), bytes.size());
  }
  return c;
}

std::string_view Cell::BytesIn(const char* pool) const {
  if (size <= kInPlace) {
    return std::string_view(reinterpret_cast<const char*>(&value), size);
  }
  return std::string_view(pool + value, size);
}

bool SameValue(const Cell& a, const char* poolA, const Cell& b,
               const char* poolB) {
  if (a.kind == CellKind::kNone || a.kind != b.kind || a.size != b.size) {
    return false;
  }
  if (a.size <= Cell::kInPlace) return a.value == b.value;
  return std::memcmp(poolA + a.value, poolB + b.value, a.size) == 0;
}

// ---- Tables -----------------------------------------------------------------

ConfigTable::ConfigTable(const RegTable& reg) : reg_(reg) {
  for (const RegColumn& c : reg.columns) {
    if (!c.sub.empty() && Sub(c.sub) < 0) subs_.push_back(c.sub);
    if (c.format == "ipv6") ipv6_.set(c.number);
    if (!reg.row.empty() && c.sub.empty()) {
      if (keyA_ < 0) {
        keyA_ = c.number;
      } else if (keyB_ < 0) {
        keyB_ = c.number;
      }
    }
  }
}

std::string_view ConfigTable::Text(size_t entry) const {
  return Texts(entry, entry);
}

std::string_view ConfigTable::Texts(size_t first, size_t last) const {
  const Entry& a = entries_[first];
  const Entry& b = entries_[last];
  return std::string_view(texts_.data() + a.text, b.text + b.textSize - a.text);
}

int ConfigTable::Sub(std::string_view name) const {
  for (size_t i = 0; i < subs_.size(); ++i) {
    if (subs_[i] == name) return static_cast<int>(i);
  }
  return -1;
}

bool ConfigTable::HasCells(uint32_t first, uint32_t count, const Cell* want,
                           size_t wantCount, const char* wantPool) const {
  const Cell* have = cells_.data() + first;
  for (size_t w = 0; w < wantCount; ++w) {
    bool found = false;
    for (uint32_t h = 0; h < count && !found; ++h) {
      found = have[h].column == want[w].column &&
              SameValue(want[w], wantPool, have[h], pool_.data());
    }
    if (!found) return false;
  }
  return true;
}

bool ConfigTable::Matches(const Wanted& wanted, size_t entry) const {
  if (wanted.never) return false;
  const Entry& e = entries_[entry];
  if (!HasCells(e.firstCell, e.cellCount, wanted.cells.data(),
                wanted.cells.size(), wanted.pool.data())) {
    return false;
  }
  for (const Wanted::Sub& s : wanted.subs) {
    const List* list = nullptr;
    for (uint32_t i = e.firstList; i < e.firstList + e.listCount; ++i) {
      if (lists_[i].sub == s.sub) list = &lists_[i];
    }
    if (list == nullptr) return false;
    bool any = false;
    for (uint32_t i = 0; i < list->elementCount && !any; ++i) {
      const Element& element = elements_[list->firstElement + i];
      any = HasCells(element.firstCell, element.cellCount,
                     wanted.subCells.data() + s.first, s.count,
                     wanted.pool.data());
    }
    if (!any) return false;
  }
  return true;
}

// ---- The index --------------------------------------------------------------

// Equal values give equal keys; unequal ones mostly differ, and every
// candidate is matched in full anyway.
uint64_t ConfigTable::KeyOf(const Cell& cell, const char* pool) const {
  if (cell.kind == CellKind::kNumber) return cell.value;
  return std::hash<std::string_view>()(cell.BytesIn(pool)) * 31 +
         static_cast<uint64_t>(cell.kind);
}

uint32_t ConfigTable::SecondKeyOf(const Cell* cell, const char* pool) const {
  if (cell == nullptr) return 0;
  const uint64_t key = KeyOf(*cell, pool);
  return static_cast<uint32_t>(key ^ (key >> 32)) | 1;
}

void ConfigTable::IndexLast(const Cell* cells, size_t count) {
  if (keyA_ < 0) return;
  const Cell* a = nullptr;
  const Cell* b = nullptr;
  for (size_t i = 0; i < count; ++i) {
    if (cells[i].column == keyA_) a = &cells[i];
    if (cells[i].column == keyB_) b = &cells[i];
  }
  if (a == nullptr) return;
  index_.push_back(IndexKey{KeyOf(*a, pool_.data()),
                            SecondKeyOf(b, pool_.data()),
                            static_cast<uint32_t>(entries_.size() - 1)});
}

void ConfigTable::SortIndex() {
  // Configurations mostly list their rows in key order already.
  auto less = [](const IndexKey& x, const IndexKey& y) {
    return std::tie(x.a, x.b, x.entry) < std::tie(y.a, y.b, y.entry);
  };
  IndexKey* begin = index_.data();
  IndexKey* end = begin + index_.size();
  if (!std::is_sorted(begin, end, less)) std::sort(begin, end, less);
  index_.ShrinkToFit();
}

bool ConfigTable::Candidates(const Wanted& wanted, const IndexKey** begin,
                             const IndexKey** end) const {
  const Cell* a = nullptr;
  const Cell* b = nullptr;
  for (const Cell& c : wanted.cells) {
    if (c.column == keyA_ && a == nullptr) a = &c;
    if (c.column == keyB_ && b == nullptr) b = &c;
  }
  if (a == nullptr) return false;
  const IndexKey probe{KeyOf(*a, wanted.pool.data()),
                       SecondKeyOf(b, wanted.pool.data()), 0};
  auto range =
      b == nullptr
          ? std::equal_range(index_.data(), index_.data() + index_.size(),
                             probe,
                             [](const IndexKey& x, const IndexKey& y) {
                               return x.a < y.a;
                             })
          : std::equal_range(index_.data(), index_.data() + index_.size(),
                             probe, [](const IndexKey& x, const IndexKey& y) {
                               return std::tie(x.a, x.b) <
                                      std::tie(y.a, y.b);
                             });
  *begin = range.first;
  *end = range.second;
  return true;
}

bool ConfigTable::Select(const std::vector<Wanted>& wanted,
                         std::vector<uint64_t>* selected,
                         const std::atomic<bool>* cancel) const {
  const size_t n = entries_.size();
  selected->assign((n + 63) / 64, 0);
  size_t work = 0;
  auto go_on = [&] { return ++work % kCheckEvery != 0 || !Cancelled(cancel); };
  std::vector<const Wanted*> scans;  // rows the index cannot narrow
  for (const Wanted& w : wanted) {
    if (!go_on()) return false;
    if (w.SelectsAll()) {
      for (size_t i = 0; i < n; ++i) Mark(selected, i);
      return true;
    }
    const IndexKey* begin;
    const IndexKey* end;
    if (w.never) continue;
    if (!Candidates(w, &begin, &end)) {
      scans.push_back(&w);
      continue;
    }
    for (const IndexKey* k = begin; k != end; ++k) {
      if (!go_on()) return false;
      if (Matches(w, k->entry)) Mark(selected, k->entry);
    }
  }
  if (scans.empty()) return true;
  // Every comparison counts: many unnarrowed rows make each entry costly.
  for (size_t i = 0; i < n; ++i) {
    if (Marked(*selected, i)) continue;
    for (const Wanted* w : scans) {
      if (!go_on()) return false;
      if (Matches(*w, i)) {
        Mark(selected, i);
        break;
      }
    }
  }
  return true;
}

// ---- Building ---------------------------------------------------------------

ConfigBuilder::ConfigBuilder(ConfigTable* table) : table_(table) {}

void ConfigBuilder::BeginList(uint32_t sub) {
  table_->lists_.push_back(
      ConfigTable::List{Narrow(table_->elements_.size()), 0, sub});
}

void ConfigBuilder::AddElement(const Cell* cells, size_t count) {
  table_->elements_.push_back(ConfigTable::Element{
      Narrow(table_->cells_.size()), Narrow(count)});
  table_->cells_.append(cells, count);
  ++table_->lists_[table_->lists_.size() - 1].elementCount;
}

void ConfigBuilder::EndEntry(const Cell* cells, size_t count) {
  ConfigTable::Entry e;
  e.text = Narrow(firstText_);
  e.textSize = Narrow(table_->texts_.size() - firstText_);
  e.firstCell = Narrow(table_->cells_.size());
  e.firstList = Narrow(firstList_);
  if (count > UINT16_MAX) throw std::length_error(kTooLarge);
  e.cellCount = static_cast<uint16_t>(count);
  e.listCount = static_cast<uint16_t>(table_->lists_.size() - firstList_);
  table_->cells_.append(cells, count);
  table_->entries_.push_back(e);
  table_->IndexLast(cells, count);
  table_->texts_.push_back(',');  // joins this text to the next (Texts)
  firstList_ = table_->lists_.size();
  firstText_ = table_->texts_.size();
}

void ConfigBuilder::Finish() {
  table_->entries_.ShrinkToFit();
  table_->lists_.ShrinkToFit();
  table_->elements_.ShrinkToFit();
  table_->cells_.ShrinkToFit();
  table_->pool_.ShrinkToFit();
  table_->texts_.ShrinkToFit();
  table_->SortIndex();
}

// ---- The configuration ------------------------------------------------------

const ConfigTable* Config::Table(const RegTable* reg) const {
  auto it = tables_.find(reg);
  return it == tables_.end() ? nullptr : it->second.get();
}

ConfigTable* Config::Add(const RegTable& reg) {
  std::unique_ptr<ConfigTable>& table = tables_[&reg];
  if (table == nullptr) table = std::make_unique<ConfigTable>(reg);
  return table.get();
}

}  // namespace devhost
