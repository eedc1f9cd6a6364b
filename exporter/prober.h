// Prober: one probe of one device. It reads every table of kTables from
// the device's acl.ACLService within the probe's deadline and answers the
// series, plus acl_up and acl_probe_duration_seconds.
//
// A device that does not answer, refuses the token or answers an error, a
// bad target, a token that cannot be had, malformed JSON or a reply over
// the size limit: the probe answers acl_up 0 and the reason (which the
// caller logs), never the partial series. A table the device does not
// implement (RESOURCE_EXHAUSTED "Service is unimplemented", or UNIMPLEMENTED)
// is skipped and counted in acl_probe_tables_skipped.
//
// Channels are kept per target (at most kMaxChannels, then all dropped and
// made afresh) so that a probe reuses the device's connection.
//
// Thread-safe: many probes may run at once.

#ifndef ACL_EXPORTER_PROBER_H_
#define ACL_EXPORTER_PROBER_H_

#include <grpcpp/grpcpp.h>
#include <prometheus/metric_family.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "exporter/token_file.h"

namespace exporter {

struct ProberOptions {
  std::string caFile;             // TLS to targets when set
  size_t maxReplyBytes = 64 << 20;
  size_t maxSeries = 1000000;
};

struct ProbeResult {
  std::vector<prometheus::MetricFamily> families;
  bool up = false;
  size_t series = 0;    // device series answered
  std::string failure;  // a short bounded cause ("unavailable", "json", ...)
  std::string error;    // the reason for the log; names no token
};

class Prober {
 public:
  static constexpr size_t kMaxChannels = 4096;

  // `tokens` must outlive the prober. Fails (returns nullptr, `*error` set)
  // when the CA file cannot be read.
  static std::unique_ptr<Prober> Create(const ProberOptions& options,
                                        TokenFile* tokens, std::string* error);

  Prober(const Prober&) = delete;
  Prober& operator=(const Prober&) = delete;

  ProbeResult Probe(const std::string& target,
                    std::chrono::milliseconds timeout);

 private:
  Prober(const ProberOptions& options, TokenFile* tokens,
         std::shared_ptr<grpc::ChannelCredentials> credentials);

  std::shared_ptr<grpc::Channel> ChannelFor(const std::string& target);
  // REQUIRES: `result->up` is true. Reads every table into `result`.
  void ReadTables(const std::string& target, const std::string& token,
                  std::chrono::system_clock::time_point deadline,
                  ProbeResult* result);

  const ProberOptions options_;
  TokenFile* const tokens_;
  const std::shared_ptr<grpc::ChannelCredentials> credentials_;
  std::mutex mu_;
  std::map<std::string, std::shared_ptr<grpc::Channel>> channels_;
};

// Whether `target` is HOST:PORT: a name or IPv4 address, or an IPv6
// address in brackets, and a port from 1 to 65535.
bool IsHostPort(const std::string& target);

}  // namespace exporter

#endif  // ACL_EXPORTER_PROBER_H_
