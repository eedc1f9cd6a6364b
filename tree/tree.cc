#include "tree/tree.h"

#include "tree/mac_text.h"
#include "tree/tree_alloc.h"

namespace zorm_mor_value {
namespace {

// Releases a column list: each valued record's registry storage through its
// type's release function, then the record itself.
void DeleteColumns(tagGrpcColumn* column) {
  while (column != nullptr) {
    tagGrpcColumn* next = column->next;
    if (column->noValue != 1) {
      const tagZormTypeInfo* info = ZORM_GetTypeInfo(column->typeCode);
      if (info != nullptr && info->release != nullptr &&
          column->value.ptr != nullptr) {
        info->release(column->value.ptr);
      }
    }
    TreeFree(column);
    column = next;
  }
}

void DeleteSubEntries(tagGrpcSubEntry* entry) {
  while (entry != nullptr) {
    tagGrpcSubEntry* next = entry->next;
    DeleteColumns(entry->columnHead);
    TreeFree(entry);
    entry = next;
  }
}

}  // namespace

void DeleteTableOrRow(tagGrpcTableOrRow* node) {
  // The sibling chain is walked in a loop, not by recursion, so that a
  // request with very many rows cannot exhaust the stack; recursion only
  // goes from a table down to its rows.
  while (node != nullptr) {
    tagGrpcTableOrRow* next = node->next;
    DeleteColumns(node->columnHead);
    node->columnHead = node->columnTail = nullptr;
    DeleteSubEntries(node->subHead);
    node->subHead = node->subTail = nullptr;
    DeleteTableOrRow(node->firstRow);
    TreeFree(node);
    node = next;
  }
}

void SetMorValue_XML_MAC(tagZormMorValue* value, const std::string& text) {
  ReadMacText(text.c_str(), value->bytes);  // untouched unless all six read
}

void SubEntryDeleter::operator()(tagGrpcSubEntry* entry) const {
  if (entry == nullptr) return;
  entry->next = nullptr;
  DeleteSubEntries(entry);
}

NodePtr MakeNode(uint32_t kind, tagZormRegNode* regNode) {
  auto* node = static_cast<tagGrpcTableOrRow*>(TreeCalloc(sizeof(tagGrpcTableOrRow)));
  if (node == nullptr) return nullptr;
  node->kind = kind;
  node->regNode = regNode;
  return NodePtr(node);
}

SubEntryPtr MakeSubEntry(const char* name) {
  auto* entry = static_cast<tagGrpcSubEntry*>(TreeCalloc(sizeof(tagGrpcSubEntry)));
  if (entry == nullptr) return nullptr;
  entry->name = name;
  return SubEntryPtr(entry);
}

tagGrpcColumn* AppendColumn(tagGrpcColumn** head, tagGrpcColumn** tail,
                            uint32_t morId) {
  auto* column = static_cast<tagGrpcColumn*>(TreeCalloc(sizeof(tagGrpcColumn)));
  if (column == nullptr) return nullptr;
  column->morId = morId;
  column->noValue = 1;
  if (*tail == nullptr) {
    *head = column;
  } else {
    (*tail)->next = column;
  }
  *tail = column;
  return column;
}

void LinkRowFront(tagGrpcTableOrRow* table, NodePtr row) {
  row->next = table->firstRow;
  table->firstRow = row.release();
}

void LinkSubEntryBack(tagGrpcTableOrRow* node, SubEntryPtr entry) {
  tagGrpcSubEntry* raw = entry.release();
  if (node->subTail == nullptr) {
    node->subHead = raw;
  } else {
    node->subTail->next = raw;
  }
  node->subTail = raw;
}

}  // namespace zorm_mor_value
