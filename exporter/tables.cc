#include "exporter/tables.h"

#include <simdjson.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <charconv>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "exporter/row_scanner.h"

namespace exporter {

const char kTooLarge[] = "reply larger than --max-reply-bytes";
// Parsers kept between tables: at most kPooledParsers, each grown for no
// more than kKeepParserBytes (a batch of rows is 32 KiB; a parser holds
// about 6 bytes per byte it was grown for).
constexpr size_t kPooledParsers = 8;
constexpr size_t kKeepParserBytes = 128 << 10;
constexpr char kBrokenStream[] =
    "the answer is not JSON of the table's shape";

static_assert(ReplyBuffer::kPadding >= simdjson::SIMDJSON_PADDING,
              "simdjson reads that far past the end");

namespace {

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

// The streamed method: each piece parsed as it comes, the answer never
// held whole.
grpc::Status FetchBasicRulesStream(Stub& stub, grpc::ClientContext* context,
                                   size_t limit, TableStream* stream,
                                   size_t* pieces) {
  std::unique_ptr<grpc::ClientReader<Reply>> reader =
      stub.GetJsonACLIPv4BasicRulesStream(context, acl::ACLIPv4BasicRules());
  Reply piece;
  const char* failure = nullptr;
  while (reader->Read(&piece)) {
    ++*pieces;
    if (failure != nullptr) continue;  // drain after a cancel
    if (stream->size() + piece.result().size() > limit) {
      failure = kTooLarge;
    } else if (!stream->Add(piece.result())) {
      failure = kBrokenStream;
    }
    if (failure != nullptr) context->TryCancel();
  }
  grpc::Status status = reader->Finish();
  if (failure == kTooLarge) {
    return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, failure);
  }
  if (failure != nullptr) {
    return grpc::Status(grpc::StatusCode::DATA_LOSS, failure);
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

using simdjson::ondemand::json_type;
using simdjson::ondemand::number_type;

constexpr size_t kMaxDigits = 24;  // of a 64-bit integer, with its sign

// One row's columns as read: label values by slot (a label's slot is its
// first column of that label name), values by column.
struct Row {
  std::string_view label[kMaxColumns];
  char digits[kMaxColumns][kMaxDigits];  // integer labels' text
  bool hasLabel[kMaxColumns];
  uint64_t value[kMaxColumns];
  bool hasValue[kMaxColumns];
};

// A column's JSON key, matched against a key as written in the answer
// (after its opening quote) by its first 8 bytes with the closing quote
// (one compare for keys of up to 7 bytes), then the rest. simdjson's
// padding makes 8 bytes readable at every key.
struct Key {
  std::string_view text;
  uint64_t head = 0;  // text + '"', its first 8 bytes
  uint64_t mask = 0;  // which bytes of head count

  Key() = default;
  explicit Key(std::string_view key) : text(key) {
    char quoted[8] = {};
    const size_t n = std::min(key.size() + 1, sizeof quoted);
    std::memcpy(quoted, key.data(), std::min(key.size(), n));
    if (key.size() < n) quoted[key.size()] = '"';
    std::memcpy(&head, quoted, sizeof head);
    char ones[8] = {};
    std::memset(ones, 0xff, n);
    std::memcpy(&mask, ones, sizeof mask);
  }

  bool Matches(const char* raw) const {
    uint64_t word;
    std::memcpy(&word, raw, sizeof word);
    if ((word & mask) != head) return false;
    if (text.size() < sizeof word) return true;
    return std::memcmp(raw + sizeof word, text.data() + sizeof word,
                       text.size() - sizeof word) == 0 &&
           raw[text.size()] == '"';
  }
};

// The keys of `table`'s columns, the slot of each label column (the first
// column that has its label name), and the constant text of the label set:
// `prefix[c]` goes before label column c's value (its name, and the table's
// label before the first).
struct Columns {
  Key label[kMaxColumns];
  int slot[kMaxColumns];
  int labels = 0;
  Key value[kMaxColumns];
  int values = 0;
  std::string table;  // table="NAME" or empty
  std::string prefix[kMaxColumns];  // label="
};

Columns ColumnsOf(const TableSpec& table) {
  Columns columns;
  if (table.tableLabel) {
    columns.table = std::string("table=\"") + table.name + "\"";
  }
  for (int i = 0; i < kMaxColumns && table.labels[i].key != nullptr; ++i) {
    columns.label[i] = Key(table.labels[i].key);
    columns.prefix[i] = std::string(table.labels[i].label) + "=\"";
    columns.slot[i] = i;
    columns.labels = i + 1;
    for (int j = 0; j < i; ++j) {
      if (std::strcmp(table.labels[i].label, table.labels[j].label) == 0) {
        columns.slot[i] = columns.slot[j];
        break;
      }
    }
  }
  for (int i = 0; i < kMaxColumns && table.values[i].key != nullptr; ++i) {
    columns.value[i] = Key(table.values[i].key);
    columns.values = i + 1;
  }
  return columns;
}

// The outcome of reading one column: kReadOk, a skip cause, or kReadFailed
// (the JSON itself is broken: the whole table fails).
constexpr int kReadOk = -1;
constexpr int kReadFailed = -2;

int ReadLabel(simdjson::ondemand::value value, char* digits,
              std::string_view* out) {
  json_type type;
  if (value.type().get(type)) return kReadFailed;
  if (type == json_type::string) {
    if (value.get_string().get(*out)) return kReadFailed;
    return LabelValueOk(*out) ? kReadOk : kSkipControlChar;
  }
  if (type != json_type::number) return kSkipBadLabel;
  number_type kind;
  if (value.get_number_type().get(kind)) return kSkipBadLabel;
  char* end = digits;
  if (kind == number_type::unsigned_integer) {
    uint64_t number;
    if (value.get_uint64().get(number)) return kSkipBadLabel;
    end = std::to_chars(digits, digits + kMaxDigits, number).ptr;
  } else if (kind == number_type::signed_integer) {
    int64_t number;
    if (value.get_int64().get(number)) return kSkipBadLabel;
    end = std::to_chars(digits, digits + kMaxDigits, number).ptr;
  } else {
    return kSkipBadLabel;
  }
  *out = std::string_view(digits, static_cast<size_t>(end - digits));
  return kReadOk;
}

int ReadValue(simdjson::ondemand::value value, uint64_t* out) {
  json_type type;
  if (value.type().get(type)) return kReadFailed;
  switch (type) {
    case json_type::boolean: {
      bool flag;
      if (value.get_bool().get(flag)) return kReadFailed;
      *out = flag ? 1 : 0;
      return kReadOk;
    }
    case json_type::string:
      return kSkipValueString;
    case json_type::number:
      break;
    default:
      return kSkipValueType;
  }
  number_type kind;
  if (value.get_number_type().get(kind)) {
    return kSkipValueTooLarge;  // beyond any 64-bit integer and double
  }
  if (kind == number_type::unsigned_integer) {
    return value.get_uint64().get(*out) ? kSkipValueTooLarge : kReadOk;
  }
  if (kind == number_type::signed_integer) {
    int64_t number;
    if (value.get_int64().get(number)) return kSkipValueTooLarge;
    if (number < 0) return kSkipValueNegative;
    *out = static_cast<uint64_t>(number);
    return kReadOk;
  }
  // A floating-point number: an integer too large for 64 bits is one too.
  std::string_view raw = value.raw_json_token();
  for (char c : raw) {
    if (c == '.' || c == 'e' || c == 'E') return kSkipValueFractional;
  }
  return raw.substr(0, 1) == "-" ? kSkipValueNegative : kSkipValueTooLarge;
}

// Reads one row's columns into `*row`. Returns kReadOk, the cause of
// skipping it, or kReadFailed.
int ReadRow(const Columns& columns, simdjson::ondemand::object object,
            Row* row) {
  std::fill(row->hasLabel, row->hasLabel + kMaxColumns, false);
  std::fill(row->hasValue, row->hasValue + kMaxColumns, false);
  int skip = kReadOk;
  for (auto entry : object) {
    simdjson::ondemand::field field;
    if (std::move(entry).get(field)) return kReadFailed;
    const char* const key = field.key().raw();
    int outcome = kReadOk;
    bool matched = false;
    for (int c = 0; c < columns.labels; ++c) {
      if (!columns.label[c].Matches(key)) continue;
      const int slot = columns.slot[c];
      if (row->hasLabel[slot]) {
        outcome = kSkipRepeatedKey;
      } else {
        outcome = ReadLabel(field.value(), row->digits[slot],
                            &row->label[slot]);
        row->hasLabel[slot] = true;
      }
      matched = true;
      break;
    }
    for (int c = 0; !matched && c < columns.values; ++c) {
      if (!columns.value[c].Matches(key)) continue;
      if (row->hasValue[c]) {
        outcome = kSkipRepeatedKey;
      } else {
        outcome = ReadValue(field.value(), &row->value[c]);
        row->hasValue[c] = true;
      }
      break;
    }
    if (outcome == kReadFailed) return kReadFailed;
    // The first cause names the row; the rest of it is still read through,
    // so that broken JSON after it fails the table.
    if (skip == kReadOk) skip = outcome;
  }
  return skip;
}

// Writes the series of a row read whole: the labels in the table's column
// order (so that equal label sets are equal texts), then one series per
// value.
void WriteRow(const TableSpec& table, const Columns& columns, const Row& row,
              std::string* labels, MetricText* out) {
  labels->assign(columns.table);
  for (int c = 0; c < columns.labels; ++c) {
    if (!row.hasLabel[c]) continue;  // a slot's first column only
    if (!labels->empty()) labels->push_back(',');
    labels->append(columns.prefix[c]);
    AppendLabelValue(row.label[c], labels);
    labels->push_back('"');
  }
  for (int c = 0; c < columns.values; ++c) {
    if (!row.hasValue[c]) continue;
    char digits[kMaxDigits];
    const char* end =
        std::to_chars(digits, digits + sizeof digits, row.value[c]).ptr;
    out->Add(table.values[c].metric, *labels,
             std::string_view(digits, static_cast<size_t>(end - digits)));
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

const char* const kSkipCauses[kSkipCauseCount] = {
    "not_object",       "repeated_key",     "bad_label",
    "control_char",     "value_string",     "value_negative",
    "value_fractional", "value_too_large",  "value_type",
    "duplicate_series",
};

namespace {

// Reads the rows of a list, in order, into `out`. Returns false when the
// JSON is broken (`*failure` set, or `*shape` to what is wrong); `*count`
// counts the elements.
bool ParseRows(const TableSpec& table, const Columns& columns,
               simdjson::ondemand::array rows, MetricText* out,
               RowSkips* skips, Row* row, std::string* labels, size_t* count,
               simdjson::error_code* failure, const char** shape) {
  for (auto element : rows) {
    ++*count;
    simdjson::ondemand::value value;
    if ((*failure = element.get(value))) return false;
    simdjson::ondemand::object object;
    if (value.get_object().get(object)) {
      ++skips->count[kSkipNotObject];
      continue;
    }
    const int outcome = ReadRow(columns, object, row);
    if (outcome == kReadFailed) {
      *shape = "a broken row";
      return false;
    }
    if (outcome != kReadOk) {
      ++skips->count[outcome];
      continue;
    }
    WriteRow(table, columns, *row, labels, out);
  }
  return true;
}

// Whether the document was read through: the iterator is at its end, not
// at something that follows it.
simdjson::error_code ReadThrough(simdjson::ondemand::document& doc,
                                 const char* end, const char** shape) {
  std::string_view whole;
  if (simdjson::error_code failure = doc.raw_json().get(whole)) {
    return failure;
  }
  if (whole.data() + whole.size() != end) *shape = "text after the document";
  return simdjson::SUCCESS;
}

std::string Malformed(const TableSpec& table, const char* shape,
                      simdjson::error_code failure) {
  return std::string("malformed JSON in ") + table.name + ": " +
         (shape != nullptr ? shape : simdjson::error_message(failure));
}

}  // namespace

namespace {

// A simdjson parser from a pool shared by the probes, so that a table does
// not allocate its parser's buffers afresh; it goes back with this handle
// unless it grew past kKeepParserBytes or the pool is full. Thread-safe.
class Parser {
 public:
  Parser() {
    std::lock_guard<std::mutex> lock(mu());
    if (!pool().empty()) {
      parser_ = std::move(pool().back());
      pool().pop_back();
    } else {
      parser_ = std::make_unique<simdjson::ondemand::parser>();
    }
  }
  ~Parser() {
    if (parser_->capacity() > kKeepParserBytes) return;
    std::lock_guard<std::mutex> lock(mu());
    if (pool().size() < kPooledParsers) pool().push_back(std::move(parser_));
  }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  simdjson::ondemand::parser& operator*() { return *parser_; }
  simdjson::ondemand::parser* operator->() { return parser_.get(); }

 private:
  using Pool = std::vector<std::unique_ptr<simdjson::ondemand::parser>>;
  static std::mutex& mu() {
    static std::mutex* const m = new std::mutex;  // lives with the process
    return *m;
  }
  static Pool& pool() {
    static Pool* const p = new Pool;
    return *p;
  }

  std::unique_ptr<simdjson::ondemand::parser> parser_;
};

// Calls `each` with the value of every member of `object` named `key`, in
// order. Returns false once `each` does, or when the JSON is broken
// (`*failure` set).
template <class Each>
bool ForEachMember(simdjson::ondemand::object object, std::string_view key,
                   simdjson::error_code* failure, Each each) {
  for (auto entry : object) {
    simdjson::ondemand::field field;
    if ((*failure = std::move(entry).get(field))) return false;
    if (field.key() == key && !each(field.value())) return false;
  }
  return true;
}

// ParseTable with `parser`.
bool ParseWhole(simdjson::ondemand::parser& parser, const TableSpec& table,
                const char* json, size_t size, size_t capacity,
                MetricText* out, RowSkips* skips, std::string* error) {
  simdjson::ondemand::document doc;
  simdjson::error_code failure = simdjson::SUCCESS;
  const char* shape = nullptr;  // what is wrong with a well-formed document
  auto fail = [&]() {
    *error = Malformed(table, shape, failure);
    return false;
  };
  if ((failure = parser.iterate(json, size, capacity).get(doc))) return fail();
  simdjson::ondemand::object top;
  if ((failure = doc.get_object().get(top))) return fail();
  const Columns columns = ColumnsOf(table);
  const size_t duplicates = out->duplicates();
  Row row;
  std::string labels;
  const bool read = ForEachMember(
      top, table.name, &failure, [&](simdjson::ondemand::value value) {
        simdjson::ondemand::object body;
        if (value.get_object().get(body)) {
          shape = "the table is not an object";
          return false;
        }
        return ForEachMember(
            body, table.row, &failure, [&](simdjson::ondemand::value list) {
              simdjson::ondemand::array rows;
              if (list.get_array().get(rows)) {
                shape = "the rows are not a list";
                return false;
              }
              size_t count = 0;
              return ParseRows(table, columns, rows, out, skips, &row,
                               &labels, &count, &failure, &shape);
            });
      });
  if (!read) return fail();
  skips->count[kSkipDuplicate] += out->duplicates() - duplicates;
  if ((failure = ReadThrough(doc, json + size, &shape)) || shape != nullptr) {
    return fail();
  }
  return true;
}

}  // namespace

bool ParseTable(const TableSpec& table, const char* json, size_t size,
                size_t capacity, MetricText* out, RowSkips* skips,
                std::string* error) {
  Parser parser;
  return ParseWhole(*parser, table, json, size, capacity, out, skips, error);
}

namespace {

// Whether no two tables can answer the same series: each pair either both
// labelled with their (different) names, or without a family in common.
// Then each table's series are a scope of their own in MetricText.
bool TablesDisjoint() {
  for (size_t i = 0; i < kTableCount; ++i) {
    for (size_t j = i + 1; j < kTableCount; ++j) {
      const TableSpec& a = kTables[i];
      const TableSpec& b = kTables[j];
      if (a.tableLabel && b.tableLabel &&
          std::strcmp(a.name, b.name) != 0) {
        continue;
      }
      for (int x = 0; x < kMaxColumns && a.values[x].key != nullptr; ++x) {
        for (int y = 0; y < kMaxColumns && b.values[y].key != nullptr; ++y) {
          if (a.values[x].metric == b.values[y].metric) return false;
        }
      }
    }
  }
  return true;
}

}  // namespace

// The rows' batches are parsed by one parser from the pool, grown as
// needed; the skeleton by the same parser as ParseTable does once the
// answer is whole (its lists of rows are empty by then).
struct TableStream::Impl : RowScanner::Sink {
  Impl(const TableSpec& entry, MetricText* text, RowSkips* rowSkips,
       size_t batchBytes)
      : table(entry),
        columns(ColumnsOf(entry)),
        out(text),
        skips(rowSkips),
        duplicates(text->duplicates()),
        scanner(entry.name, entry.row, batchBytes, this) {
    static const bool disjoint = TablesDisjoint();
    if (disjoint) out->StartScope();
  }

  bool Rows(const char* json, size_t size, bool needRow) override {
    if (parser->capacity() < size) {
      const size_t grown = std::max(size, 2 * parser->capacity());
      if ((failure = parser->allocate(grown))) return false;
    }
    simdjson::ondemand::document doc;
    if ((failure = parser->iterate(json, size, size + ReplyBuffer::kPadding)
                       .get(doc))) {
      return false;
    }
    simdjson::ondemand::array rows;
    if ((failure = doc.get_array().get(rows))) return false;
    size_t count = 0;
    if (!ParseRows(table, columns, rows, out, skips, &row, &labels, &count,
                   &failure, &shape)) {
      return false;
    }
    if (needRow && count == 0) {
      shape = "a comma without a row beside it";
      return false;
    }
    return !(failure = ReadThrough(doc, json + size, &shape)) &&
           shape == nullptr;
  }

  bool Fail() {
    if (error.empty()) error = Malformed(table, shape, failure);
    return false;
  }

  const TableSpec& table;
  const Columns columns;
  MetricText* const out;
  RowSkips* const skips;
  const size_t duplicates;  // of `out` before this table
  size_t size = 0;
  Parser parser;
  Row row;
  std::string labels;
  simdjson::error_code failure = simdjson::SUCCESS;
  const char* shape = nullptr;
  std::string error;
  RowScanner scanner;
};

TableStream::TableStream(const TableSpec& table, MetricText* out,
                         RowSkips* skips, size_t batchBytes)
    : impl_(std::make_unique<Impl>(table, out, skips, batchBytes)) {}

TableStream::~TableStream() = default;

bool TableStream::Add(std::string_view piece) {
  if (!impl_->error.empty()) return false;
  impl_->size += piece.size();
  if (!impl_->scanner.Scan(piece)) {
    if (impl_->shape == nullptr && !impl_->failure) {
      impl_->shape = "not one JSON document";
    }
    return impl_->Fail();
  }
  return true;
}

bool TableStream::Finish() {
  Impl& s = *impl_;
  if (!s.error.empty()) return false;
  if (!s.scanner.Finish()) {
    if (s.shape == nullptr && !s.failure) s.shape = "the answer ends early";
    return s.Fail();
  }
  // The duplicates of the rows so far; ParseTable counts its own (none: the
  // skeleton has no rows).
  s.skips->count[kSkipDuplicate] += s.out->duplicates() - s.duplicates;
  const ReplyBuffer& skeleton = s.scanner.skeleton();
  static const char kEmpty[ReplyBuffer::kPadding] = {};
  const char* json = skeleton.data() != nullptr ? skeleton.data() : kEmpty;
  return ParseWhole(*s.parser, s.table, json, skeleton.size(),
                    skeleton.size() + ReplyBuffer::kPadding, s.out, s.skips,
                    &s.error);
}

size_t TableStream::size() const { return impl_->size; }

const std::string& TableStream::error() const { return impl_->error; }

}  // namespace exporter
