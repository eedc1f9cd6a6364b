// The host operations called the way the module calls them, returning what
// the checks need to judge the answers: the value check with its 64-byte
// reason buffer, the registry walk, and request trees of the module's shape.
//
// Every function here may be called from any thread; the trees belong to
// the caller.

#ifndef ACL_HOSTCHECK_HOST_CALLS_H_
#define ACL_HOSTCHECK_HOST_CALLS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/host_api.h"
#include "hostcheck/hostcheck.h"
#include "tree/tree.h"

namespace hostcheck {

constexpr size_t kReasonSize = 64;  // the module's reason buffer

// GRPC_CheckValueOfPara's answer, and what it did to the reason buffer.
struct CheckAnswer {
  uint16_t result = 0;
  std::string reason;       // the bytes before the first NUL, at most 64
  bool terminated = false;  // a NUL lies within the 64 bytes
  int pastEnd = -1;         // the first byte past the 64 that changed, or -1

  bool operator==(const CheckAnswer& o) const {
    return result == o.result && reason == o.reason;
  }
};

// Checks `value` as the module does: a zero-filled 64-byte buffer (with
// guard bytes after it that the host must not touch).
CheckAnswer CheckValue(const std::string& token, const Value& value);

// The registry's module branch, as far as the module's walk gets.
struct Branch {
  tagZormRegNode* root = nullptr;
  tagZormRegNode* privateNode = nullptr;  // "private", found in any case
  tagZormRegNode* acl = nullptr;          // "ACL", found exactly
};
Branch WalkBranch();

// The node of table `name` under `branch.acl`, found exactly; null when the
// walk did not get that far or there is no such table.
tagZormRegNode* FindTable(const Branch& branch, const std::string& name);

// The module's request trees: "Base" asked for its one column without a
// value, and "IPv4BasicRules" with one row that carries a value of every
// kind the rule has (number, boolean, name, text, 64-bit number) and one
// source-address sub-entry (IPv4 values set by the registry's setter).
// Null when out of memory.
// REQUIRES: `table` is the registry node of the tree's table.
zorm_mor_value::NodePtr BaseTree(tagZormRegNode* table);
zorm_mor_value::NodePtr RulesTree(tagZormRegNode* table);

// The bytes of every record of `tree` and of its sub-entry names, in tree
// order: equal before and after a call when the call changed nothing.
std::string TreeBytes(const tagGrpcTableOrRow* tree);

// `text` in double quotes, for reports.
std::string Quote(const std::string& text);

}  // namespace hostcheck

#endif  // ACL_HOSTCHECK_HOST_CALLS_H_
