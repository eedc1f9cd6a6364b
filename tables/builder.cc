#include "tables/builder.h"

#include <cstring>
#include <string>

namespace acl_tables {
namespace {

using zorm_mor_value::NodePtr;
using zorm_mor_value::SubEntryPtr;

// The longest decimal text of a 64-bit number, with its NUL.
constexpr int kDigitsSize = 21;

// Writes `n` in decimal ("%lu") at the end of `buffer` and returns where the
// text starts; the text ends with the buffer's last byte, a NUL.
const char* Decimal(uint64_t n, char (&buffer)[kDigitsSize]) {
  char* p = buffer + kDigitsSize - 1;
  *p = '\0';
  do {
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n != 0);
  return p;
}

class Builder {
 public:
  Builder(const Table& table, const char* token, Rejection* rejection)
      : table_(table), token_(token), rejection_(rejection) {}

  // Appends to `node` the records of `columns` and the sub-entries of
  // `subEntries`, read from `message`.
  BuildResult Fill(Span<Column> columns, Span<SubEntry> subEntries,
                   const Message& message, tagGrpcTableOrRow* node) {
    BuildResult r =
        AppendAll(columns, message, &node->columnHead, &node->columnTail);
    for (const SubEntry& sub : subEntries) {
      if (r != BuildResult::kBuilt) break;
      r = AppendSubEntries(sub, message, node);
    }
    return r;
  }

 private:
  // One sub-entry per element of the nested list `sub` of `owner`.
  BuildResult AppendSubEntries(const SubEntry& sub, const Message& owner,
                               tagGrpcTableOrRow* node) {
    const int count = sub.list.size(owner);
    for (int i = 0; i < count; ++i) {
      SubEntryPtr entry = zorm_mor_value::MakeSubEntry(sub.name);
      if (!entry) return BuildResult::kOutOfMemory;
      BuildResult r = AppendAll(sub.columns, sub.list.at(owner, i),
                                &entry->columnHead, &entry->columnTail);
      if (r != BuildResult::kBuilt) return r;
      zorm_mor_value::LinkSubEntryBack(node, std::move(entry));
    }
    return BuildResult::kBuilt;
  }

  BuildResult AppendAll(Span<Column> columns, const Message& message,
                        tagGrpcColumn** head, tagGrpcColumn** tail) {
    for (const Column& column : columns) {
      BuildResult r = Append(column, message, head, tail);
      if (r != BuildResult::kBuilt) return r;
    }
    return BuildResult::kBuilt;
  }

  // Appends the record of one column: no-value when the field is absent,
  // else checked by the host and set by the column's kind.
  BuildResult Append(const Column& column, const Message& message,
                     tagGrpcColumn** head, tagGrpcColumn** tail) {
    Value value;
    if (!column.read(message, &value)) {
      return zorm_mor_value::AppendColumn(head, tail, table_.mor_id(column))
                 ? BuildResult::kBuilt
                 : BuildResult::kOutOfMemory;
    }
    const char* text = nullptr;
    char digits[kDigitsSize];
    switch (column.kind) {
      case Kind::kU32:
      case Kind::kU64:
        text = Decimal(value.number, digits);
        break;
      case Kind::kBool:
        text = value.number != 0 ? "1" : "0";
        break;
      case Kind::kText:
      case Kind::kName:
      case Kind::kIPv4:
      case Kind::kMAC:
        text = value.text->c_str();
        break;
    }
    if (!Accepted(column, text)) return BuildResult::kRejected;
    tagGrpcColumn* record =
        zorm_mor_value::AppendColumn(head, tail, table_.mor_id(column));
    if (record == nullptr) return BuildResult::kOutOfMemory;
    record->typeCode = column.type_code();
    record->noValue = 0;
    Set(column.kind, value, &record->value);
    return BuildResult::kBuilt;
  }

  // The host's judgement of `text` as a value of `column`.
  bool Accepted(const Column& column, const char* text) {
    std::memset(rejection_->errorText, 0, sizeof(rejection_->errorText));
    if (GRPC_CheckValueOfPara(token_, column.path, text, kErrorTextSize,
                              rejection_->errorText) == 1) {
      return true;
    }
    rejection_->column = &column;
    return false;
  }

  static void Set(Kind kind, const Value& value, tagZormMorValue* slot) {
    switch (kind) {
      case Kind::kU32:
      case Kind::kBool:
      case Kind::kU64:
        // A u32 or a bool lands in the slot's first four bytes, the rest
        // staying zero: on this little-endian layout, the same bytes as a
        // u64 store.
        slot->u64 = value.number;
        break;
      case Kind::kText:
      case Kind::kName:
        ZORM_SetMorValue(value.text->data(),
                         static_cast<uint32_t>(value.text->size()), slot);
        break;
      case Kind::kIPv4:
        ZORM_IPV4_SetMorValue(value.text->c_str(), slot);
        break;
      case Kind::kMAC:
        zorm_mor_value::SetMorValue_XML_MAC(slot, *value.text);
        break;
    }
  }

  const Table& table_;
  const char* token_;
  Rejection* rejection_;
};

// Makes a row node from `message`, filled as `table` says, and links it at
// the front of `tableNode`'s rows.
BuildResult AppendRow(Builder* builder, const Table& table,
                      Span<SubEntry> subEntries, const Message& message,
                      tagGrpcTableOrRow* tableNode) {
  NodePtr row =
      zorm_mor_value::MakeNode(zorm_mor_value::kRowNode, tableNode->regNode);
  if (!row) return BuildResult::kOutOfMemory;
  BuildResult r = builder->Fill(table.columns, subEntries, message, row.get());
  if (r != BuildResult::kBuilt) return r;
  zorm_mor_value::LinkRowFront(tableNode, std::move(row));
  return BuildResult::kBuilt;
}

}  // namespace

BuildResult BuildTree(const Table& table, const Message& request,
                      const char* token, tagGrpcTableOrRow* tableNode,
                      Rejection* rejection) {
  Builder builder(table, token, rejection);
  if (!table.has_rows()) {
    return builder.Fill(table.columns, table.sub_entries, request, tableNode);
  }
  const int count = table.rows.size(request);
  if (count == 0) {
    // The default row: the row message with no field set gives one no-value
    // record per row column and no sub-entry.
    return AppendRow(&builder, table, {}, table.rows.prototype(), tableNode);
  }
  for (int i = 0; i < count; ++i) {
    BuildResult r = AppendRow(&builder, table, table.sub_entries,
                              table.rows.at(request, i), tableNode);
    if (r != BuildResult::kBuilt) return r;
  }
  return BuildResult::kBuilt;
}

}  // namespace acl_tables
