#include "exporter/reply_buffer.h"

#include <cstdlib>
#include <cstring>

namespace exporter {

ReplyBuffer::~ReplyBuffer() { std::free(data_); }

bool ReplyBuffer::Append(std::string_view piece) {
  const size_t need = size_ + piece.size() + kPadding;
  if (need > capacity_) {
    size_t grown = capacity_ + capacity_ / 2;
    if (grown < kFirstCapacity) grown = kFirstCapacity;
    if (grown < need) grown = need;
    char* moved = static_cast<char*>(std::realloc(data_, grown));
    if (moved == nullptr) return false;
    data_ = moved;
    capacity_ = grown;
  }
  std::memcpy(data_ + size_, piece.data(), piece.size());
  size_ += piece.size();
  std::memset(data_ + size_, 0, kPadding);
  return true;
}

void ReplyBuffer::Truncate(size_t size) {
  size_ = size;
  std::memset(data_ + size_, 0, kPadding);
}

void ReplyBuffer::Clear() {
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

}  // namespace exporter
