// Renders a request tree as canonical JSON, in list order:
//
//   T = {"kind":"table","columns":[C...],"subEntries":[S...],"rows":[R...]}
//   R = {"kind":"row","columns":[C...],"subEntries":[S...]}
//   S = {"name":"SrcIPv4","columns":[C...]}
//   C = {"morId":"0x02010501","type":1,"noValue":false,"value":2000}
//
// A no-value record is {"morId":...,"type":0,"noValue":true}. Values: types
// 1 and 15 the u32, 8 the u64, 5 the dotted address, 6 and 22 the string,
// 14 the six bytes as 12 lowercase hex digits; other types null. Slots are
// read as devhost/values.h keeps them.

#ifndef ACL_DEVHOST_TREE_JSON_H_
#define ACL_DEVHOST_TREE_JSON_H_

#include <string>

#include <nlohmann/json.hpp>

#include "tree/tree.h"

namespace devhost {

// The tree under `table` as an ordered JSON value.
nlohmann::ordered_json TreeToJsonValue(const tagGrpcTableOrRow* table);

// The same, as compact text.
std::string TreeToJson(const tagGrpcTableOrRow* table);

// One column record's value as JSON (null for a no-value record).
nlohmann::ordered_json ColumnValue(const tagGrpcColumn& column);

}  // namespace devhost

#endif  // ACL_DEVHOST_TREE_JSON_H_
