// The allocator of the request tree's records.
//
// A link-time seam: the module links tree_alloc_default.cc (calloc and
// free); the module's tests link an allocator that can fail the k-th
// allocation and counts what is live. Nothing here is state of the module.

#ifndef ACL_TREE_TREE_ALLOC_H_
#define ACL_TREE_TREE_ALLOC_H_

#include <cstddef>

namespace zorm_mor_value {

// `size` zero-filled bytes, or null when out of memory.
void* TreeCalloc(std::size_t size);

// Releases a block from TreeCalloc. Null does nothing.
void TreeFree(void* block);

}  // namespace zorm_mor_value

#endif  // ACL_TREE_TREE_ALLOC_H_
