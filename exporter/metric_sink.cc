#include "exporter/metric_sink.h"

#include <algorithm>
#include <utility>

namespace exporter {

using prometheus::MetricType;

const MetricSpec kMetrics[kMetricCount] = {
    {"acl_group_status", "Run state of an applied ACL group (device code).",
     MetricType::Gauge},
    {"acl_group_counting", "Counting state of an applied ACL group (device "
     "code).", MetricType::Gauge},
    {"acl_group_permit_packets_total", "Packets permitted by an applied ACL "
     "group.", MetricType::Counter},
    {"acl_group_permit_bytes_total", "Bytes permitted by an applied ACL "
     "group.", MetricType::Counter},
    {"acl_group_deny_packets_total", "Packets denied by an applied ACL group.",
     MetricType::Counter},
    {"acl_group_deny_bytes_total", "Bytes denied by an applied ACL group.",
     MetricType::Counter},
    {"acl_rule_run_status", "Run state of a rule of an applied ACL group "
     "(device code).", MetricType::Gauge},
    {"acl_rule_match_packets_total", "Packets matched by a rule of an applied "
     "ACL group.", MetricType::Counter},
    {"acl_rule_match_bytes_total", "Bytes matched by a rule of an applied ACL "
     "group.", MetricType::Counter},
    {"acl_statistic_match_packets_total", "Packets matched, summed per "
     "direction, group and rule.", MetricType::Counter},
    {"acl_statistic_match_bytes_total", "Bytes matched, summed per direction, "
     "group and rule.", MetricType::Counter},
    {"acl_zone_pair_rule_match_packets_total", "Packets matched by a rule of "
     "a zone-pair packet filter.", MetricType::Counter},
    {"acl_zone_pair_rule_match_bytes_total", "Bytes matched by a rule of a "
     "zone-pair packet filter.", MetricType::Counter},
    {"acl_rule_count_total", "A configured rule's match count.",
     MetricType::Counter},
    {"acl_rule_status", "A configured rule's state (device code).",
     MetricType::Gauge},
};

MetricSink::MetricSink(size_t maxSeries) : maxSeries_(maxSeries) {
  families_.resize(kMetricCount);
  for (int i = 0; i < kMetricCount; ++i) {
    families_[i].name = kMetrics[i].name;
    families_[i].help = kMetrics[i].help;
    families_[i].type = kMetrics[i].type;
  }
}

void MetricSink::Add(Metric metric,
                     std::vector<prometheus::ClientMetric::Label> labels,
                     double value) {
  if (series_ >= maxSeries_) {
    ++dropped_;
    return;
  }
  ++series_;
  std::vector<prometheus::ClientMetric>& metrics = families_[metric].metric;
  metrics.emplace_back();
  prometheus::ClientMetric& m = metrics.back();
  m.label = std::move(labels);
  if (kMetrics[metric].type == MetricType::Counter) {
    m.counter.value = value;
  } else {
    m.gauge.value = value;
  }
}

void MetricSink::Reserve(Metric metric, size_t rows) {
  std::vector<prometheus::ClientMetric>& metrics = families_[metric].metric;
  const size_t room = maxSeries_ > series_ ? maxSeries_ - series_ : 0;
  const size_t need = metrics.size() + std::min(rows, room);
  // Geometric, as push_back grows: the eight rule tables share families.
  if (need > metrics.capacity()) {
    metrics.reserve(std::max(need, metrics.capacity() + metrics.capacity() / 2));
  }
}

std::vector<prometheus::MetricFamily> MetricSink::Take() {
  std::vector<prometheus::MetricFamily> out;
  for (prometheus::MetricFamily& family : families_) {
    if (!family.metric.empty()) out.push_back(std::move(family));
  }
  families_.clear();
  return out;
}

}  // namespace exporter
