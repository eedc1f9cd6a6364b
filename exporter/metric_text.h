// MetricText: the series of one probe, written straight in the Prometheus
// text format as the device's rows are parsed.
//
// Every family the exporter can answer is listed once in kMetrics; a
// family's position there is its Metric value. Each family has a text of
// its own, appended line by line (the eight rule tables share families,
// and a family's lines must be contiguous), in chunks that never move: a
// line never spans two, and a full chunk is never copied. Large chunks
// come from a pool shared by the probes (at most kPoolChunks kept), so
// that a large probe does not map and fault in fresh pages for its text
// every time. MoveTo() writes each family once with its # HELP and
// # TYPE.
//
// A series whose label text is already in its family is dropped and
// counted. Devices list their rows in order, so while a family's label
// texts come in strictly increasing order (LabelOrderAfter) each is new
// without a look-up; from the first one out of order on, a hash set over
// the family's label texts (exact compare) decides. The caller may start a
// scope (StartScope) when no series to come can equal one before it: the
// order and the set then start afresh. Past the cap on series of a
// probe (label cardinality grows with the device's rules) series are
// dropped and counted.
//
// Label values are escaped here as the text format requires; the caller
// gives label values free of other control characters (see LabelValueOk).
//
// Not thread-safe: one MetricText belongs to one probe (the pool is
// thread-safe).

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

// Whether label text `a` comes strictly after `b`: their pieces between
// double quotes compared one by one, a longer piece after a shorter one,
// pieces of one length by their bytes, and a text that has more pieces
// after one that ends. A strict total order on texts, under which label
// sets of numbered rules listed by number are increasing.
bool LabelOrderAfter(std::string_view a, std::string_view b);

// Appends the family's "# HELP" and "# TYPE" lines.
void AppendHeader(const char* name, const char* type, const char* help,
                  std::string* out);

// ProbeText: a probe's whole answer as the pieces it was written in (the
// families' chunks, their headers, the probe's own series), to be sent as
// they are, with no copy joining them. Owns its pieces: pooled chunks go
// back to MetricText's pool with it. Movable; not thread-safe.
class ProbeText {
 public:
  ProbeText() = default;
  ~ProbeText();
  ProbeText(ProbeText&& other) noexcept;
  ProbeText& operator=(ProbeText&&) = delete;
  ProbeText(const ProbeText&) = delete;
  ProbeText& operator=(const ProbeText&) = delete;

  // Appends a copy of `text` (headers and the like: small texts).
  void Append(std::string_view text);

  size_t size() const { return size_; }
  // The pieces in order; valid until the text is changed, moved or freed.
  std::vector<std::string_view> Pieces() const;
  std::string ToString() const;

 private:
  friend class MetricText;
  struct Piece {
    std::string text;       // a copied text, when chunk is null
    char* chunk = nullptr;  // else the first `size` bytes of a chunk
    size_t size = 0;
    bool pooled = false;    // the chunk goes back to the pool
  };
  // Takes over `size` bytes of `chunk`.
  void Adopt(char* chunk, size_t size, bool pooled);

  std::vector<Piece> pieces_;
  size_t size_ = 0;
};

class MetricText {
 public:
  static constexpr size_t kChunk = 64 << 10;  // a pooled chunk's bytes
  static constexpr size_t kFirstChunk = 4 << 10;
  static constexpr size_t kPoolChunks = 64;   // kept between probes

  explicit MetricText(size_t maxSeries);
  ~MetricText();

  MetricText(const MetricText&) = delete;
  MetricText& operator=(const MetricText&) = delete;

  // Adds the series `metric{labels} value`: `labels` is the text between
  // the braces (label="escaped value",... in a fixed order, or empty),
  // `value` a number's text. Returns false when the series is dropped: a
  // duplicate of one of its family, or past the cap.
  bool Add(Metric metric, std::string_view labels, std::string_view value);

  // REQUIRES: no series added from now on equals one added before.
  void StartScope();

  size_t series() const { return series_; }
  size_t dropped() const { return dropped_; }        // past the cap
  size_t duplicates() const { return duplicates_; }  // label set seen

  // Appends the non-empty families, each with its header, to `*out`: their
  // chunks are handed over, not copied. The text is empty afterwards.
  void MoveTo(ProbeText* out);

 private:
  // The label texts of one family: open addressing over the texts where
  // they are written (chunks never move).
  class LabelSet {
   public:
    // Adds `text` unless an equal text is there; false if it is.
    bool Insert(std::string_view text);

   private:
    struct Slot {
      const char* text;  // nullptr: free
      uint64_t size;
      uint32_t hash;
    };
    void Grow();

    std::vector<Slot> slots_;
    size_t used_ = 0;
  };

  struct Chunk {
    char* data;
    size_t size;
    size_t capacity;
  };

  struct Family {
    std::vector<Chunk> chunks;
    size_t bytes = 0;
    std::string_view last;  // the last label text, while `ordered`
    bool ordered = true;    // every label text after the one before
    LabelSet seen;          // every label text, once not `ordered`
  };

  // Room for `size` more bytes at the end of `family`'s last chunk.
  char* Room(Family* family, size_t size);
  // Fills `family->seen` with the label texts of its lines so far.
  static void Index(Metric metric, Family* family);
  static void FreeChunks(const std::vector<Chunk>& chunks);

  const size_t maxSeries_;
  size_t series_ = 0;
  size_t dropped_ = 0;
  size_t duplicates_ = 0;
  Family families_[kMetricCount];
};

}  // namespace exporter

#endif  // ACL_EXPORTER_METRIC_TEXT_H_
