// ReplyBuffer: JSON text kept with the padding simdjson reads past the end
// (a batch of rows, the skeleton of an answer: see RowScanner).
//
// It grows with realloc(): for blocks above malloc's mmap threshold (which
// main() fixes at 128 KiB) glibc moves the pages with mremap instead of
// copying, so a large text is never held twice while it grows. Owns its
// memory; not thread-safe.

#ifndef ACL_EXPORTER_REPLY_BUFFER_H_
#define ACL_EXPORTER_REPLY_BUFFER_H_

#include <cstddef>
#include <string_view>

namespace exporter {

class ReplyBuffer {
 public:
  static constexpr size_t kPadding = 64;  // SIMDJSON_PADDING
  static constexpr size_t kFirstCapacity = 1024;  // fewer small regrowths

  ReplyBuffer() = default;
  ~ReplyBuffer();
  ReplyBuffer(const ReplyBuffer&) = delete;
  ReplyBuffer& operator=(const ReplyBuffer&) = delete;

  // Appends `piece`; false if memory ran out.
  bool Append(std::string_view piece);

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }  // with the padding

  // Keeps the first `size` bytes.
  // REQUIRES: size <= size().
  void Truncate(size_t size);

  // Frees the memory.
  void Clear();

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

}  // namespace exporter

#endif  // ACL_EXPORTER_REPLY_BUFFER_H_
