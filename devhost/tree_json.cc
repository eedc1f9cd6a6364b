#include "devhost/tree_json.h"

#include <cstdio>

#include "devhost/values.h"

namespace devhost {
namespace {

using nlohmann::ordered_json;

ordered_json Columns(const tagGrpcColumn* column) {
  ordered_json list = ordered_json::array();
  for (; column != nullptr; column = column->next) {
    char id[11];
    std::snprintf(id, sizeof(id), "0x%08X", column->morId);
    ordered_json c;
    c["morId"] = id;
    c["type"] = column->typeCode;
    c["noValue"] = column->noValue == 1;
    if (column->noValue != 1) c["value"] = ColumnValue(*column);
    list.push_back(std::move(c));
  }
  return list;
}

ordered_json SubEntries(const tagGrpcSubEntry* entry) {
  ordered_json list = ordered_json::array();
  for (; entry != nullptr; entry = entry->next) {
    ordered_json s;
    s["name"] = entry->name != nullptr ? entry->name : "";
    s["columns"] = Columns(entry->columnHead);
    list.push_back(std::move(s));
  }
  return list;
}

ordered_json Node(const tagGrpcTableOrRow* node) {
  ordered_json n;
  n["kind"] = node->kind == zorm_mor_value::kTableNode ? "table" : "row";
  n["columns"] = Columns(node->columnHead);
  n["subEntries"] = SubEntries(node->subHead);
  if (node->kind == zorm_mor_value::kTableNode) {
    ordered_json rows = ordered_json::array();
    for (const tagGrpcTableOrRow* row = node->firstRow; row != nullptr;
         row = row->next) {
      rows.push_back(Node(row));
    }
    n["rows"] = std::move(rows);
  }
  return n;
}

}  // namespace

ordered_json ColumnValue(const tagGrpcColumn& column) {
  if (column.noValue == 1) return nullptr;
  switch (column.typeCode) {
    case zorm_mor_value::kTypeU32:
    case zorm_mor_value::kTypeBool:
      return column.value.u32;
    case zorm_mor_value::kTypeU64:
      return column.value.u64;
    case zorm_mor_value::kTypeIPv4:
      return IPv4Of(column.value);
    case zorm_mor_value::kTypeString:
    case zorm_mor_value::kTypeName:
      return std::string(TextOf(column.value));
    case zorm_mor_value::kTypeMAC:
      return MACOf(column.value);
    default:
      return nullptr;
  }
}

ordered_json TreeToJsonValue(const tagGrpcTableOrRow* table) {
  return Node(table);
}

std::string TreeToJson(const tagGrpcTableOrRow* table) {
  return Node(table).dump(-1, ' ', false,
                          ordered_json::error_handler_t::replace);
}

}  // namespace devhost
