#include "devhost/config.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <tuple>

namespace devhost {
namespace {

uint32_t Narrow(size_t n, size_t max = UINT32_MAX) {
  if (n > max) throw std::length_error("the configuration is too large");
  return static_cast<uint32_t>(n);
}

void Mark(std::vector<uint64_t>* bits, size_t i) {
  (*bits)[i >> 6] |= uint64_t{1} << (i & 63);
}

bool Marked(const std::vector<uint64_t>& bits, size_t i) {
  return (bits[i >> 6] >> (i & 63)) & 1;
}

// Equal values give equal keys; unequal ones mostly differ, and every
// candidate is matched in full anyway.
uint64_t Hash(const Cell& cell, const char* pool) {
  return cell.kind == CellKind::kNumber
             ? cell.value
             : std::hash<std::string_view>()(cell.BytesIn(pool)) * 31 +
                   static_cast<uint64_t>(cell.kind);
}

}  // namespace

Cell Cell::Bytes(uint8_t column, CellKind kind, std::string_view bytes,
                 PodArray<char>* pool) {
  if (bytes.size() > kMaxSize) return Cell{column};
  Cell c{column, kind, static_cast<uint16_t>(bytes.size()), pool->size()};
  if (c.size > kInPlace) {
    pool->append(bytes.data(), bytes.size());
  } else {
    uint64_t value = 0;
    std::memcpy(&value, bytes.data(), c.size);
    c.value = value;
  }
  return c;
}

std::string_view Cell::BytesIn(const char* pool) const {
  const char* bytes =
      size <= kInPlace ? reinterpret_cast<const char*>(&value) : pool + value;
  return std::string_view(bytes, size);
}

bool SameValue(const Cell& a, const char* poolA, const Cell& b,
               const char* poolB) {
  if (a.kind == CellKind::kNone || a.kind != b.kind) return false;
  return a.kind == CellKind::kNumber ? a.value == b.value
                                     : a.BytesIn(poolA) == b.BytesIn(poolB);
}

ConfigTable::ConfigTable(const RegTable& reg) {
  for (const RegColumn& c : reg.columns) {
    if (!c.sub.empty() && Sub(c.sub) < 0) subs_.push_back(c.sub);
    if (c.format == "ipv6") ipv6_.set(c.number);
    if (reg.row.empty() || !c.sub.empty()) continue;
    if (keyA_ < 0) {
      keyA_ = c.number;
    } else if (keyB_ < 0) {
      keyB_ = c.number;
    }
  }
}

std::string_view ConfigTable::Texts(size_t first, size_t last) const {
  const Entry& a = entries_[first];
  const Entry& b = entries_[last];
  return std::string_view(texts_.data() + a.text, b.text + b.textSize - a.text);
}

int ConfigTable::Sub(std::string_view name) const {
  const auto it = std::find(subs_.begin(), subs_.end(), name);
  return it == subs_.end() ? -1 : static_cast<int>(it - subs_.begin());
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
  const char* pool = wanted.pool.data();
  if (!HasCells(e.firstCell, e.cellCount, wanted.cells.data(),
                wanted.cells.size(), pool)) {
    return false;
  }
  for (const Wanted::Sub& s : wanted.subs) {
    bool any = false;
    for (uint32_t i = 0; i < e.elementCount && !any; ++i) {
      const Element& element = elements_[e.firstElement + i];
      any = element.sub == s.sub &&
            HasCells(element.firstCell, element.cellCount,
                     wanted.subCells.data() + s.first, s.count, pool);
    }
    if (!any) return false;
  }
  return true;
}

bool ConfigTable::KeyOf(const Cell* cells, size_t count, const char* pool,
                        IndexKey* key) const {
  const Cell* a = nullptr;
  const Cell* b = nullptr;
  for (size_t i = count; i-- > 0;) {  // the first of a column wins
    if (cells[i].column == keyA_) a = &cells[i];
    if (cells[i].column == keyB_) b = &cells[i];
  }
  if (a == nullptr) return false;
  *key = IndexKey{Hash(*a, pool), 0, 0};
  if (b != nullptr) {
    const uint64_t hash = Hash(*b, pool);
    key->b = static_cast<uint32_t>(hash ^ (hash >> 32)) | 1;
  }
  return true;
}

bool ConfigTable::Select(const std::vector<Wanted>& wanted,
                         std::vector<uint64_t>* selected,
                         const std::atomic<bool>* cancel) const {
  const size_t n = entries_.size();
  selected->assign((n + 63) / 64, 0);
  size_t work = 0;
  auto go_on = [&] {
    return ++work % kCheckEvery != 0 || cancel == nullptr ||
           !cancel->load(std::memory_order_relaxed);
  };
  for (const Wanted& w : wanted) {
    if (!go_on()) return false;
    if (w.SelectsAll()) {
      for (size_t i = 0; i < n; ++i) Mark(selected, i);
      return true;
    }
    if (w.never) continue;
    IndexKey key;
    if (!KeyOf(w.cells.data(), w.cells.size(), w.pool.data(), &key)) {
      // A row the index cannot narrow: every comparison counts.
      for (size_t i = 0; i < n; ++i) {
        if (Marked(*selected, i)) continue;
        if (!go_on()) return false;
        if (Matches(w, i)) Mark(selected, i);
      }
      continue;
    }
    // The index is sorted by (a, b): the rows of one a, or of one (a, b).
    const auto range = std::equal_range(
        index_.data(), index_.data() + index_.size(), key,
        [&key](const IndexKey& x, const IndexKey& y) {
          return x.a < y.a || (key.b != 0 && x.a == y.a && x.b < y.b);
        });
    for (const IndexKey* k = range.first; k != range.second; ++k) {
      if (!go_on()) return false;
      if (Matches(w, k->entry)) Mark(selected, k->entry);
    }
  }
  return true;
}

void ConfigTable::AddElement(uint16_t sub, const Cell* cells, size_t count) {
  elements_.push_back(Element{Narrow(cells_.size()),
                              static_cast<uint16_t>(Narrow(count, UINT16_MAX)),
                              sub});
  cells_.append(cells, count);
}

void ConfigTable::EndEntry(const Cell* cells, size_t count) {
  const Entry e{Narrow(openText_),
                Narrow(texts_.size() - openText_),
                Narrow(cells_.size()),
                Narrow(openElement_),
                Narrow(elements_.size() - openElement_),
                Narrow(count)};
  cells_.append(cells, count);
  entries_.push_back(e);
  IndexKey key;
  if (KeyOf(cells, count, pool_.data(), &key)) {
    key.entry = Narrow(entries_.size() - 1);
    index_.push_back(key);
  }
  texts_.push_back(',');  // joins this text to the next (Texts)
  openElement_ = elements_.size();
  openText_ = texts_.size();
}

void ConfigTable::Finish() {
  // Configurations mostly list their rows in key order already.
  auto less = [](const IndexKey& x, const IndexKey& y) {
    return std::tie(x.a, x.b, x.entry) < std::tie(y.a, y.b, y.entry);
  };
  IndexKey* begin = index_.data();
  IndexKey* end = begin + index_.size();
  if (!std::is_sorted(begin, end, less)) std::sort(begin, end, less);
}

}  // namespace devhost
