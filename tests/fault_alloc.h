// The tests' allocator for request-tree records (tree/tree_alloc.h): counts
// what is live and can fail the k-th allocation from a chosen point on.

#ifndef ACL_TESTS_FAULT_ALLOC_H_
#define ACL_TESTS_FAULT_ALLOC_H_

namespace faultalloc {

// From now on, the k-th allocation fails (k >= 1); 0 fails none.
void FailAt(long k);

// Whether the armed failure has fired since the last FailAt.
bool Fired();

// Tree records allocated and not yet released.
long Live();

}  // namespace faultalloc

#endif  // ACL_TESTS_FAULT_ALLOC_H_
