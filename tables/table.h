// The table engine's data model: how a request message maps onto a registry
// table.
//
// A Table is plain constant data, one per registry table, built at compile
// time (no static initialisation) by the family units in this folder. One
// generic builder (builder.h) walks any Table over its request message.
//
//   Table    := name number rows columns subEntries
//   Column   := field column kind path message read   one per scalar field
//   SubEntry := list name columns                     one per repeated nested
//                                                     message field
//   List     := field size at prototype               a repeated nested
//                                                     message field
//
// A Table with rows gets one row node per element of its row list (one
// default row of no-value records, read from the row class's prototype, when
// the list is empty); `columns` and `subEntries` then describe the row
// message. A Table without rows hangs its columns and sub-entries on the
// table node and describes the request message itself.
//
// Fields are read through the generated classes' own accessors: each row
// carries plain function pointers, made by the row macros below from
// captureless lambdas, that cast the message to its generated class and call
// has_x()/x(), x_size()/x(i) or default_instance(). A row's field number,
// path and message come from the field's upper-camel-case name, its
// accessors from the lower-case one; a misspelt name does not compile, and a
// kind that does not fit the field's C++ type does not either.
//
// Everything here is immutable once built, so any number of threads may
// read it at once.

#ifndef ACL_TABLES_TABLE_H_
#define ACL_TABLES_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "tree/tree.h"

namespace google {
namespace protobuf {
class Message;
}  // namespace protobuf
}  // namespace google

namespace acl_tables {

// The base class of every generated request and row class.
using Message = google::protobuf::Message;

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

// The C++ type of a field of each kind, as its generated accessor returns it.
template <Kind K>
struct FieldType {
  using type = std::string;
};
template <>
struct FieldType<Kind::kU32> {
  using type = uint32_t;
};
template <>
struct FieldType<Kind::kBool> {
  using type = bool;
};
template <>
struct FieldType<Kind::kU64> {
  using type = uint64_t;
};

// A present field's value as a column's reader hands it over: a number
// (uint32, bool as 0 or 1, uint64) or the message's own string, which lives
// as long as the message.
struct Value {
  uint64_t number;
  const std::string* text;
};

// Stores `value`, a field of kind K, in `*out`; a type that does not fit K
// does not compile.
template <Kind K, class T>
inline void Store(const T& value, Value* out) {
  static_assert(std::is_same<T, typename FieldType<K>::type>::value,
                "the column's kind does not fit its field's type");
  if constexpr (std::is_same<T, std::string>::value) {
    out->text = &value;
  } else {
    out->number = value;
  }
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

// Reads a scalar field of `message`: false when it is absent, else true with
// its value in `*value`.
// REQUIRES: `message` is of the class the row was made for.
using ReadFn = bool (*)(const Message& message, Value* value);

// One scalar field and the registry column it fills.
struct Column {
  int field;            // the field's number in its message
  uint8_t column;       // CC: the column's place in the registry table
  Kind kind;
  const char* path;     // value-check path, "ACL/Groups/Group/GroupType"
  const char* message;  // "the value of GroupType is invalid"
  ReadFn read;

  constexpr uint32_t type_code() const { return TypeCode(kind); }
};

// One repeated field of nested messages, read through its owner.
// REQUIRES (of every function): the owner is of the class the list was made
// for.
struct List {
  int field;  // the repeated field's number; 0 in kNoRows
  int (*size)(const Message& owner);
  const Message& (*at)(const Message& owner, int i);
  const Message& (*prototype)();  // an element with no field set
};

// One repeated nested message field: each element becomes a sub-entry.
struct SubEntry {
  List list;
  const char* name;  // the nested message's name, "SrcIPv4"
  Span<Column> columns;
};

// The row list of a Table whose request has no row level.
constexpr List kNoRows{0, nullptr, nullptr, nullptr};

struct Table {
  const char* name;  // registry table name, "IPv4BasicRules"
  uint8_t number;    // TT, the table byte of every MOR ID
  List rows;         // the repeated field holding the rows, or kNoRows
  Span<Column> columns;
  Span<SubEntry> sub_entries;

  constexpr bool has_rows() const { return rows.field != 0; }
  constexpr uint32_t mor_id(const Column& c) const {
    return zorm_mor_value::MorId(number, c.column);
  }
};

}  // namespace acl_tables

// A Column for the scalar field NAME (lower case: name) of the generated
// message class MSG, column number CC, kind KIND (a Kind enumerator without
// its prefix), under the path prefix PREFIX (a string literal ending in "/").
#define ACL_COLUMN(MSG, PREFIX, NAME, name, CC, KIND)                      \
  ::acl_tables::Column {                                                   \
    MSG::k##NAME##FieldNumber, CC, ::acl_tables::Kind::KIND, PREFIX #NAME, \
        "the value of " #NAME " is invalid",                               \
        [](const ::acl_tables::Message& m, ::acl_tables::Value* value) {   \
          const MSG& message = static_cast<const MSG&>(m);                 \
          if (!message.has_##name()) return false;                         \
          ::acl_tables::Store<::acl_tables::Kind::KIND>(message.name(),    \
                                                        value);            \
          return true;                                                     \
        }                                                                  \
  }

// A List for the repeated nested message field `name` of MSG; Stem is the
// stem of its generated number constant (Srcipv4 for srcipv4).
#define ACL_LIST(MSG, Stem, name)                                         \
  ::acl_tables::List {                                                    \
    MSG::k##Stem##FieldNumber,                                            \
        [](const ::acl_tables::Message& m) {                              \
          return static_cast<const MSG&>(m).name##_size();                \
        },                                                                \
        [](const ::acl_tables::Message& m,                                \
           int i) -> const ::acl_tables::Message& {                       \
          return static_cast<const MSG&>(m).name(i);                      \
        },                                                                \
        []() -> const ::acl_tables::Message& {                            \
          using Element =                                                 \
              std::decay_t<decltype(std::declval<const MSG&>().name(0))>; \
          return Element::default_instance();                             \
        }                                                                 \
  }

// A SubEntry for the repeated field `name` (Stem as for ACL_LIST) of MSG
// whose elements are nested messages named NAME.
#define ACL_SUB_ENTRY(MSG, Stem, name, NAME, COLUMNS)                  \
  ::acl_tables::SubEntry { ACL_LIST(MSG, Stem, name), #NAME, COLUMNS }

#endif  // ACL_TABLES_TABLE_H_
