// The device tables a probe reads, as constant data: for each, how to fetch
// its whole JSON answer over acl.ACLService, which row columns become labels
// and which become metric values. ParseTable turns one answer into series
// of a MetricText with simdjson's On-Demand parser, one row at a time.
//
// The answer is hostile until checked: it must be one JSON document (valid
// UTF-8, nothing after it) with the table's object at the top; else the
// table fails. A row that cannot be series is skipped and counted by cause
// (SkipCause): a label that is not a string or an integer, or holds a
// control character; a value that is not an unsigned integer (up to
// 2^64-1) or a boolean; a key given twice (two keys of one label, such as
// GroupID and GroupIndex, count as one). Keys the table does not know are
// ignored, however many.
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
#include <string_view>

#include "exporter/metric_text.h"
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

class TableStream;

// Fetches the whole table with the streamed method into `*stream`, at most
// `limit` bytes, else RESOURCE_EXHAUSTED with kTooLarge as the message; a
// piece the stream refuses cancels the call. `*pieces` counts the pieces
// received.
using FetchFn = grpc::Status (*)(Stub& stub, grpc::ClientContext* context,
                                 size_t limit, TableStream* stream,
                                 size_t* pieces);

extern const char kTooLarge[];

// Why a row was skipped; kSkipCauses[cause] is its label value.
enum SkipCause {
  kSkipNotObject,        // the row is not a JSON object
  kSkipRepeatedKey,      // a key (or a label) given twice
  kSkipBadLabel,         // a label neither string nor integer
  kSkipControlChar,      // a label with a control character
  kSkipValueString,      // a value that is a string
  kSkipValueNegative,    // a negative value
  kSkipValueFractional,  // a value with a fraction or exponent
  kSkipValueTooLarge,    // a value above 2^64-1
  kSkipValueType,        // a value that is null, an object or an array
  kSkipDuplicate,        // a series already answered (the same row twice)
  kSkipCauseCount
};
extern const char* const kSkipCauses[kSkipCauseCount];

// Rows skipped, by cause.
struct RowSkips {
  size_t count[kSkipCauseCount] = {};
};

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

// Adds a series to `out` for every value column of every row of the text
// json[0, size), the answer of `table` held whole (probes use TableStream,
// which accepts no more than this); rows that cannot be series are
// counted in `skips`. Returns false with `*error` set (a bounded text that
// quotes nothing of the answer) when the text is not one JSON document of
// that table's shape; `out` may hold some of its series then.
// REQUIRES: `capacity` - `size` >= ReplyBuffer::kPadding bytes readable
// past the end.
bool ParseTable(const TableSpec& table, const char* json, size_t size,
                size_t capacity, MetricText* out, RowSkips* skips,
                std::string* error);

// TableStream: one table's answer parsed as it arrives, in pieces cut
// anywhere: RowScanner finds the rows, each batch of rows is parsed as it
// completes, and the rest of the answer (its skeleton: the text around
// the rows) once it is whole. It accepts exactly the answers ParseTable
// accepts and adds the same series and skips, while it holds a batch of
// rows and the skeleton instead of the whole answer. Once the answer is
// found broken, `out` may hold some of its series. Not thread-safe.
class TableStream {
 public:
  // Rows are parsed in batches of about this many bytes.
  static constexpr size_t kBatchBytes = 32 << 10;

  // `out` and `skips` must outlive the stream.
  TableStream(const TableSpec& table, MetricText* out, RowSkips* skips,
              size_t batchBytes = kBatchBytes);
  ~TableStream();
  TableStream(const TableStream&) = delete;
  TableStream& operator=(const TableStream&) = delete;

  // Takes the next piece; false once the answer is known to be broken
  // (error() says why), and for every piece after that.
  bool Add(std::string_view piece);
  // The answer is whole; false if it is broken.
  bool Finish();

  size_t size() const;  // bytes taken
  // A bounded text that quotes nothing of the answer.
  const std::string& error() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace exporter

#endif  // ACL_EXPORTER_TABLES_H_
