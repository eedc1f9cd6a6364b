#include "exporter/prober.h"

#include <malloc.h>

#include <cctype>
#include <charconv>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include <google/protobuf/stubs/logging.h>

#include "client/host_port.h"
#include "client/service_client.h"
#include "exporter/tables.h"

namespace exporter {

namespace {

constexpr char kUnimplemented[] = "Service is unimplemented";
constexpr char kBuffersFull[] = "Buffers full";  // the channel's quota
constexpr char kCancelled[] = "probe cancelled";
constexpr char kOverBudget[] =
    "the replies held at once exceed the probe's budget";
// After a probe that took in this much (reply bytes, and kPieceCost per
// streamed piece), its freed memory is given back to the system at once.
constexpr size_t kTrimAfter = 1 << 20;
constexpr size_t kPieceCost = 256;

bool IsTooLarge(const grpc::Status& status) {
  const std::string& message = status.error_message();
  return status.error_code() == grpc::StatusCode::RESOURCE_EXHAUSTED &&
         (message == kTooLarge || message == kBuffersFull ||
          message == kOverBudget ||
          message.find("larger than max") != std::string::npos);
}

bool IsUnimplemented(const grpc::Status& status) {
  return status.error_code() == grpc::StatusCode::UNIMPLEMENTED ||
         (status.error_code() == grpc::StatusCode::RESOURCE_EXHAUSTED &&
          status.error_message() == kUnimplemented);
}

const char* FailureOf(const grpc::Status& status) {
  switch (status.error_code()) {
    case grpc::StatusCode::UNAVAILABLE:
      return "unavailable";
    case grpc::StatusCode::DEADLINE_EXCEEDED:
      return "deadline";
    case grpc::StatusCode::PERMISSION_DENIED:
    case grpc::StatusCode::UNAUTHENTICATED:
      return "denied";
    default:
      return IsTooLarge(status) ? "too_large" : "error";
  }
}

// The device's words (status message, reason trailer) escaped.
std::string Describe(const grpc::Status& status,
                     const grpc::ClientContext& context) {
  std::string text = acl_client::CodeName(status.error_code()) + ": " +
                     LogSafe(status.error_message());
  const std::string reason = acl_client::ReasonOf(context);
  if (!reason.empty()) text += " (reason: " + LogSafe(reason) + ")";
  return text;
}

// A gauge of one series, `labels` (label="value",...) may be empty.
template <class Number>
void AppendGauge(const char* name, const char* help, Number value,
                 std::string* out) {
  AppendHeader(name, "gauge", help, out);
  char digits[32];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out->append(name).push_back(' ');
  out->append(digits, static_cast<size_t>(end - digits)).push_back('\n');
}

void Fail(ProbeResult* result, const char* failure, std::string error) {
  if (!result->up) return;  // the first failure names the probe
  result->up = false;
  result->failure = failure;
  result->error = std::move(error);
}

}  // namespace

bool IsHostPort(const std::string& target) {
  std::string host;
  int port = 0;
  if (!acl_client::SplitHostPort(target, &host, &port) || port == 0) {
    return false;
  }
  if (host.front() == '[') {
    if (host.size() < 4 || host.back() != ']') return false;
    for (size_t i = 1; i + 1 < host.size(); ++i) {
      if (!std::isxdigit(static_cast<unsigned char>(host[i])) &&
          host[i] != ':' && host[i] != '.') {
        return false;
      }
    }
    return true;
  }
  for (char c : host) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' &&
        c != '-' && c != '_') {
      return false;
    }
  }
  return true;
}

std::string LogSafe(std::string_view text, size_t max) {
  std::string out;
  const size_t n = std::min(text.size(), max);
  out.reserve(n + 8);
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7f) {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  if (text.size() > max) out += "...";
  return out;
}

void ProbeCancel::Cancel() {
  std::lock_guard<std::mutex> lock(mu_);
  cancelled_ = true;
  for (grpc::ClientContext* context : contexts_) context->TryCancel();
}

bool ProbeCancel::cancelled() const {
  std::lock_guard<std::mutex> lock(mu_);
  return cancelled_;
}

bool ProbeCancel::Add(grpc::ClientContext* context) {
  std::lock_guard<std::mutex> lock(mu_);
  if (cancelled_) return false;
  contexts_.push_back(context);
  return true;
}

void ProbeCancel::Remove(grpc::ClientContext* context) {
  std::lock_guard<std::mutex> lock(mu_);
  for (size_t i = 0; i < contexts_.size(); ++i) {
    if (contexts_[i] == context) {
      contexts_[i] = contexts_.back();
      contexts_.pop_back();
      return;
    }
  }
}

