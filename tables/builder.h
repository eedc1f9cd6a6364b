// The one generic tree builder: turns any request message into its request
// tree, as the message's Table describes it.
//
// Per column: an absent field (proto2 presence) gives a no-value record and
// no check; a present one, whatever its value, is checked by the host
// (GRPC_CheckValueOfPara) and, once accepted, becomes a valued record set by
// its kind's setter. The first rejected value stops the build.
//
// Thread-safe: it keeps no state between calls.

#ifndef ACL_TABLES_BUILDER_H_
#define ACL_TABLES_BUILDER_H_

#include "tables/table.h"

namespace acl_tables {

// Size of the buffer the host writes a rejection's reason into.
constexpr uint32_t kErrorTextSize = 64;

enum class BuildResult { kBuilt, kRejected, kOutOfMemory };

// What a rejected value leaves behind: the column and the host's reason,
// NUL-terminated within the buffer unless the host filled all of it.
struct Rejection {
  const Column* column = nullptr;
  char errorText[kErrorTextSize] = {};
};

// Fills `tableNode` (a fresh table node) from `request`. On kRejected,
// `*rejection` says why. Whatever the result, everything built so far hangs
// on `tableNode` or has been released: the caller releases the tree.
// REQUIRES: `request` is of the generated class that `table` describes.
BuildResult BuildTree(const Table& table, const Message& request,
                      const char* token, tagGrpcTableOrRow* tableNode,
                      Rejection* rejection);

}  // namespace acl_tables

#endif  // ACL_TABLES_BUILDER_H_
