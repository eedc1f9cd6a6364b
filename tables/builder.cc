#include "tables/builder.h"

#include <cstring>
#include <string>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

namespace acl_tables {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;
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

// The field numbered `number` of `type`. The schema's fields are numbered
// from 1 in declaration order, so the index lookup finds it directly; the
// search by number is the fallback for any other numbering.
const FieldDescriptor* FieldOf(const Descriptor* type, int number) {
  if (number >= 1 && number <= type->field_count()) {
    const FieldDescriptor* field = type->field(number - 1);
    if (field->number() == number) return field;
  }
  return type->FindFieldByNumber(number);
}

// What reading a message of one type needs: its reflection and descriptor.
// Every row of a request, and every element of one nested list, is of one
// type, so these are fetched once per list, not once per message.
struct Shape {
  static Shape Of(const Message& m) {
    return Shape{m.GetReflection(), m.GetDescriptor()};
  }
  const Reflection* reflection;
  const Descriptor* type;
};

// One message being read, with its type's shape.
struct Source {
  const Message& message;
  Shape shape;
};

class Builder {
 public:
  Builder(const Table& table, const char* token, Rejection* rejection)
      : table_(table), token_(token), rejection_(rejection) {}

  // Appends to `node` the records of `columns` and the sub-entries of
  // `subEntries`, read from `message`.
  BuildResult Fill(Span<Column> columns, Span<SubEntry> subEntries,
                   const Source& source, tagGrpcTableOrRow* node) {
    BuildResult r = AppendAll(columns, source, &node->columnHead,
                              &node->columnTail);
    for (const SubEntry& sub : subEntries) {
      if (r != BuildResult::kBuilt) break;
      r = AppendSubEntries(sub, source, node);
    }
    return r;
  }

 private:
  // One sub-entry per element of the nested list `sub`.
  BuildResult AppendSubEntries(const SubEntry& sub, const Source& source,
                               tagGrpcTableOrRow* node) {
    const Reflection* reflection = source.shape.reflection;
    const FieldDescriptor* field = FieldOf(source.shape.type, sub.field);
    const int count = reflection->FieldSize(source.message, field);
    Shape shape{};
    for (int i = 0; i < count; ++i) {
      const Message& message =
          reflection->GetRepeatedMessage(source.message, field, i);
      if (i == 0) shape = Shape::Of(message);
      const Source element{message, shape};
      SubEntryPtr entry = zorm_mor_value::MakeSubEntry(sub.name);
      if (!entry) return BuildResult::kOutOfMemory;
      BuildResult r = AppendAll(sub.columns, element, &entry->columnHead,
                                &entry->columnTail);
      if (r != BuildResult::kBuilt) return r;
      zorm_mor_value::LinkSubEntryBack(node, std::move(entry));
    }
    return BuildResult::kBuilt;
  }

  BuildResult AppendAll(Span<Column> columns, const Source& source,
                        tagGrpcColumn** head, tagGrpcColumn** tail) {
    for (const Column& column : columns) {
      BuildResult r = Append(column, source, head, tail);
      if (r != BuildResult::kBuilt) return r;
    }
    return BuildResult::kBuilt;
  }

