#include "hostcheck/host_calls.h"

#include <cstring>

#include "hostcheck/probe.h"

namespace hostcheck {
namespace {

using zorm_mor_value::MorId;
using zorm_mor_value::NodePtr;

constexpr char kPrivate[] = "private";
constexpr char kModule[] = "ACL";
constexpr size_t kGuardSize = 64;
constexpr unsigned char kGuardByte = 0xA5;

// Table and column numbers of the columns the trees carry.
constexpr uint8_t kBaseTable = 1;
constexpr uint8_t kRulesTable = 5;
constexpr char kSrcIPv4[] = "SrcIPv4";

// Appends a column record of `type` (0: without a value) to a list.
tagGrpcColumn* Append(tagGrpcColumn** head, tagGrpcColumn** tail,
                      uint8_t table, uint8_t column, uint32_t type) {
  tagGrpcColumn* record =
      zorm_mor_value::AppendColumn(head, tail, MorId(table, column));
  if (record != nullptr && type != 0) {
    record->typeCode = type;
    record->noValue = 0;
  }
  return record;
}

// Sets a string-kind record's slot as the module does.
bool SetText(tagGrpcColumn* record, const std::string& text) {
  if (record == nullptr) return false;
  Note("calling ZORM_SetMorValue with " + Quote(text));
  ZORM_SetMorValue(text.data(), static_cast<uint32_t>(text.size()),
                   &record->value);
  return true;
}

bool SetIPv4(tagGrpcColumn* record, const char* text) {
  if (record == nullptr) return false;
  Note(std::string("calling ZORM_IPV4_SetMorValue with ") + Quote(text));
  ZORM_IPV4_SetMorValue(text, &record->value);
  return true;
}

bool FillRule(tagGrpcTableOrRow* row) {
  tagGrpcColumn** h = &row->columnHead;
  tagGrpcColumn** t = &row->columnTail;
  tagGrpcColumn* group = Append(h, t, kRulesTable, 0x01,
                                zorm_mor_value::kTypeU32);
  if (group == nullptr) return false;
  group->value.u32 = 2000;
  if (Append(h, t, kRulesTable, 0x02, 0) == nullptr) return false;  // RuleID
  if (Append(h, t, kRulesTable, 0x04, zorm_mor_value::kTypeBool) == nullptr) {
    return false;  // SrcAny, false
  }
  if (!SetText(Append(h, t, kRulesTable, 0x08, zorm_mor_value::kTypeName),
               "work-hours") ||
      !SetText(Append(h, t, kRulesTable, 0x09, zorm_mor_value::kTypeString),
               "mgmt")) {
    return false;
  }
  tagGrpcColumn* count = Append(h, t, kRulesTable, 0x0E,
                                zorm_mor_value::kTypeU64);
  if (count == nullptr) return false;
  count->value.u64 = uint64_t{1} << 40;
  return true;
}

bool AddSource(tagGrpcTableOrRow* row) {
  zorm_mor_value::SubEntryPtr entry = zorm_mor_value::MakeSubEntry(kSrcIPv4);
  if (!entry) return false;
  tagGrpcColumn** h = &entry->columnHead;
  tagGrpcColumn** t = &entry->columnTail;
  if (!SetIPv4(Append(h, t, kRulesTable, 0x05, zorm_mor_value::kTypeIPv4),
               "192.0.2.1") ||
      !SetIPv4(Append(h, t, kRulesTable, 0x06, zorm_mor_value::kTypeIPv4),
               "0.0.0.255")) {
    return false;
  }
  zorm_mor_value::LinkSubEntryBack(row, std::move(entry));
  return true;
}

void AppendBytes(const void* record, size_t size, std::string* out) {
  out->append(static_cast<const char*>(record), size);
}

void ColumnBytes(const tagGrpcColumn* column, std::string* out) {
  for (; column != nullptr; column = column->next) {
    AppendBytes(column, sizeof(*column), out);
  }
}

}  // namespace

CheckAnswer CheckValue(const std::string& token, const Value& value) {
  unsigned char buffer[kReasonSize + kGuardSize];
  std::memset(buffer, 0, kReasonSize);
  std::memset(buffer + kReasonSize, kGuardByte, kGuardSize);
  Note("calling GRPC_CheckValueOfPara(" + Quote(value.path) + ", " +
       Quote(value.text) + ")");
  CheckAnswer a;
  char* reason = reinterpret_cast<char*>(buffer);
  a.result = GRPC_CheckValueOfPara(token.c_str(), value.path.c_str(),
                                   value.text.c_str(), kReasonSize, reason);
  const size_t length = strnlen(reason, kReasonSize);
  a.reason.assign(reason, length);
  a.terminated = length < kReasonSize;
  for (size_t i = 0; i < kGuardSize && a.pastEnd < 0; ++i) {
    if (buffer[kReasonSize + i] != kGuardByte) {
      a.pastEnd = static_cast<int>(kReasonSize + i);
    }
  }
  return a;
}

Branch WalkBranch() {
  Branch b;
  Note("calling ZORM_GetRegTreeRoot()");
  b.root = ZORM_GetRegTreeRoot();
  if (b.root == nullptr) return b;
  Note("looking up \"private\" with ZORM_GetChildZormRegNodeIgnoreCase");
  b.privateNode = ZORM_GetChildZormRegNodeIgnoreCase(b.root, kPrivate);
  if (b.privateNode == nullptr) return b;
  Note("looking up \"ACL\" with ZORM_GetChildZormRegNode");
  b.acl = ZORM_GetChildZormRegNode(b.privateNode, kModule);
  return b;
}

tagZormRegNode* FindTable(const Branch& branch, const std::string& name) {
  if (branch.acl == nullptr) return nullptr;
  Note("looking up table " + Quote(name) + " with ZORM_GetChildZormRegNode");
  return ZORM_GetChildZormRegNode(branch.acl, name.c_str());
}

NodePtr BaseTree(tagZormRegNode* table) {
  NodePtr tree = zorm_mor_value::MakeNode(zorm_mor_value::kTableNode, table);
  if (!tree || Append(&tree->columnHead, &tree->columnTail, kBaseTable, 0x01,
                      0) == nullptr) {
    return nullptr;
  }
  return tree;
}

NodePtr RulesTree(tagZormRegNode* table) {
  NodePtr tree = zorm_mor_value::MakeNode(zorm_mor_value::kTableNode, table);
  if (!tree) return nullptr;
  NodePtr row = zorm_mor_value::MakeNode(zorm_mor_value::kRowNode, table);
  if (!row || !FillRule(row.get()) || !AddSource(row.get())) return nullptr;
  zorm_mor_value::LinkRowFront(tree.get(), std::move(row));
  return tree;
}

std::string TreeBytes(const tagGrpcTableOrRow* tree) {
  std::string out;
  for (const tagGrpcTableOrRow* node = tree; node != nullptr;
       node = node->next) {
    AppendBytes(node, sizeof(*node), &out);
    ColumnBytes(node->columnHead, &out);
    for (const tagGrpcSubEntry* e = node->subHead; e != nullptr; e = e->next) {
      AppendBytes(e, sizeof(*e), &out);
      if (e->name != nullptr) out += e->name;
      ColumnBytes(e->columnHead, &out);
    }
    out += TreeBytes(node->firstRow);
  }
  return out;
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

}  // namespace hostcheck
