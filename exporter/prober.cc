#include "exporter/prober.h"

#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <utility>

#include "client/service_client.h"
#include "exporter/metric_sink.h"
#include "exporter/reply_buffer.h"
#include "exporter/tables.h"

#include <prometheus/text_serializer.h>

#include <sstream>

namespace exporter {

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

constexpr char kUnimplemented[] = "Service is unimplemented";

bool IsTooLarge(const grpc::Status& status) {
  return status.error_code() == grpc::StatusCode::RESOURCE_EXHAUSTED &&
         (status.error_message() == kTooLarge ||
          status.error_message().find("larger than max") != std::string::npos);
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

std::string Describe(const grpc::Status& status,
                     const grpc::ClientContext& context) {
  std::string text = acl_client::CodeName(status.error_code()) + ": " +
                     status.error_message();
  const std::string reason = acl_client::ReasonOf(context);
  if (!reason.empty()) text += " (reason: " + reason + ")";
  return text;
}

MetricFamily Gauge(const char* name, const char* help, double value) {
  MetricFamily family{name, help, MetricType::Gauge, {}};
  family.metric.emplace_back();
  family.metric.back().gauge.value = value;
  return family;
}

}  // namespace

bool IsHostPort(const std::string& target) {
  const size_t colon = target.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  const std::string host = target.substr(0, colon);
  const std::string port = target.substr(colon + 1);
  if (port.empty() || port.size() > 5) return false;
  for (char c : port) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  const long number = std::strtol(port.c_str(), nullptr, 10);
  if (number < 1 || number > 65535) return false;
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
  std::shared_ptr<grpc::ChannelCredentials> credentials =
      acl_client::Credentials(options.caFile, error);
  if (credentials == nullptr) return nullptr;
  return std::unique_ptr<Prober>(new Prober(options, credentials));
}

Prober::Prober(const ProberOptions& options,
               std::shared_ptr<grpc::ChannelCredentials> credentials)
    : options_(options), credentials_(std::move(credentials)) {}

std::shared_ptr<grpc::Channel> Prober::ChannelFor(const std::string& target) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = channels_.find(target);
  if (it != channels_.end()) return it->second;
  if (channels_.size() >= kMaxChannels) channels_.clear();
  grpc::ChannelArguments args;
  const size_t limit = options_.maxReplyBytes + 1024;  // room for framing
  args.SetMaxReceiveMessageSize(limit > 0x7fffffff ? -1
                                                   : static_cast<int>(limit));
  auto channel = grpc::CreateCustomChannel(target, credentials_, args);
  channels_.emplace(target, channel);
  return channel;
}

ProbeResult Prober::Probe(const std::string& target, const std::string& token,
                          uint64_t tables,
                          std::chrono::system_clock::time_point deadline,
                          ProbeCancel* cancel, std::string* body) {
  const auto start = std::chrono::steady_clock::now();
  ProbeResult result;
  std::vector<MetricFamily> families;
  if (!IsHostPort(target)) {
    result.failure = "error";
    result.error = "target is not HOST:PORT";
  } else {
    result.up = true;
    ReadTables(target, token, tables, deadline, cancel, &result, &families);
  }
  if (!result.up) families.clear();
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  families.push_back(
      Gauge("acl_up", "Whether the device answered every table (1) or not.",
            result.up ? 1 : 0));
  families.push_back(Gauge("acl_probe_duration_seconds",
                           "How long the probe took.", took.count()));
  std::ostringstream text;
  prometheus::TextSerializer().Serialize(text, families);
  body->append(text.str());
  return result;
}

// The unary tables are asked all at once (one round of the connection
// instead of one per table), the streamed one meanwhile on this thread;
// then the answers are parsed one by one, each freed once parsed.
void Prober::ReadTables(const std::string& target, const std::string& token,
                        uint64_t tables,
                        std::chrono::system_clock::time_point deadline,
                        ProbeCancel* cancel, ProbeResult* result,
                        std::vector<MetricFamily>* families) {
  std::unique_ptr<Stub> stub = acl::ACLService::NewStub(ChannelFor(target));
  std::vector<std::unique_ptr<TableCall>> calls;
  std::mutex mu;
  std::condition_variable allDone;
  size_t pending = 0;
  auto chosen = [tables](size_t i) { return (tables >> i) & 1; };
  for (size_t i = 0; i < kTableCount; ++i) {
    calls.push_back(std::make_unique<TableCall>());
    grpc::ClientContext& context = calls.back()->context;
    context.set_deadline(deadline);
    if (!token.empty()) context.AddMetadata(acl_client::kTokenKey, token);
    if (cancel != nullptr && chosen(i) && !cancel->Add(&context)) {
      result->up = false;
      result->failure = "cancelled";
      result->error = "probe cancelled";
      for (size_t j = 0; j < i; ++j) {
        if (chosen(j)) cancel->Remove(&calls[j]->context);
      }
      return;
    }
  }
  for (size_t i = 0; i < kTableCount; ++i) {
    if (kTables[i].start == nullptr || !chosen(i)) continue;
    std::lock_guard<std::mutex> lock(mu);
    ++pending;
    kTables[i].start(*stub, calls[i].get(), [&mu, &allDone, &pending] {
      std::lock_guard<std::mutex> lock(mu);
      if (--pending == 0) allDone.notify_one();
    });
  }
  MetricSink sink(options_.maxSeries);
  ReplyBuffer streamed;
  for (size_t i = 0; i < kTableCount; ++i) {
    if (kTables[i].fetch == nullptr || !chosen(i)) continue;
    calls[i]->status = kTables[i].fetch(*stub, &calls[i]->context,
                                        options_.maxReplyBytes, &streamed);
  }
  {
    std::unique_lock<std::mutex> lock(mu);
    allDone.wait(lock, [&pending] { return pending == 0; });
  }
  if (cancel != nullptr) {
    for (size_t i = 0; i < kTableCount; ++i) {
      if (chosen(i)) cancel->Remove(&calls[i]->context);
    }
    if (cancel->cancelled()) {
      result->up = false;
      result->failure = "cancelled";
      result->error = "probe cancelled";
      return;
    }
  }
  int skipped = 0;
  for (size_t i = 0; i < kTableCount; ++i) {
    if (!chosen(i)) continue;
    const TableSpec& table = kTables[i];
    TableCall& call = *calls[i];
    if (IsUnimplemented(call.status)) {
      ++skipped;
      continue;
    }
    if (!call.status.ok()) {
      result->up = false;
      result->failure = FailureOf(call.status);
      result->error = std::string(table.name) + ": " +
                      Describe(call.status, call.context);
      return;
    }
    ReplyBuffer unary;
    ReplyBuffer* json = table.fetch != nullptr ? &streamed : &unary;
    if (table.start != nullptr) {
      if (!unary.Append(call.reply.result())) {
        result->up = false;
        result->failure = "too_large";
        result->error = std::string(table.name) + ": out of memory";
        return;
      }
      calls[i].reset();  // the reply's text with it
    }
    if (!ParseTable(table, json, &sink, &result->error)) {
      result->up = false;
      result->failure = "json";
      return;
    }
    json->Clear();
  }
  result->series = sink.series();
  *families = sink.Take();
  families->push_back(Gauge("acl_probe_tables_skipped",
                                   "Tables the device does not implement.",
                                   skipped));
  families->push_back(
      Gauge("acl_probe_series_dropped",
            "Series left out past --max-series.",
            static_cast<double>(sink.dropped())));
}

}  // namespace exporter
