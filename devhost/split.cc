#include "devhost/split.h"

#include <cstdlib>
#include <cstring>

namespace devhost {
namespace {

// The end of the piece that starts at `begin`.
size_t PieceEnd(const char* text, size_t size, size_t begin, size_t max) {
  const auto continues = [text](size_t i) {
    return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  if (size - begin <= max) return size;
  size_t end = begin + max;
  while (end > begin && continues(end)) --end;
  if (end == begin) {  // one sequence longer than a piece: take it whole
    end = begin + 1;
    while (end < size && continues(end)) ++end;
  }
  return end;
}

// Fills `list` (null: only counts) with the piece pointers of `text`;
// returns the piece count.
size_t Mark(char** list, const char* text, size_t size, size_t maxPiece) {
  size_t pieces = 0;
  if (list != nullptr) list[0] = const_cast<char*>(text);
  for (size_t end = 0; end < size;) {
    end = PieceEnd(text, size, end, maxPiece);
    if (list != nullptr) list[pieces + 1] = const_cast<char*>(text) + end;
    ++pieces;
  }
  return pieces;
}

}  // namespace

char** ListPieces(const char* text, size_t size, size_t maxPiece,
                  uint64_t* count) {
  const size_t pieces = Mark(nullptr, text, size, maxPiece);
  auto** list = static_cast<char**>(std::malloc((pieces + 1) * sizeof(char*)));
  *count = list != nullptr ? Mark(list, text, size, maxPiece) : 0;
  return list;
}

char** SplitText(char* text, size_t maxPiece, uint64_t* count) {
  *count = 0;
  if (text == nullptr) return nullptr;
  const size_t size = std::strlen(text);
  const size_t pieces = Mark(nullptr, text, size, maxPiece);
  const size_t pointers = (pieces + 1) * sizeof(char*);
  auto* block = static_cast<char*>(std::realloc(text, pointers + size + 1));
  if (block == nullptr) {
    std::free(text);
    return nullptr;
  }
  std::memmove(block + pointers, block, size + 1);
  auto** list = reinterpret_cast<char**>(block);
  *count = Mark(list, block + pointers, size, maxPiece);
  return list;
}

}  // namespace devhost
