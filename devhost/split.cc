#include "devhost/split.h"

#include <cstdlib>
#include <cstring>

namespace devhost {
namespace {

bool IsContinuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The end of the piece that starts at `begin`.
size_t PieceEnd(const char* text, size_t size, size_t begin, size_t max) {
  if (size - begin <= max) return size;
  size_t end = begin + max;
  while (end > begin && IsContinuation(text[end])) --end;
  if (end == begin) {  // one sequence longer than a piece: take it whole
    end = begin + 1;
    while (end < size && IsContinuation(text[end])) ++end;
  }
  return end;
}

size_t CountPieces(const char* text, size_t size, size_t maxPiece) {
  size_t pieces = 0;
  for (size_t begin = 0; begin < size; ++pieces) {
    begin = PieceEnd(text, size, begin, maxPiece);
  }
  return pieces;
}

// Fills `list` with the `pieces` + 1 piece pointers of `text`.
void Mark(char** list, const char* text, size_t size, size_t pieces,
          size_t maxPiece) {
  list[0] = const_cast<char*>(text);
  size_t end = 0;
  for (size_t i = 1; i <= pieces; ++i) {
    end = PieceEnd(text, size, end, maxPiece);
    list[i] = const_cast<char*>(text) + end;
  }
}

}  // namespace

char** ListPieces(const char* text, size_t size, size_t maxPiece,
                  uint64_t* count) {
  *count = 0;
  const size_t pieces = CountPieces(text, size, maxPiece);
  auto** list = static_cast<char**>(std::malloc((pieces + 1) * sizeof(char*)));
  if (list == nullptr) return nullptr;
  Mark(list, text, size, pieces, maxPiece);
  *count = pieces;
  return list;
}

char** SplitText(char* text, size_t maxPiece, uint64_t* count) {
  *count = 0;
  if (text == nullptr) return nullptr;
  const size_t size = std::strlen(text);
  const size_t pieces = CountPieces(text, size, maxPiece);
  const size_t pointers = (pieces + 1) * sizeof(char*);
  auto* block = static_cast<char*>(std::realloc(text, pointers + size + 1));
  if (block == nullptr) {
    std::free(text);
    return nullptr;
  }
  char* moved = block + pointers;
  std::memmove(moved, block, size + 1);
  auto** list = reinterpret_cast<char**>(block);
  Mark(list, moved, size, pieces, maxPiece);
  *count = pieces;
  return list;
}

}  // namespace devhost
