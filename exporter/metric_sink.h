// MetricSink: the metric families of one probe, in prometheus-cpp's metric
// model (prometheus::MetricFamily), filled row by row as the device's
// tables are parsed and then written out with prometheus::TextSerializer.
//
// Every family the exporter can answer is listed once in kMetrics; a
// family's position there is its Metric value. The sink caps the number of
// series of one probe (label cardinality grows with the device's rules):
// series past the cap are dropped and counted.
//
// Not thread-safe: one sink belongs to one probe.

#ifndef ACL_EXPORTER_METRIC_SINK_H_
#define ACL_EXPORTER_METRIC_SINK_H_

#include <prometheus/metric_family.h>

#include <cstddef>
#include <string>
#include <vector>

namespace exporter {

enum Metric {
  kGroupStatus,
  kGroupCounting,
  kGroupPermitPackets,
  kGroupPermitBytes,
  kGroupDenyPackets,
  kGroupDenyBytes,
  kRuleRunStatus,
  kRuleMatchPackets,
  kRuleMatchBytes,
  kStatisticPackets,
  kStatisticBytes,
  kZonePairPackets,
  kZonePairBytes,
  kRuleCount,
  kRuleStatus,
  kMetricCount
};

struct MetricSpec {
  const char* name;
  const char* help;
  prometheus::MetricType type;
};

extern const MetricSpec kMetrics[kMetricCount];

class MetricSink {
 public:
  explicit MetricSink(size_t maxSeries);

  MetricSink(const MetricSink&) = delete;
  MetricSink& operator=(const MetricSink&) = delete;

  // Adds one series of `metric` with `labels` (moved from) and `value`.
  void Add(Metric metric, std::vector<prometheus::ClientMetric::Label> labels,
           double value);

  // Makes room for `rows` more series of `metric`.
  void Reserve(Metric metric, size_t rows);

  size_t series() const { return series_; }
  size_t dropped() const { return dropped_; }

  // The non-empty families, moved out; the sink is empty afterwards.
  std::vector<prometheus::MetricFamily> Take();

 private:
  const size_t maxSeries_;
  size_t series_ = 0;
  size_t dropped_ = 0;
  std::vector<prometheus::MetricFamily> families_;
};

}  // namespace exporter

#endif  // ACL_EXPORTER_METRIC_SINK_H_
