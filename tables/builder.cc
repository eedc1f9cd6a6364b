#include "tables/builder.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

namespace acl_tables {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
using zorm_mor_value::NodePtr;
using zorm_mor_value::SubEntryPtr;

// A present field's value, read once: the text the host checks and what the
// record's setter needs.
struct Given {
  const char* text = nullptr;
  uint64_t number = 0;
  const std::string* string = nullptr;
  void (*set)(const Given& given, tagZormMorValue* slot) = nullptr;
};

void SetNumber(const Given& given, tagZormMorValue* slot) {
  // A u32 or a bool lands in the slot's first four bytes, the rest staying
  // zero: on this little-endian layout, the same bytes as a u64 store.
  slot->u64 = given.number;
}

void SetString(const Given& given, tagZormMorValue* slot) {
  ZORM_SetMorValue(given.string->data(),
                   static_cast<uint32_t>(given.string->size()), slot);
}

void SetIPv4(const Given& given, tagZormMorValue* slot) {
  ZORM_IPV4_SetMorValue(given.string->c_str(), slot);
}

void SetMAC(const Given& given, tagZormMorValue* slot) {
  zorm_mor_value::SetMorValue_XML_MAC(slot, *given.string);
}

class Builder {
 public:
  Builder(const Table& table, const char* token, Rejection* rejection)
      : table_(table), token_(token), rejection_(rejection) {}

  // Appends to `node` the records of `columns` and the sub-entries of
  // `subEntries`, read from `message`.
  BuildResult Fill(Span<Column> columns, Span<SubEntry> subEntries,
                   const Message& message, tagGrpcTableOrRow* node) {
    for (const Column& column : columns) {
      BuildResult r = Append(column, message, &node->columnHead,
                             &node->columnTail);
      if (r != BuildResult::kBuilt) return r;
    }
    const Reflection* reflection = message.GetReflection();
    for (const SubEntry& sub : subEntries) {
      const FieldDescriptor* field = FieldOf(message, sub.field);
      const int count = reflection->FieldSize(message, field);
      for (int i = 0; i < count; ++i) {
        const Message& element =
            reflection->GetRepeatedMessage(message, field, i);
        SubEntryPtr entry = zorm_mor_value::MakeSubEntry(sub.name);
        if (!entry) return BuildResult::kOutOfMemory;
        for (const Column& column : sub.columns) {
          BuildResult r = Append(column, element, &entry->columnHead,
                                 &entry->columnTail);
          if (r != BuildResult::kBuilt) return r;
        }
        zorm_mor_value::LinkSubEntryBack(node, std::move(entry));
      }
    }
    return BuildResult::kBuilt;
  }

 private:
  static const FieldDescriptor* FieldOf(const Message& message, int number) {
    return message.GetDescriptor()->FindFieldByNumber(number);
  }

  // Appends the record of one column: no-value when the field is absent,
  // else checked by the host and set by the column's kind.
  BuildResult Append(const Column& column, const Message& message,
                     tagGrpcColumn** head, tagGrpcColumn** tail) {
    const uint32_t morId = table_.mor_id(column);
    const FieldDescriptor* field = FieldOf(message, column.field);
    const Reflection* reflection = message.GetReflection();
    if (!reflection->HasField(message, field)) {
      return zorm_mor_value::AppendColumn(head, tail, morId) != nullptr
                 ? BuildResult::kBuilt
                 : BuildResult::kOutOfMemory;
    }

    Given given;
    char digits[24];
    std::string scratch;
    switch (column.kind) {
      case Kind::kU32:
        given.number = reflection->GetUInt32(message, field);
        std::snprintf(digits, sizeof(digits), "%" PRIu64, given.number);
        given.text = digits;
        given.set = SetNumber;
        break;
      case Kind::kBool:
        given.number = reflection->GetBool(message, field) ? 1 : 0;
        given.text = given.number != 0 ? "1" : "0";
        given.set = SetNumber;
        break;
      case Kind::kU64:
        given.number = reflection->GetUInt64(message, field);
        std::snprintf(digits, sizeof(digits), "%" PRIu64, given.number);
        given.text = digits;
        given.set = SetNumber;
        break;
      case Kind::kText:
      case Kind::kName:
      case Kind::kIPv4:
      case Kind::kMAC:
        given.string = &reflection->GetStringReference(message, field, &scratch);
        given.text = given.string->c_str();
        given.set = column.kind == Kind::kIPv4  ? SetIPv4
                    : column.kind == Kind::kMAC ? SetMAC
                                                : SetString;
        break;
    }

    std::memset(rejection_->errorText, 0, sizeof(rejection_->errorText));
    if (GRPC_CheckValueOfPara(token_, column.path, given.text, kErrorTextSize,
                              rejection_->errorText) != 1) {
      rejection_->column = &column;
      return BuildResult::kRejected;
    }
    tagGrpcColumn* record = zorm_mor_value::AppendColumn(head, tail, morId);
    if (record == nullptr) return BuildResult::kOutOfMemory;
    record->typeCode = column.type_code();
    record->noValue = 0;
    given.set(given, &record->value);
    return BuildResult::kBuilt;
  }

  const Table& table_;
  const char* token_;
  Rejection* rejection_;
};

}  // namespace

BuildResult BuildTree(const Table& table, const Message& request,
                      const char* token, tagGrpcTableOrRow* tableNode,
                      Rejection* rejection) {
  Builder builder(table, token, rejection);
  if (!table.has_rows()) {
    return builder.Fill(table.columns, table.sub_entries, request, tableNode);
  }
  const Reflection* reflection = request.GetReflection();
  const FieldDescriptor* rows =
      request.GetDescriptor()->FindFieldByNumber(table.row_field);
  const int count = reflection->FieldSize(request, rows);
  if (count == 0) {
    // The default row: the row message with no field set gives one no-value
    // record per row column and no sub-entry.
    const Message* empty =
        reflection->GetMessageFactory()->GetPrototype(rows->message_type());
    NodePtr row = zorm_mor_value::MakeNode(zorm_mor_value::kRowNode,
                                           tableNode->regNode);
    if (!row) return BuildResult::kOutOfMemory;
    BuildResult r = builder.Fill(table.columns, {}, *empty, row.get());
    if (r != BuildResult::kBuilt) return r;
    zorm_mor_value::LinkRowFront(tableNode, std::move(row));
    return BuildResult::kBuilt;
  }
  for (int i = 0; i < count; ++i) {
    NodePtr row = zorm_mor_value::MakeNode(zorm_mor_value::kRowNode,
                                           tableNode->regNode);
    if (!row) return BuildResult::kOutOfMemory;
    BuildResult r =
        builder.Fill(table.columns, table.sub_entries,
                     reflection->GetRepeatedMessage(request, rows, i),
                     row.get());
    if (r != BuildResult::kBuilt) return r;
    zorm_mor_value::LinkRowFront(tableNode, std::move(row));
  }
  return BuildResult::kBuilt;
}

}  // namespace acl_tables