std::unique_ptr<Prober> Prober::Create(const ProberOptions& options,
                                       std::string* error) {
  // protobuf would write its own line to stderr for a device's reply it
  // refuses (invalid UTF-8); the probe's failure is logged by the caller.
  google::protobuf::SetLogHandler(nullptr);
  std::shared_ptr<grpc::ChannelCredentials> credentials =
      acl_client::Credentials(options.caFile, error);
  if (credentials == nullptr) return nullptr;
  return std::unique_ptr<Prober>(new Prober(options, credentials));
}

Prober::Prober(const ProberOptions& options,
               std::shared_ptr<grpc::ChannelCredentials> credentials)
    : options_(options), credentials_(std::move(credentials)) {}

std::shared_ptr<grpc::Channel> Prober::NewChannel(
    const std::string& target) const {
  grpc::ChannelArguments args;
  args.SetMaxReceiveMessageSize(static_cast<int>(
      std::min(options_.maxReplyBytes, static_cast<size_t>(INT_MAX))));
  grpc::ResourceQuota quota("acl-exporter probe");
  quota.Resize(kQuotaReplies * options_.maxReplyBytes + kQuotaSlack);
  args.SetResourceQuota(quota);
  return grpc::CreateCustomChannel(target, credentials_, args);
}

std::shared_ptr<grpc::Channel> Prober::Acquire(const std::string& target) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = channels_.find(target);
    if (it != channels_.end()) {
      if (it->second.busy) return NewChannel(target);  // not kept
      it->second.busy = true;
      return it->second.channel;
    }
  }
  std::shared_ptr<grpc::Channel> channel = NewChannel(target);
  std::lock_guard<std::mutex> lock(mu_);
  if (channels_.size() >= kMaxChannels) {
    // Channels in use stay; their probes give them back.
    for (auto it = channels_.begin(); it != channels_.end();) {
      it = it->second.busy ? std::next(it) : channels_.erase(it);
    }
  }
  if (channels_.count(target) == 0) channels_[target] = {channel, true};
  return channel;
}

void Prober::Release(const std::string& target,
                     const std::shared_ptr<grpc::Channel>& channel,
                     bool keep) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = channels_.find(target);
  if (it != channels_.end() && it->second.channel == channel) {
    if (keep) {
      it->second.busy = false;
    } else {
      channels_.erase(it);
    }
  }
}

// What a probe took in, for the trim after it.
struct Prober::Tally {
  size_t bytes = 0;
  size_t pieces = 0;
  size_t tablesSkipped = 0;
};

ProbeResult Prober::Probe(const std::string& target, const std::string& token,
                          uint64_t tables,
                          std::chrono::system_clock::time_point deadline,
                          ProbeCancel* cancel, ProbeText* body) {
  const auto start = std::chrono::steady_clock::now();
  ProbeResult result;
  result.up = true;
  Tally tally;
  RowSkips skips;
  std::string tail;  // the probe's own series
  {
    MetricText text(options_.maxSeries);
    if (!IsHostPort(target)) {
      Fail(&result, "error", "target is not HOST:PORT");
    } else {
      std::shared_ptr<grpc::Channel> channel = Acquire(target);
      ReadTables(channel, token, tables, deadline, cancel, &text,
                 &tally, &skips, &result);
      // A device that failed the probe does not keep its connection (nor
      // the transport's buffers, sized to what it sent).
      Release(target, channel, result.up);
    }
    if (result.up) {
      result.series = text.series();
      text.MoveTo(body);
      AppendGauge("acl_probe_tables_skipped",
                  "Tables the device does not implement.",
                  tally.tablesSkipped, &tail);
      AppendGauge("acl_probe_series_dropped",
                  "Series left out past --max-series.", text.dropped(),
                  &tail);
      AppendHeader("acl_probe_rows_skipped", "gauge",
                   "Rows of the device's tables that could not be series, "
                   "by cause.", &tail);
      for (int i = 0; i < kSkipCauseCount; ++i) {
        const size_t n = skips.count[i];
        tail.append("acl_probe_rows_skipped{cause=\"")
            .append(kSkipCauses[i])
            .append("\"} ")
            .append(std::to_string(n))
            .push_back('\n');
        if (n > 0) result.skippedRows[kSkipCauses[i]] = n;
      }
    }
  }
  // Freed memory of a large or many-pieced probe goes back at once: small
  // blocks freed by gRPC's and this thread's arenas would stay otherwise.
  if (tally.bytes + tally.pieces * kPieceCost > kTrimAfter) malloc_trim(0);
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  AppendGauge("acl_up", "Whether the device answered every table (1) or not.",
              result.up ? 1 : 0, &tail);
  AppendGauge("acl_probe_duration_seconds", "How long the probe took.",
              took.count(), &tail);
  body->Append(tail);
  return result;
}

