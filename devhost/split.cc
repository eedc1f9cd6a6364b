#include "devhost/split.h"

#include <cstdlib>
#include <cstring>
#include <vector>

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

}  // namespace

char** SplitText(char* text, size_t maxPiece, uint64_t* count) {
  *count = 0;
  if (text == nullptr) return nullptr;
  const size_t size = std::strlen(text);
  std::vector<size_t> ends;
  for (size_t begin = 0; begin < size;) {
    begin = PieceEnd(text, size, begin, maxPiece);
    ends.push_back(begin);
  }
  const size_t pointers = (ends.size() + 1) * sizeof(char*);
  auto* block = static_cast<char*>(std::malloc(pointers + size + 1));
  if (block == nullptr) {
    std::free(text);
    return nullptr;
  }
  char* copy = block + pointers;
  std::memcpy(copy, text, size + 1);
  std::free(text);
  auto** list = reinterpret_cast<char**>(block);
  list[0] = copy;
  for (size_t i = 0; i < ends.size(); ++i) list[i + 1] = copy + ends[i];
  *count = ends.size();
  return list;
}

}  // namespace devhost
