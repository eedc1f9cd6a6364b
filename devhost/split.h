// Cuts a heap text into pieces for streamed delivery.
//
// The result is a malloc block of `count + 1` piece pointers; piece i
// (1..count) runs from pointer i-1 up to pointer i. Where the text lives:
//
//   kept   a keeper (such as the call scope's ReleaseAtCallEnd) takes the
//          text and releases it later: the list points into the text as it
//          stands, nothing is copied;
//   moved  otherwise the list's block is the text's own, grown with realloc
//          (which extends a large block or remaps its pages) and the text
//          moved up behind the pointers within it, so that a single free()
//          of the list releases everything.
//
// Thread-safe: no state.

#ifndef ACL_DEVHOST_SPLIT_H_
#define ACL_DEVHOST_SPLIT_H_

#include <cstddef>
#include <cstdint>

namespace devhost {

// Takes a malloc'd block to release later; false when it cannot.
using TextKeeper = bool (*)(void* text);

// Splits `text` (a malloc'd NUL-terminated text, taken over: kept, moved
// into the list or released) into pieces of at most `maxPiece` bytes, never
// inside a UTF-8 sequence (a piece may exceed `maxPiece` only when it is
// smaller than one sequence). An empty text gives a list with count 0.
// Returns null, with `*count` 0, when out of memory or when `text` is null.
// REQUIRES: maxPiece > 0; a kept text outlives the list.
char** SplitText(char* text, size_t maxPiece, uint64_t* count,
                 TextKeeper keeper = nullptr);

}  // namespace devhost

#endif  // ACL_DEVHOST_SPLIT_H_