  // Appends the record of one column: no-value when the field is absent,
  // else checked by the host and set by the column's kind.
  BuildResult Append(const Column& column, const Source& source,
                     tagGrpcColumn** head, tagGrpcColumn** tail) {
    const FieldDescriptor* field = FieldOf(source.shape.type, column.field);
    const Reflection& reflection = *source.shape.reflection;
    const Message& message = source.message;
    if (!reflection.HasField(message, field)) {
      return zorm_mor_value::AppendColumn(head, tail, table_.mor_id(column))
                 ? BuildResult::kBuilt
                 : BuildResult::kOutOfMemory;
    }
    uint64_t number = 0;
    const std::string* string = nullptr;
    const char* text = nullptr;
    char digits[kDigitsSize];
    switch (column.kind) {
      case Kind::kU32:
        number = reflection.GetUInt32(message, field);
        text = Decimal(number, digits);
        break;
      case Kind::kBool:
        number = reflection.GetBool(message, field) ? 1 : 0;
        text = number != 0 ? "1" : "0";
        break;
      case Kind::kU64:
        number = reflection.GetUInt64(message, field);
        text = Decimal(number, digits);
        break;
      case Kind::kText:
      case Kind::kName:
      case Kind::kIPv4:
      case Kind::kMAC:
        string = &reflection.GetStringReference(message, field, &scratch_);
        text = string->c_str();
        break;
    }
    if (!Accepted(column, text)) return BuildResult::kRejected;
    tagGrpcColumn* record =
        zorm_mor_value::AppendColumn(head, tail, table_.mor_id(column));
    if (record == nullptr) return BuildResult::kOutOfMemory;
    record->typeCode = column.type_code();
    record->noValue = 0;
    Set(column.kind, number, string, &record->value);
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

  static void Set(Kind kind, uint64_t number, const std::string* string,
                  tagZormMorValue* slot) {
    switch (kind) {
      case Kind::kU32:
      case Kind::kBool:
      case Kind::kU64:
        // A u32 or a bool lands in the slot's first four bytes, the rest
        // staying zero: on this little-endian layout, the same bytes as a
        // u64 store.
        slot->u64 = number;
        break;
      case Kind::kText:
      case Kind::kName:
        ZORM_SetMorValue(string->data(), static_cast<uint32_t>(string->size()),
                         slot);
        break;
      case Kind::kIPv4:
        ZORM_IPV4_SetMorValue(string->c_str(), slot);
        break;
      case Kind::kMAC:
        zorm_mor_value::SetMorValue_XML_MAC(slot, *string);
        break;
    }
  }

  const Table& table_;
  const char* token_;
  Rejection* rejection_;
  std::string scratch_;  // GetStringReference's, never filled for this schema
};

}  // namespace

BuildResult BuildTree(const Table& table, const Message& request,
                      const char* token, tagGrpcTableOrRow* tableNode,
                      Rejection* rejection) {
  Builder builder(table, token, rejection);
  if (!table.has_rows()) {
    return builder.Fill(table.columns, table.sub_entries,
                        Source{request, Shape::Of(request)}, tableNode);
  }
  const Reflection* reflection = request.GetReflection();
  const FieldDescriptor* rows =
      FieldOf(request.GetDescriptor(), table.row_field);
  const int count = reflection->FieldSize(request, rows);
  if (count == 0) {
    // The default row: the row message with no field set gives one no-value
    // record per row column and no sub-entry.
    const Message* empty =
        reflection->GetMessageFactory()->GetPrototype(rows->message_type());
    NodePtr row = zorm_mor_value::MakeNode(zorm_mor_value::kRowNode,
                                           tableNode->regNode);
    if (!row) return BuildResult::kOutOfMemory;
    BuildResult r = builder.Fill(table.columns, {},
                                 Source{*empty, Shape::Of(*empty)}, row.get());
    if (r != BuildResult::kBuilt) return r;
    zorm_mor_value::LinkRowFront(tableNode, std::move(row));
    return BuildResult::kBuilt;
  }
  Shape shape{};
  for (int i = 0; i < count; ++i) {
    const Message& message = reflection->GetRepeatedMessage(request, rows, i);
    if (i == 0) shape = Shape::Of(message);
    NodePtr row = zorm_mor_value::MakeNode(zorm_mor_value::kRowNode,
                                           tableNode->regNode);
    if (!row) return BuildResult::kOutOfMemory;
    BuildResult r = builder.Fill(table.columns, table.sub_entries,
                                 Source{message, shape}, row.get());
    if (r != BuildResult::kBuilt) return r;
    zorm_mor_value::LinkRowFront(tableNode, std::move(row));
  }
  return BuildResult::kBuilt;
}

}  // namespace acl_tables
