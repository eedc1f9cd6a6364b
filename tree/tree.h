// The request tree: what the module hands the host adapter for one request.
//
// Layout (64-bit pointers, little-endian; the adapter reads these bytes):
//
//   tree        := table
//   table       := tagGrpcTableOrRow{kind 0} columns sub-entries rows
//   rows        := row*                  linked by `next`, last request
//                                        element first
//   row         := tagGrpcTableOrRow{kind 1} columns sub-entries
//   sub-entries := tagGrpcSubEntry*      linked by `next`, request order
//   sub-entry   := name columns          name = nested message's name
//   columns     := tagGrpcColumn*        linked by `next`, field order
//   column      := morId typeCode value noValue
//   morId       := 0x0201TTCC            TT table number, CC column number
//
//   tagGrpcTableOrRow (88 bytes)          tagGrpcColumn (32 bytes)
//     0  kind        u32                    0  next      ptr
//     8  firstRow    ptr                    8  morId     u32
//    16  next        ptr                   12  typeCode  u32 (0: no value)
//    24  columnHead  ptr                   16  value     8-byte slot
//    32  columnTail  ptr                   24  noValue   u16 (1: no value)
//    40  subHead     ptr                   26  padding   zero
//    48  subTail     ptr
//    56  reserved    2 words, zero        tagGrpcSubEntry (32 bytes)
//    72  regNode     ptr (table's)          0  next      ptr
//    80  reserved    1 word, zero           8  name      ptr (not owned)
//                                          16  columnHead ptr
//                                          24  columnTail ptr
//
// Every record is allocated with tree_alloc.h's TreeCalloc and released with
// TreeFree (malloc/calloc/free in the module). A tree is owned by the one
// call that builds it and is touched by that call's thread only.

#ifndef ACL_TREE_TREE_H_
#define ACL_TREE_TREE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/host_api.h"

// The 8-byte value slot of a column record: the value itself (numbers,
// booleans, MAC bytes) or whatever the registry's setter placed there.
struct tagZormMorValue {
  union {
    uint32_t u32;
    uint64_t u64;
    uint8_t bytes[8];
    void* ptr;
  };
};

struct tagGrpcColumn {
  tagGrpcColumn* next;
  uint32_t morId;
  uint32_t typeCode;
  tagZormMorValue value;
  uint16_t noValue;
  uint8_t padding[6];
};

struct tagGrpcSubEntry {
  tagGrpcSubEntry* next;
  const char* name;
  tagGrpcColumn* columnHead;
  tagGrpcColumn* columnTail;
};

struct tagGrpcTableOrRow {
  uint32_t kind;
  uint32_t padding;
  tagGrpcTableOrRow* firstRow;
  tagGrpcTableOrRow* next;
  tagGrpcColumn* columnHead;
  tagGrpcColumn* columnTail;
  tagGrpcSubEntry* subHead;
  tagGrpcSubEntry* subTail;
  void* reserved1[2];
  tagZormRegNode* regNode;
  void* reserved2;
};

// The adapter reads these bytes as a 64-bit little-endian machine writes
// them (amd64 and arm64 alike); a build for any other machine would hand it
// records it cannot read.
static_assert(sizeof(void*) == 8, "the records hold 64-bit pointers");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the records' numbers are little-endian");
static_assert(alignof(tagGrpcColumn) == 8 && alignof(tagGrpcSubEntry) == 8 &&
                  alignof(tagGrpcTableOrRow) == 8,
              "records follow one another at 8-byte boundaries");
static_assert(sizeof(tagZormMorValue) == 8, "value slot");
static_assert(offsetof(tagZormMorValue, u32) == 0 &&
                  offsetof(tagZormMorValue, bytes) == 0,
              "a number and the MAC bytes start the slot");