// The unary tables are asked all at once (one round of the connection
// instead of one per table), the streamed one meanwhile on this thread,
// parsed piece by piece as it arrives; then the unary answers are parsed
// one by one, each in place and freed once parsed. Replies received and
// not yet parsed may hold kBudgetReplies x --max-reply-bytes at most: past
// that every call is cancelled.
void Prober::ReadTables(const std::shared_ptr<grpc::Channel>& channel,
                        const std::string& token, uint64_t tables,
                        std::chrono::system_clock::time_point deadline,
                        ProbeCancel* cancel, MetricText* text, Tally* tally,
                        RowSkips* skips, ProbeResult* result) {
  std::unique_ptr<Stub> stub = acl::ACLService::NewStub(channel);
  auto chosen = [tables](size_t i) { return i < 64 && ((tables >> i) & 1); };
  std::vector<std::unique_ptr<TableCall>> calls(kTableCount);
  std::mutex mu;
  std::condition_variable allDone;
  size_t pending = 0;
  size_t held = 0;
  bool overBudget = false;
  const size_t budget = kBudgetReplies * options_.maxReplyBytes;
  auto cancelAll = [&calls] {
    for (auto& call : calls) {
      if (call != nullptr) call->context.TryCancel();
    }
  };
  size_t added = 0;
  for (size_t i = 0; i < kTableCount; ++i) {
    if (!chosen(i)) continue;
    calls[i] = std::make_unique<TableCall>();
    grpc::ClientContext& context = calls[i]->context;
    context.set_deadline(deadline);
    if (!token.empty()) context.AddMetadata(acl_client::kTokenKey, token);
    if (cancel != nullptr && !cancel->Add(&context)) break;
    added = i + 1;
  }
  auto unregister = [&] {
    if (cancel == nullptr) return;
    for (size_t i = 0; i < added; ++i) {
      if (calls[i] != nullptr) cancel->Remove(&calls[i]->context);
    }
  };
  if (cancel != nullptr && cancel->cancelled()) {
    unregister();
    Fail(result, "cancelled", kCancelled);
    return;
  }
  for (size_t i = 0; i < kTableCount; ++i) {
    if (calls[i] == nullptr || kTables[i].start == nullptr) continue;
    std::lock_guard<std::mutex> lock(mu);
    ++pending;
    TableCall* call = calls[i].get();
    kTables[i].start(*stub, call, [&, call] {
      std::lock_guard<std::mutex> lock(mu);
      held += call->reply.result().size();
      if (held > budget && !overBudget) {
        overBudget = true;
        cancelAll();
      }
      if (--pending == 0) allDone.notify_one();
    });
  }
  // The streamed table is parsed as it arrives, into the probe's text.
  std::unique_ptr<TableStream> streamed;
  for (size_t i = 0; i < kTableCount; ++i) {
    if (calls[i] == nullptr || kTables[i].fetch == nullptr) continue;
    streamed = std::make_unique<TableStream>(kTables[i], text, skips);
    calls[i]->status =
        kTables[i].fetch(*stub, &calls[i]->context, options_.maxReplyBytes,
                         streamed.get(), &tally->pieces);
  }
  {
    std::unique_lock<std::mutex> lock(mu);
    allDone.wait(lock, [&pending] { return pending == 0; });
  }
  unregister();
  tally->bytes = held + (streamed != nullptr ? streamed->size() : 0);
  if (cancel != nullptr && cancel->cancelled()) {
    Fail(result, "cancelled", kCancelled);
    return;
  }
  if (overBudget) {
    Fail(result, "too_large", kOverBudget);
    return;
  }
  for (size_t i = 0; i < kTableCount; ++i) {
    if (calls[i] == nullptr) continue;
    const TableSpec& table = kTables[i];
    TableCall& call = *calls[i];
    if (table.fetch != nullptr && !streamed->error().empty()) {
      Fail(result, "json", streamed->error());
      return;
    }
    if (IsUnimplemented(call.status)) {
      ++tally->tablesSkipped;
      continue;
    }
    if (!call.status.ok()) {
      Fail(result, FailureOf(call.status),
           std::string(table.name) + ": " + Describe(call.status, call.context));
      return;
    }
    // A unary table's answer is parsed from the reply as it is.
    std::unique_ptr<TableStream> unary;
    TableStream* stream = streamed.get();
    if (table.fetch == nullptr) {
      unary = std::make_unique<TableStream>(table, text, skips);
      stream = unary.get();
      stream->Add(call.reply.result());
      calls[i].reset();  // the reply's text with it
    }
    if (!stream->Finish()) {
      Fail(result, "json", stream->error());
      return;
    }
  }
}

}  // namespace exporter
