#include "devhost/config_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace devhost {
namespace {

constexpr size_t kReadChunk = 1 << 20;

// Closes a file descriptor when it goes.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void Fail(const std::string& path) {
  throw std::runtime_error("cannot read " + path + ": " +
                           std::strerror(errno));
}

}  // namespace

ConfigFile::ConfigFile(const std::string& path) {
  const Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) Fail(path);
  struct stat info;
  if (fstat(fd.get(), &info) != 0) Fail(path);
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    const auto size = static_cast<size_t>(info.st_size);
    // Zero pages for the padding, the file over their start.
    const size_t length = size + kPadding;
    void* map = mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS,
                     -1, 0);
    if (map == MAP_FAILED) Fail(path);
    map_ = map;
    mapSize_ = length;
    // Populated at once: cheaper than a fault per page as the parse goes.
    if (mmap(map, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE,
             fd.get(), 0) == MAP_FAILED) {
      const int error = errno;
      munmap(map, length);
      errno = error;
      Fail(path);
    }
    textSize_ = size;
    madvise(map_, size, MADV_SEQUENTIAL);
    return;
  }
  for (;;) {
    const size_t have = read_.size();
    read_.resize(have + kReadChunk);
    const ssize_t n = read(fd.get(), read_.data() + have, kReadChunk);
    if (n < 0 && errno == EINTR) {
      read_.resize(have);
      continue;
    }
    if (n < 0) Fail(path);
    read_.resize(have + static_cast<size_t>(n));
    if (n == 0) {
      read_.reserve(read_.size() + kPadding);
      return;
    }
  }
}

ConfigFile::~ConfigFile() {
  if (map_ != nullptr) munmap(map_, mapSize_);
}

void ConfigFile::Forget(size_t offset) {
  if (map_ == nullptr) return;
  const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t end = (offset < textSize_ ? offset : textSize_) / page * page;
  if (end > 0) madvise(map_, end, MADV_DONTNEED);
}

std::string_view ConfigFile::text() const {
  if (map_ != nullptr) {
    return std::string_view(static_cast<const char*>(map_), textSize_);
  }
  return read_;
}

}  // namespace devhost
