#include "exporter/metric_text.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace exporter {

const MetricSpec kMetrics[kMetricCount] = {
    {"acl_group_status", "gauge",
     "Run state of an applied ACL group (device code)."},
    {"acl_group_counting", "gauge",
     "Counting state of an applied ACL group (device code)."},
    {"acl_group_permit_packets_total", "counter",
     "Packets permitted by an applied ACL group."},
    {"acl_group_permit_bytes_total", "counter",
     "Bytes permitted by an applied ACL group."},
    {"acl_group_deny_packets_total", "counter",
     "Packets denied by an applied ACL group."},
    {"acl_group_deny_bytes_total", "counter",
     "Bytes denied by an applied ACL group."},
    {"acl_rule_run_status", "gauge",
     "Run state of a rule of an applied ACL group (device code)."},
    {"acl_rule_match_packets_total", "counter",
     "Packets matched by a rule of an applied ACL group."},
    {"acl_rule_match_bytes_total", "counter",
     "Bytes matched by a rule of an applied ACL group."},
    {"acl_statistic_match_packets_total", "counter",
     "Packets matched, summed per direction, group and rule."},
    {"acl_statistic_match_bytes_total", "counter",
     "Bytes matched, summed per direction, group and rule."},
    {"acl_zone_pair_rule_match_packets_total", "counter",
     "Packets matched by a rule of a zone-pair packet filter."},
    {"acl_zone_pair_rule_match_bytes_total", "counter",
     "Bytes matched by a rule of a zone-pair packet filter."},
    {"acl_rule_count_total", "counter", "A configured rule's match count."},
    {"acl_rule_status", "gauge", "A configured rule's state (device code)."},
};

namespace {

constexpr size_t kFirstSlots = 64;  // a family's set at its first series
constexpr uint64_t kMix = 0x9E3779B97F4A7C15ull;

// A quick hash of short texts (label sets are tens of bytes), 8 bytes at a
// time.
uint32_t Hash(const char* p, size_t n) {
  uint64_t h = n * kMix;
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * kMix;
    h ^= h >> 29;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, p, n);
  h = (h ^ tail) * kMix;
  return static_cast<uint32_t>(h >> 32);
}

// The families' names' lengths, counted once.
struct NameLengths {
  NameLengths() {
    for (int i = 0; i < kMetricCount; ++i) of[i] = std::strlen(kMetrics[i].name);
  }
  size_t of[kMetricCount];
};

// Chunks of MetricText::kChunk bytes kept between probes, at most
// kPoolChunks of them. Thread-safe.
class ChunkPool {
 public:
  char* Get() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (!free_.empty()) {
        char* chunk = free_.back();
        free_.pop_back();
        return chunk;
      }
    }
    return new char[MetricText::kChunk];
  }

  void Put(char* chunk) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (free_.size() < MetricText::kPoolChunks) {
        free_.push_back(chunk);
        return;
      }
    }
    delete[] chunk;
  }

 private:
  std::mutex mu_;
  std::vector<char*> free_;
};

ChunkPool& Pool() {
  static ChunkPool* const pool = new ChunkPool;  // lives as long as the process
  return *pool;
}

}  // namespace

bool LabelValueOk(std::string_view value) {
  for (char c : value) {
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\n') || u == 0x7f) return false;
  }
  return true;
}

void AppendLabelValue(std::string_view value, std::string* out) {
  size_t done = 0;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c != '\\' && c != '"' && c != '\n') continue;
    out->append(value.data() + done, i - done);
    out->push_back('\\');
    out->push_back(c == '\n' ? 'n' : c);
    done = i + 1;
  }
  out->append(value.data() + done, value.size() - done);
}

bool LabelOrderAfter(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {  // texts in order share most of their start
    uint64_t x, y;
    std::memcpy(&x, a.data() + i, 8);
    std::memcpy(&y, b.data() + i, 8);
    if (x != y) break;
  }
  while (i < n && a[i] == b[i]) ++i;
  if (i == a.size() && i == b.size()) return false;  // equal
  // The first difference is in the piece that begins after the last quote
  // before i, in both; where that piece ends in each:
  size_t endA = i;
  while (endA < a.size() && a[endA] != '"') ++endA;
  size_t endB = i;
  while (endB < b.size() && b[endB] != '"') ++endB;
  if (endA != endB) return endA > endB;
  if (i < endA) {
    return static_cast<unsigned char>(a[i]) > static_cast<unsigned char>(b[i]);
  }
  // Equal pieces; one text goes on with a quote, the other ends.
  return a.size() > i;
}

void AppendHeader(const char* name, const char* type, const char* help,
                  std::string* out) {
  out->append("# HELP ").append(name).append(" ").append(help);
  out->append("\n# TYPE ").append(name).append(" ").append(type);
  out->push_back('\n');
}

bool MetricText::LabelSet::Insert(std::string_view text) {
  if ((used_ + 1) * 2 > slots_.size()) Grow();
  const uint32_t hash = Hash(text.data(), text.size());
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.text == nullptr) {
      slot = Slot{text.data(), text.size(), hash};
      ++used_;
      return true;
    }
    if (slot.hash == hash && slot.size == text.size() &&
        std::memcmp(slot.text, text.data(), text.size()) == 0) {
      return false;
    }
  }
}

void MetricText::LabelSet::Grow() {
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? kFirstSlots : old.size() * 2,
                Slot{nullptr, 0, 0});
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.text == nullptr) continue;
    size_t i = slot.hash & mask;
    while (slots_[i].text != nullptr) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

