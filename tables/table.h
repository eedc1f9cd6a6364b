// The table engine's data model: how a request message maps onto a registry
// table.
//
// A Table is plain constant data, one per registry table, built at compile
// time (no static initialisation) by the family units in this folder. One
// generic builder (builder.h) walks any Table over its request message.
//
//   Table    := name number rowField columns subEntries
//   Column   := field column kind path message    one per scalar field
//   SubEntry := field name columns                one per repeated nested
//                                                  message field
//
// A Table with a row field gets one row node per element of that repeated
// field (one default row of no-value records when it is empty); `columns`
// and `subEntries` then describe the row message. A Table without one hangs
// its columns and sub-entries on the table node and describes the request
// message itself.
//
// Rows are written with ACL_COLUMN, which takes the field's number from the
// generated class (so a misspelt field does not compile) and makes the
// value-check path and the invalid-value message from the same name, as
// string literals.

#ifndef ACL_TABLES_TABLE_H_
#define ACL_TABLES_TABLE_H_

#include <cstddef>
#include <cstdint>

#include "tree/tree.h"

namespace acl_tables {

// How a present field becomes check text and a value.
enum class Kind : uint8_t {
  kU32,   // uint32, "%u", the number
  kBool,  // bool, "0"/"1", 0 or 1
  kU64,   // uint64, "%lu", the 64-bit number
  kText,  // string, ZORM_SetMorValue
  kName,  // string naming another object, ZORM_SetMorValue
  kIPv4,  // string, ZORM_IPV4_SetMorValue
  kMAC,   // string, zorm_mor_value::SetMorValue_XML_MAC
};

constexpr uint32_t TypeCode(Kind kind) {
  switch (kind) {
    case Kind::kU32: return zorm_mor_value::kTypeU32;
    case Kind::kBool: return zorm_mor_value::kTypeBool;
    case Kind::kU64: return zorm_mor_value::kTypeU64;
    case Kind::kText: return zorm_mor_value::kTypeString;
    case Kind::kName: return zorm_mor_value::kTypeName;
    case Kind::kIPv4: return zorm_mor_value::kTypeIPv4;
    case Kind::kMAC: return zorm_mor_value::kTypeMAC;
  }
  return 0;
}

// A read-only view of a constant array; empty by default.
template <class T>
struct Span {
  const T* data = nullptr;
  std::size_t size = 0;

  constexpr Span() = default;
  template <std::size_t N>
  constexpr Span(const T (&array)[N]) : data(array), size(N) {}  // NOLINT
  constexpr const T* begin() const { return data; }
  constexpr const T* end() const { return data + size; }
  constexpr const T& operator[](std::size_t i) const { return data[i]; }
};

// One scalar field and the registry column it fills.
struct Column {
  int field;            // the field's number in its message
  uint8_t column;       // CC: the column's place in the registry table
  Kind kind;
  const char* path;     // value-check path, "ACL/Groups/Group/GroupType"
  const char* message;  // "the value of GroupType is invalid"

  constexpr uint32_t type_code() const { return TypeCode(kind); }
};

// One repeated nested message field: each element becomes a sub-entry.
struct SubEntry {
  int field;           // the repeated field's number
  const char* name;    // the nested message's name, "SrcIPv4"
  Span<Column> columns;
};

// Marks a Table whose request has no row level.
constexpr int kNoRows = 0;

struct Table {
  const char* name;  // registry table name, "IPv4BasicRules"
  uint8_t number;    // TT, the table byte of every MOR ID
  int row_field;     // repeated field holding the rows, or kNoRows
  Span<Column> columns;
  Span<SubEntry> sub_entries;

  constexpr bool has_rows() const { return row_field != kNoRows; }
  constexpr uint32_t mor_id(const Column& c) const {
    return zorm_mor_value::MorId(number, c.column);
  }
};

}  // namespace acl_tables

// A Column for field NAME of generated message class MSG, column number CC,
// kind KIND (a Kind enumerator without its prefix), under the path prefix
// PREFIX (a string literal ending in "/").
#define ACL_COLUMN(MSG, PREFIX, NAME, CC, KIND)                      \
  ::acl_tables::Column {                                             \
    MSG::k##NAME##FieldNumber, CC, ::acl_tables::Kind::KIND,         \
        PREFIX #NAME, "the value of " #NAME " is invalid"            \
  }

// A SubEntry for the repeated field FIELD (its generated constant's stem,
// such as Srcipv4) of MSG whose elements are nested messages named NAME.
#define ACL_SUB_ENTRY(MSG, FIELD, NAME, COLUMNS) \
  ::acl_tables::SubEntry { MSG::k##FIELD##FieldNumber, #NAME, COLUMNS }

#endif  // ACL_TABLES_TABLE_H_
