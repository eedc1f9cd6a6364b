#include "exporter/tables.h"

#include <simdjson.h>

#include <charconv>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

namespace exporter {

const char kTooLarge[] = "reply larger than --max-reply-bytes";

static_assert(ReplyBuffer::kPadding >= simdjson::SIMDJSON_PADDING,
              "simdjson reads that far past the end");

namespace {

using Label = prometheus::ClientMetric::Label;
using Reply = grpc_service::GetJsonReply;

template <class Request,
          void (Stub::async::*Method)(grpc::ClientContext*, const Request*,
                                      Reply*,
                                      std::function<void(grpc::Status)>)>
void StartUnary(Stub& stub, TableCall* call, std::function<void()> done) {
  auto request = std::make_unique<Request>();
  const Request* message = request.get();
  call->request = std::move(request);
  (stub.async()->*Method)(&call->context, message, &call->reply,
                          [call, done](grpc::Status status) {
                            call->status = std::move(status);
                            done();
                          });
}

// The streamed method: pieces appended as they come, never all of them
// held a second time.
grpc::Status FetchBasicRulesStream(Stub& stub, grpc::ClientContext* context,
                                   size_t limit, ReplyBuffer* json) {
  std::unique_ptr<grpc::ClientReader<Reply>> reader =
      stub.GetJsonACLIPv4BasicRulesStream(context, acl::ACLIPv4BasicRules());
  Reply piece;
  const char* failure = nullptr;
  while (reader->Read(&piece)) {
    if (failure != nullptr) continue;  // drain after a cancel
    if (json->size() + piece.result().size() > limit) {
      failure = kTooLarge;
    } else if (!json->Append(piece.result())) {
      failure = "out of memory";
    }
    if (failure != nullptr) context->TryCancel();
  }
  grpc::Status status = reader->Finish();
  if (failure != nullptr) {
    return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, failure);
  }
  return status;
}

#define UNARY(Name) \
  &StartUnary<acl::ACL##Name, &Stub::async::GetJsonACL##Name>, nullptr

#define RULE_TABLE(Name, ...)                                        \
  {#Name, "Rule", __VA_ARGS__, true,                                      \
   {{"GroupID", "group"}, {"GroupIndex", "group"}, {"RuleID", "rule"}}, \
   {{"Count", kRuleCount}, {"Status", kRuleStatus}}}

#define APPLIED_AT                                              \
  {"AppObjType", "object_type"}, {"AppObjIndex", "object_index"}, \
      {"AppDirection", "direction"}, {"AppAclType", "acl_type"},  \
      {"AppAclGroup", "group"}

// Appends `value` (a JSON string or unsigned number) to `labels`.
void AddLabel(const char* name, simdjson::ondemand::value value,
              std::vector<Label>* labels) {
  if (value.type() == simdjson::ondemand::json_type::string) {
    std::string_view text = value.get_string();
    labels->push_back(Label{name, std::string(text)});
    return;
  }
  const uint64_t number = value.get_uint64();
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
  labels->push_back(Label{name, std::string(digits, end)});
}

double NumberOf(simdjson::ondemand::value value) {
  if (value.type() == simdjson::ondemand::json_type::boolean) {
    return value.get_bool() ? 1 : 0;
  }
  return static_cast<double>(value.get_uint64());
}

// One row: its labels first (in the row's key order), then its values.
void ParseRow(const TableSpec& table, simdjson::ondemand::object row,
              MetricSink* sink) {
  std::vector<Label> labels;
  labels.reserve(kMaxColumns);
  if (table.tableLabel) labels.push_back(Label{"table", table.name});
  std::pair<Metric, double> values[kMaxColumns];
  int valueCount = 0;
  for (auto entry : row) {
    simdjson::ondemand::field field = std::move(entry);
    const simdjson::ondemand::raw_json_string key = field.key();
    bool matched = false;
    for (const LabelColumn* c = table.labels; c->key != nullptr; ++c) {
      if (key == std::string_view(c->key)) {
        AddLabel(c->label, field.value(), &labels);
        matched = true;
        break;
      }
    }
    if (matched) continue;
    for (const ValueColumn* c = table.values; c->key != nullptr; ++c) {
      if (key == std::string_view(c->key)) {
        values[valueCount++] = {c->metric, NumberOf(field.value())};
        break;
      }
    }
  }
  for (int i = 0; i < valueCount; ++i) {
    sink->Add(values[i].first,
              i + 1 < valueCount ? labels : std::move(labels),
              values[i].second);
  }
}

}  // namespace