static_assert(sizeof(tagGrpcColumn) == 32, "column record");
static_assert(offsetof(tagGrpcColumn, next) == 0, "column.next");
static_assert(offsetof(tagGrpcColumn, morId) == 8, "column.morId");
static_assert(offsetof(tagGrpcColumn, typeCode) == 12, "column.typeCode");
static_assert(offsetof(tagGrpcColumn, value) == 16, "column.value");
static_assert(offsetof(tagGrpcColumn, noValue) == 24, "column.noValue");
static_assert(offsetof(tagGrpcColumn, padding) == 26, "column.padding");
static_assert(sizeof(tagGrpcSubEntry) == 32, "sub-entry");
static_assert(offsetof(tagGrpcSubEntry, name) == 8, "subEntry.name");
static_assert(offsetof(tagGrpcSubEntry, columnHead) == 16, "subEntry.head");
static_assert(offsetof(tagGrpcSubEntry, columnTail) == 24, "subEntry.tail");
static_assert(sizeof(tagGrpcTableOrRow) == 88, "table or row node");
static_assert(offsetof(tagGrpcTableOrRow, kind) == 0, "node.kind");
static_assert(offsetof(tagGrpcTableOrRow, firstRow) == 8, "node.firstRow");
static_assert(offsetof(tagGrpcTableOrRow, next) == 16, "node.next");
static_assert(offsetof(tagGrpcTableOrRow, columnHead) == 24, "node.colHead");
static_assert(offsetof(tagGrpcTableOrRow, columnTail) == 32, "node.colTail");
static_assert(offsetof(tagGrpcTableOrRow, subHead) == 40, "node.subHead");
static_assert(offsetof(tagGrpcTableOrRow, subTail) == 48, "node.subTail");
static_assert(offsetof(tagGrpcTableOrRow, reserved1) == 56, "node.reserved1");
static_assert(offsetof(tagGrpcTableOrRow, regNode) == 72, "node.regNode");
static_assert(offsetof(tagGrpcTableOrRow, reserved2) == 80, "node.reserved2");

namespace zorm_mor_value {

constexpr uint32_t kTableNode = 0;
constexpr uint32_t kRowNode = 1;

// MOR type codes: how a value slot is read and released.
constexpr uint32_t kTypeU32 = 1;
constexpr uint32_t kTypeIPv4 = 5;
constexpr uint32_t kTypeString = 6;
constexpr uint32_t kTypeU64 = 8;
constexpr uint32_t kTypeMAC = 14;
constexpr uint32_t kTypeBool = 15;
constexpr uint32_t kTypeName = 22;

// 0x0201TTCC: the module's registry prefix, the table number, the column.
constexpr uint32_t MorId(uint8_t table, uint8_t column) {
  return 0x02010000u | (uint32_t{table} << 8) | column;
}

// Releases `node`, everything under it and every node after it in its
// sibling chain. Null does nothing.
void DeleteTableOrRow(tagGrpcTableOrRow* node);

// Sets the first six bytes of `value` from a text of six hyphen-separated
// hexadecimal groups ("00-1a-2B-3c-4D-5e", each read as mac_text.h says);
// leaves `value` untouched when the text is in any other form.
void SetMorValue_XML_MAC(tagZormMorValue* value, const std::string& text);

// ---- Building ----------------------------------------------------------

struct TreeDeleter {
  void operator()(tagGrpcTableOrRow* node) const { DeleteTableOrRow(node); }
};
// Owns a table node or an unlinked row node and all under it.
using NodePtr = std::unique_ptr<tagGrpcTableOrRow, TreeDeleter>;

struct SubEntryDeleter {
  void operator()(tagGrpcSubEntry* entry) const;
};
// Owns a sub-entry that is not yet linked into a node, with its columns.
using SubEntryPtr = std::unique_ptr<tagGrpcSubEntry, SubEntryDeleter>;

// A new node of `kind` carrying `regNode`; null when out of memory.
NodePtr MakeNode(uint32_t kind, tagZormRegNode* regNode);

// A new sub-entry named `name` (not copied: it must outlive the tree);
// null when out of memory.
SubEntryPtr MakeSubEntry(const char* name);

// Appends a zero-filled column record with `morId` to the list `head`/`tail`
// and returns it, or null when out of memory (the list is then unchanged).
// The record starts as a no-value record; the caller fills in a value.
tagGrpcColumn* AppendColumn(tagGrpcColumn** head, tagGrpcColumn** tail,
                            uint32_t morId);

// Links a finished row at the front of `table`'s row list.
void LinkRowFront(tagGrpcTableOrRow* table, NodePtr row);

// Links a finished sub-entry at the tail of `node`'s sub-entry list.
void LinkSubEntryBack(tagGrpcTableOrRow* node, SubEntryPtr entry);

}  // namespace zorm_mor_value

#endif  // ACL_TREE_TREE_H_
