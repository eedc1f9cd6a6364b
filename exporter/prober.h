// Prober: one probe of one device. It reads the chosen tables of kTables
// from the device's acl.ACLService within the probe's deadline and answers
// their series in the Prometheus text format, plus acl_up and
// acl_probe_duration_seconds.
//
// A device that does not answer, refuses the token or answers an error, a
// bad target, a cancelled probe, malformed JSON or a reply over the size
// limit: the probe answers acl_up 0 and the reason (which the caller logs),
// never the partial series. A table the device does not implement
// (RESOURCE_EXHAUSTED "Service is unimplemented", or UNIMPLEMENTED) is
// skipped and counted in acl_probe_tables_skipped; rows that cannot be
// series are skipped and counted in acl_probe_rows_skipped{cause}.
//
// Memory of a probe is bounded at the transport: the channel's receive
// limit is --max-reply-bytes, and since gRPC takes in a whole message
// before it checks that limit, each channel also has a resource quota of
// kQuotaReplies replies (plus kQuotaSlack) past which the transport cancels
// its calls ("Buffers full"). Replies received and not yet parsed count
// against a budget of kBudgetReplies replies per probe. docs/fleet.md has
// the resulting bound per probe in flight.
//
// Channels are kept per target (at most kMaxChannels, then all dropped and
// made afresh) so that a probe reuses the device's connection; a channel
// serves one probe at a time (another probe of the same target at the same
// time gets a channel of its own, not kept), so that its quota is the
// probe's.
//
// Thread-safe: many probes may run at once.

#ifndef ACL_EXPORTER_PROBER_H_
#define ACL_EXPORTER_PROBER_H_

#include <grpcpp/grpcpp.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "exporter/metric_text.h"

namespace exporter {

struct RowSkips;

struct ProberOptions {
  std::string caFile;               // TLS to devices when set
  size_t maxReplyBytes = 64 << 20;  // one table's answer, bytes
  size_t maxSeries = 1000000;       // series of one probe
};

// ProbeCancel: lets another thread end a probe early (its client gone, the
// exporter stopping). Cancel() cancels the probe's device calls at once;
// the probe then answers acl_up 0, cause "cancelled". Owned by the caller
// of Probe() and must outlive it. Thread-safe.
class ProbeCancel {
 public:
  ProbeCancel() = default;
  ProbeCancel(const ProbeCancel&) = delete;
  ProbeCancel& operator=(const ProbeCancel&) = delete;

  void Cancel();
  bool cancelled() const;

 private:
  friend class Prober;
  // Adds a call to cancel with the probe; false (nothing added) when the
  // probe is cancelled already.
  bool Add(grpc::ClientContext* context);
  // REQUIRES: `context` was added and its call is over.
  void Remove(grpc::ClientContext* context);

  mutable std::mutex mu_;
  bool cancelled_ = false;
  std::vector<grpc::ClientContext*> contexts_;
};

struct ProbeResult {
  bool up = false;
  // When !up, a bounded cause: "unavailable", "deadline", "denied",
  // "too_large", "json", "error", "cancelled".
  std::string failure;
  // One log line's reason: device text escaped (no raw control characters
  // or newlines), bounded, never a token.
  std::string error;
  size_t series = 0;  // device series answered
  // Rows left out, by cause ("bad_value", "bad_label", "repeated_key",
  // "duplicate_series", ...).
  std::map<std::string, size_t> skippedRows;
};

class Prober {
 public:
  static constexpr size_t kMaxChannels = 4096;
  static constexpr size_t kQuotaReplies = 2;
  static constexpr size_t kQuotaSlack = 4 << 20;
  static constexpr size_t kBudgetReplies = 2;

  // Fails (returns nullptr, `*error` set) when the CA file cannot be read.
  static std::unique_ptr<Prober> Create(const ProberOptions& options,
                                        std::string* error);

  Prober(const Prober&) = delete;
  Prober& operator=(const Prober&) = delete;

  // Bit i of `tables` set: read kTables[i].
  static constexpr uint64_t kAllTables = ~uint64_t{0};

  // REQUIRES: `target` is HOST:PORT and allowed (the HTTP side checked it).
  // Reads the tables of `tables` with `token` ("" for none) until
  // `deadline`, and appends the whole exposition text (device series,
  // acl_up, acl_probe_duration_seconds, ...) to *body, in pieces to be
  // sent as they are. `cancel` may be null.
  ProbeResult Probe(const std::string& target, const std::string& token,
                    uint64_t tables,
                    std::chrono::system_clock::time_point deadline,
                    ProbeCancel* cancel, ProbeText* body);

 private:
  Prober(const ProberOptions& options,
         std::shared_ptr<grpc::ChannelCredentials> credentials);

  struct Channel {
    std::shared_ptr<grpc::Channel> channel;
    bool busy = false;  // a probe uses it
  };
  // A channel to `target` that no other probe uses; Release() gives it
  // back, to be kept for the next probe or (keep false) dropped.
  std::shared_ptr<grpc::Channel> Acquire(const std::string& target);
  void Release(const std::string& target,
               const std::shared_ptr<grpc::Channel>& channel, bool keep);
  std::shared_ptr<grpc::Channel> NewChannel(const std::string& target) const;

  struct Tally;
  // REQUIRES: `result->up` is true. Reads the tables into `text`.
  void ReadTables(const std::shared_ptr<grpc::Channel>& channel,
                  const std::string& token, uint64_t tables,
                  std::chrono::system_clock::time_point deadline,
                  ProbeCancel* cancel, MetricText* text, Tally* tally,
                  RowSkips* skips, ProbeResult* result);

  const ProberOptions options_;
  const std::shared_ptr<grpc::ChannelCredentials> credentials_;
  std::mutex mu_;
  std::map<std::string, Channel> channels_;
};

// `text` made fit for one log line: printable ASCII as is, a backslash
// doubled, every other byte as \xNN; at most `max` bytes of it, then
// "...".
std::string LogSafe(std::string_view text, size_t max = 300);

// Whether `target` is HOST:PORT: a name or IPv4 address, or an IPv6
// address in brackets, and a port from 1 to 65535.
bool IsHostPort(const std::string& target);

}  // namespace exporter

#endif  // ACL_EXPORTER_PROBER_H_
