// MetricText: the series of one probe, written straight in the Prometheus
// text format as the device's rows are parsed.
//
// Every family the exporter can answer is listed once in kMetrics; a
// family's position there is its Metric value. Each family has a text
// buffer of its own, appended line by line (the eight rule tables share
// families, and a family's lines must be contiguous); AppendTo() writes
// each family once with its # HELP and # TYPE. A series whose label text
// is already in its family is dropped and counted (a hash set over the
// label text, exact compare); past the cap on series of a probe (label
// cardinality grows with the device's rules) series are dropped and
// counted.
//
// Label values are escaped here as the text format requires; the caller
// gives label values free of other control characters (see LabelValueOk).
//
// Not thread-safe: one MetricText belongs to one probe.

#ifndef ACL_EXPORTER_METRIC_TEXT_H_
#define ACL_EXPORTER_METRIC_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
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
  const char* type;  // "counter" or "gauge"
  const char* help;
};

extern const MetricSpec kMetrics[kMetricCount];

// Whether `value` may be a label value: no control character but the
// newline (which the text format escapes).
bool LabelValueOk(std::string_view value);

// Appends `value` to `*out` escaped as a label value: \ as \\, " as \",
// newline as \n.
void AppendLabelValue(std::string_view value, std::string* out);

// Appends the family's "# HELP" and "# TYPE" lines.
void AppendHeader(const char* name, const char* type, const char* help,
                  std::string* out);

class MetricText {
 public:
  explicit MetricText(size_t maxSeries);

  MetricText(const MetricText&) = delete;
  MetricText& operator=(const MetricText&) = delete;

  // Adds the series `metric{labels} value`: `labels` is the text between
  // the braces (label="escaped value",... in a fixed order, or empty),
  // `value` a number's text. Returns false when the series is dropped: a
  // duplicate of one of its family, or past the cap.
  bool Add(Metric metric, std::string_view labels, std::string_view value);

  size_t series() const { return series_; }
  size_t dropped() const { return dropped_; }        // past the cap
  size_t duplicates() const { return duplicates_; }  // label set seen

  // Appends the non-empty families, each with its header, to `*out`, and
  // frees them; the text is empty afterwards.
  void AppendTo(std::string* out);

 private:
  // The label texts of one family: open addressing over their places in
  // the family's text.
  class LabelSet {
   public:
    // Adds text[begin, begin + size) unless an equal label text is there;
    // false if it is.
    bool Insert(const std::string& text, size_t begin, size_t size);

   private:
    struct Slot {
      uint64_t begin;  // kEmpty: free
      uint64_t size;
      uint32_t hash;
    };
    static constexpr uint64_t kEmpty = ~uint64_t{0};
    void Grow();

    std::vector<Slot> slots_;
    size_t used_ = 0;
  };

  struct Family {
    std::string text;
    LabelSet seen;
  };

  const size_t maxSeries_;
  size_t series_ = 0;
  size_t dropped_ = 0;
  size_t duplicates_ = 0;
  std::vector<Family> families_;
};

}  // namespace exporter

#endif  // ACL_EXPORTER_METRIC_TEXT_H_
