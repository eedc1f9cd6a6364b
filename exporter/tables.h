// The device tables a probe reads, as constant data: for each, how to fetch
// its whole JSON answer over acl.ACLService, which row columns become labels
// and which become metric values. ParseTable turns one answer into series
// with simdjson's On-Demand parser, one row at a time.
//
// Labels (all device-side keys; cardinality is bounded by what the device
// keeps, and per probe by --max-series):
//   table                   rule tables: which of the eight
//   group, rule             ACL group (number or name), rule number
//   object_type, object_index, direction, acl_type
//                           where a packet filter is applied
//   src_zone, dst_zone      a zone pair
//
// Thread-safe: the data is constant; ParseTable touches only its arguments.

#ifndef ACL_EXPORTER_TABLES_H_
#define ACL_EXPORTER_TABLES_H_

#include <grpcpp/grpcpp.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "exporter/metric_sink.h"
#include "exporter/reply_buffer.h"
#include "proto/acl_tree.grpc.pb.h"

namespace exporter {

using Stub = acl::ACLService::Stub;

// One table's call: its context, request and answer. The request (a
// message of the table's type) and the reply live until the call is done.
struct TableCall {
  grpc::ClientContext context;
  std::unique_ptr<google::protobuf::Message> request;
  grpc_service::GetJsonReply reply;
  grpc::Status status;
};

// Starts the whole table's unary call; `done` runs (on a gRPC thread) once
// `call->status` and `call->reply` are set.
using StartFn = void (*)(Stub& stub, TableCall* call,
                         std::function<void()> done);

// Fetches the whole table with the streamed method into `*json`, at most
// `limit` bytes, else RESOURCE_EXHAUSTED with kTooLarge as the message.
using FetchFn = grpc::Status (*)(Stub& stub, grpc::ClientContext* context,
                                 size_t limit, ReplyBuffer* json);

extern const char kTooLarge[];

struct LabelColumn {
  const char* key;    // the row's JSON key
  const char* label;  // the label's name
};

struct ValueColumn {
  const char* key;
  Metric metric;
};

constexpr int kMaxColumns = 8;

struct TableSpec {
  const char* name;  // the answer's table key, e.g. "IPv4BasicRules"
  const char* row;   // the key of its row list, e.g. "Rule"
  StartFn start;     // the unary tables
  FetchFn fetch;     // the streamed one
  bool tableLabel;   // add table="<name>" to every series
  LabelColumn labels[kMaxColumns];  // up to the first null key
  ValueColumn values[kMaxColumns];
};

extern const TableSpec kTables[];
extern const size_t kTableCount;

// Adds a series to `sink` for every value column of every row of `json`,
// the answer of `table`. Returns false with `*error` set when the text is
// not the JSON of that table.
bool ParseTable(const TableSpec& table, ReplyBuffer* json, MetricSink* sink,
                std::string* error);

}  // namespace exporter

#endif  // ACL_EXPORTER_TABLES_H_
