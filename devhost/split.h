// Cuts a text into pieces for streamed delivery.
//
// The result is a malloc block of `count + 1` piece pointers; piece i
// (1..count) runs from pointer i-1 up to pointer i. Pieces hold at most
// `maxPiece` bytes and never end inside a UTF-8 sequence (a piece may
// exceed `maxPiece` only when it is smaller than one sequence). Null, with
// `*count` 0, when out of memory. REQUIRES: maxPiece > 0.
//
// Thread-safe: no state.

#ifndef ACL_DEVHOST_SPLIT_H_
#define ACL_DEVHOST_SPLIT_H_

#include <cstddef>
#include <cstdint>

namespace devhost {

// The pieces of the `size` bytes at `text`, left where they are: the
// caller keeps the text until the list is freed. An empty text gives a
// list with count 0.
char** ListPieces(const char* text, size_t size, size_t maxPiece,
                  uint64_t* count);

// The pieces of `text`, a malloc'd NUL-terminated text taken over: moved
// behind the pointers into the list's block (the text's own, grown with
// realloc), so that one free() of the list releases everything. Null when
// `text` is null.
char** SplitText(char* text, size_t maxPiece, uint64_t* count);

}  // namespace devhost

#endif  // ACL_DEVHOST_SPLIT_H_
