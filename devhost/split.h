// Cuts a heap text into pieces for streamed delivery.
//
// The result is one malloc block: `count + 1` piece pointers followed by
// the text they point into, so a single free() of the list releases
// everything. Piece i (1..count) runs from pointer i-1 up to pointer i.
//
// The block is the text's own, grown with realloc (which extends a large
// block or remaps its pages rather than copying them) and the text moved
// up behind the pointers within it: no second copy of the text is ever
// held. Thread-safe: no state.

#ifndef ACL_DEVHOST_SPLIT_H_
#define ACL_DEVHOST_SPLIT_H_

#include <cstddef>
#include <cstdint>

namespace devhost {

// Splits `text` (a malloc'd NUL-terminated text, taken over: it becomes
// the list or is released) into pieces of at most `maxPiece` bytes, never
// inside a UTF-8 sequence (a piece may exceed `maxPiece` only when it is
// smaller than one sequence). An empty text gives a list with count 0.
// Returns null, with `*count` 0, when out of memory or when `text` is null.
// REQUIRES: maxPiece > 0.
char** SplitText(char* text, size_t maxPiece, uint64_t* count);

}  // namespace devhost

#endif  // ACL_DEVHOST_SPLIT_H_
