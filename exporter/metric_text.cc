#include "exporter/metric_text.h"

#include <cstring>

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

void AppendHeader(const char* name, const char* type, const char* help,
                  std::string* out) {
  out->append("# HELP ").append(name).append(" ").append(help);
  out->append("\n# TYPE ").append(name).append(" ").append(type);
  out->push_back('\n');
}

bool MetricText::LabelSet::Insert(const std::string& text, size_t begin,
                                  size_t size) {
  if ((used_ + 1) * 2 > slots_.size()) Grow();
  const uint32_t hash = Hash(text.data() + begin, size);
  const size_t mask = slots_.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.begin == kEmpty) {
      slot = Slot{begin, size, hash};
      ++used_;
      return true;
    }
    if (slot.hash == hash && slot.size == size &&
        std::memcmp(text.data() + slot.begin, text.data() + begin, size) ==
            0) {
      return false;
    }
  }
}

void MetricText::LabelSet::Grow() {
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.assign(old.empty() ? kFirstSlots : old.size() * 2,
                Slot{kEmpty, 0, 0});
  const size_t mask = slots_.size() - 1;
  for (const Slot& slot : old) {
    if (slot.begin == kEmpty) continue;
    size_t i = slot.hash & mask;
    while (slots_[i].begin != kEmpty) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

MetricText::MetricText(size_t maxSeries)
    : maxSeries_(maxSeries), families_(kMetricCount) {}

bool MetricText::Add(Metric metric, std::string_view labels,
                     std::string_view value) {
  if (series_ >= maxSeries_) {
    ++dropped_;
    return false;
  }
  Family& family = families_[metric];
  std::string& text = family.text;
  const size_t line = text.size();
  text.append(kMetrics[metric].name);
  text.push_back('{');
  const size_t begin = text.size();
  text.append(labels);
  if (!family.seen.Insert(text, begin, labels.size())) {
    text.resize(line);
    ++duplicates_;
    return false;
  }
  text.append("} ");
  text.append(value);
  text.push_back('\n');
  ++series_;
  return true;
}

void MetricText::AppendTo(std::string* out) {
  for (int i = 0; i < kMetricCount; ++i) {
    Family& family = families_[i];
    if (family.text.empty()) continue;
    AppendHeader(kMetrics[i].name, kMetrics[i].type, kMetrics[i].help, out);
    out->append(family.text);
    family = Family();
  }
}

}  // namespace exporter