const TableSpec kTables[] = {
    {"PfilterGroupRunInfo", "GroupRunInfo", UNARY(PfilterGroupRunInfo), false,
     {APPLIED_AT},
     {{"AclGroupStatus", kGroupStatus},
      {"AclGroupCountStatus", kGroupCounting},
      {"AclGroupPermitPkts", kGroupPermitPackets},
      {"AclGroupPermitBytes", kGroupPermitBytes},
      {"AclGroupDenyPkts", kGroupDenyPackets},
      {"AclGroupDenyBytes", kGroupDenyBytes}}},
    {"PfilterRuleRunInfo", "RuleRunInfo", UNARY(PfilterRuleRunInfo), false,
     {APPLIED_AT, {"AppAclRuleIndex", "rule"}},
     {{"AclRuleStatus", kRuleRunStatus},
      {"AclRuleMatchPkts", kRuleMatchPackets},
      {"AclRuleMatchBytes", kRuleMatchBytes}}},
    {"PfilterStatisticSum", "StatisticSum", UNARY(PfilterStatisticSum), false,
     {{"Direction", "direction"}, {"AclType", "acl_type"},
      {"AclGroup", "group"}, {"AclRuleIndex", "rule"}},
     {{"MatchPackets", kStatisticPackets}, {"MatchBytes", kStatisticBytes}}},
    {"ZonePairPfilterRules", "Rule", UNARY(ZonePairPfilterRules), false,
     {{"SrcZone", "src_zone"}, {"DestZone", "dst_zone"},
      {"AclType", "acl_type"}, {"AclGroup", "group"},
      {"AclRuleID", "rule"}},
     {{"RuleMatchPkts", kZonePairPackets},
      {"RuleMatchBytes", kZonePairBytes}}},
    RULE_TABLE(IPv4BasicRules, nullptr, &FetchBasicRulesStream),
    RULE_TABLE(IPv4NamedBasicRules, UNARY(IPv4NamedBasicRules)),
    RULE_TABLE(IPv6BasicRules, UNARY(IPv6BasicRules)),
    RULE_TABLE(IPv6NamedBasicRules, UNARY(IPv6NamedBasicRules)),
    RULE_TABLE(IPv4AdvanceRules, UNARY(IPv4AdvanceRules)),
    RULE_TABLE(IPv4NamedAdvanceRules, UNARY(IPv4NamedAdvanceRules)),
    RULE_TABLE(IPv6AdvanceRules, UNARY(IPv6AdvanceRules)),
    RULE_TABLE(IPv6NamedAdvanceRules, UNARY(IPv6NamedAdvanceRules)),
};
const size_t kTableCount = sizeof kTables / sizeof kTables[0];

bool ParseTable(const TableSpec& table, ReplyBuffer* json, MetricSink* sink,
                std::string* error) {
  // A parser per table: its buffers are sized to this answer and freed with
  // it, so a probe of a huge table leaves nothing behind.
  simdjson::ondemand::parser parser;
  try {
    simdjson::ondemand::document doc =
        parser.iterate(json->data(), json->size(), json->capacity());
    simdjson::ondemand::object top = doc.get_object();
    simdjson::ondemand::object body = top[table.name].get_object();
    simdjson::ondemand::value rows;
    if (body.find_field_unordered(table.row).get(rows) ==
        simdjson::NO_SUCH_FIELD) {
      return true;  // no rows
    }
    simdjson::ondemand::array list = rows.get_array();
    const size_t count = list.count_elements();  // a quick structural scan
    for (const ValueColumn* c = table.values; c->key != nullptr; ++c) {
      sink->Reserve(c->metric, count);
    }
    for (auto row : list) ParseRow(table, row.get_object(), sink);
  } catch (const simdjson::simdjson_error& e) {
    *error = std::string("malformed JSON in ") + table.name + ": " + e.what();
    return false;
  }
  return true;
}

}  // namespace exporter
