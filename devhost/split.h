// Cuts a text into pieces for streamed delivery.
//
// The result is a malloc block of `count + 1` piece pointers; piece i
// (1..count) runs from pointer i-1 up to pointer i. Pieces hold at most
// `maxPiece` bytes and never end inside a UTF-8 sequence (a piece may
// exceed `maxPiece` only when it is smaller than one sequence). Where the
// text lives:
//
//   ListPieces  the list points into the text as it stands, which the
//               caller keeps until the list is freed: nothing is copied;
//   SplitText   the list's block is the text's own, grown with realloc
//               (which remaps a large block's pages) and the text moved up
//               behind the pointers within it, so that a single free() of
//               the list releases everything.
//
// Thread-safe: no state.

#ifndef ACL_DEVHOST_SPLIT_H_
#define ACL_DEVHOST_SPLIT_H_

#include <cstddef>
#include <cstdint>

namespace devhost {

// The piece list of the `size` bytes at `text`, left where they are. An
// empty text gives a list with count 0. Null, with `*count` 0, when out of
// memory. REQUIRES: maxPiece > 0.
char** ListPieces(const char* text, size_t size, size_t maxPiece,
                  uint64_t* count);

// Splits `text`, a malloc'd NUL-terminated text, taken over: moved into the
// list, or released when out of memory. Null, with `*count` 0, then or when
// `text` is null. REQUIRES: maxPiece > 0.
char** SplitText(char* text, size_t maxPiece, uint64_t* count);

}  // namespace devhost

#endif  // ACL_DEVHOST_SPLIT_H_