MetricText::MetricText(size_t maxSeries)
    : maxSeries_(maxSeries) {}

MetricText::~MetricText() {
  for (Family& family : families_) FreeChunks(family.chunks);
}

void MetricText::FreeChunks(const std::vector<Chunk>& chunks) {
  for (const Chunk& chunk : chunks) {
    if (chunk.capacity == kChunk) {
      Pool().Put(chunk.data);
    } else {
      delete[] chunk.data;
    }
  }
}

char* MetricText::Room(Family* family, size_t size) {
  if (!family->chunks.empty()) {
    Chunk& last = family->chunks.back();
    if (last.capacity - last.size >= size) return last.data + last.size;
  }
  // The first chunk small (most families of most probes are a few lines),
  // then pooled ones; a line longer than a chunk gets one of its own.
  size_t capacity = family->chunks.empty() ? kFirstChunk : kChunk;
  if (capacity < size) capacity = size <= kChunk ? kChunk : size;
  char* data = capacity == kChunk ? Pool().Get() : new char[capacity];
  family->chunks.push_back(Chunk{data, 0, capacity});
  return data;
}

void MetricText::Index(Metric metric, Family* family) {
  const size_t name = std::strlen(kMetrics[metric].name);
  for (const Chunk& chunk : family->chunks) {
    const char* line = chunk.data;
    const char* const end = chunk.data + chunk.size;
    while (line < end) {
      // name{labels} value\n: label values hold no raw newline.
      const char* eol = static_cast<const char*>(
          std::memchr(line, '\n', static_cast<size_t>(end - line)));
      const char* close = eol;
      while (*close != '}') --close;
      const char* begin = line + name + 1;
      family->seen.Insert(
          std::string_view(begin, static_cast<size_t>(close - begin)));
      line = eol + 1;
    }
  }
}

void MetricText::StartScope() {
  for (Family& family : families_) {
    family.last = std::string_view();
    family.ordered = true;
    family.seen = LabelSet();
  }
}

bool MetricText::Add(Metric metric, std::string_view labels,
                     std::string_view value) {
  if (series_ >= maxSeries_) {
    ++dropped_;
    return false;
  }
  Family& family = families_[metric];
  static const NameLengths lengths;
  const std::string_view name(kMetrics[metric].name, lengths.of[metric]);
  const size_t size = name.size() + labels.size() + value.size() + 4;
  char* line = Room(&family, size);
  // name{labels} value\n
  char* p = line;
  std::memcpy(p, name.data(), name.size());
  p += name.size();
  *p++ = '{';
  const std::string_view written(p, labels.size());
  std::memcpy(p, labels.data(), labels.size());
  p += labels.size();
  *p++ = '}';
  *p++ = ' ';
  std::memcpy(p, value.data(), value.size());
  p += value.size();
  *p = '\n';
  bool fresh;
  if (family.ordered && (family.last.data() == nullptr ||
                         LabelOrderAfter(written, family.last))) {
    fresh = true;
    family.last = written;
  } else {
    if (family.ordered) {
      family.ordered = false;
      Index(metric, &family);
    }
    fresh = family.seen.Insert(written);
  }
  if (!fresh) {
    ++duplicates_;
    return false;
  }
  family.chunks.back().size += size;
  family.bytes += size;
  ++series_;
  return true;
}

void MetricText::MoveTo(ProbeText* out) {
  std::string header;
  for (int i = 0; i < kMetricCount; ++i) {
    Family& family = families_[i];
    if (family.bytes == 0) continue;
    header.clear();
    AppendHeader(kMetrics[i].name, kMetrics[i].type, kMetrics[i].help,
                 &header);
    out->Append(header);
    for (const Chunk& chunk : family.chunks) {
      out->Adopt(chunk.data, chunk.size, chunk.capacity == kChunk);
    }
    family = Family();
  }
}

ProbeText::~ProbeText() {
  for (const Piece& piece : pieces_) {
    if (piece.chunk == nullptr) continue;
    if (piece.pooled) {
      Pool().Put(piece.chunk);
    } else {
      delete[] piece.chunk;
    }
  }
}

ProbeText::ProbeText(ProbeText&& other) noexcept
    : pieces_(std::move(other.pieces_)), size_(other.size_) {
  other.pieces_.clear();
  other.size_ = 0;
}

void ProbeText::Append(std::string_view text) {
  if (pieces_.empty() || pieces_.back().chunk != nullptr) pieces_.emplace_back();
  pieces_.back().text.append(text);
  size_ += text.size();
}

void ProbeText::Adopt(char* chunk, size_t size, bool pooled) {
  Piece piece;
  piece.chunk = chunk;
  piece.size = size;
  piece.pooled = pooled;
  pieces_.push_back(std::move(piece));
  size_ += size;
}

std::vector<std::string_view> ProbeText::Pieces() const {
  std::vector<std::string_view> views;
  views.reserve(pieces_.size());
  for (const Piece& piece : pieces_) {
    if (piece.chunk != nullptr) {
      if (piece.size > 0) views.emplace_back(piece.chunk, piece.size);
    } else if (!piece.text.empty()) {
      views.emplace_back(piece.text);
    }
  }
  return views;
}

std::string ProbeText::ToString() const {
  std::string text;
  text.reserve(size_);
  for (std::string_view piece : Pieces()) text.append(piece);
  return text;
}

}  // namespace exporter
