// A configuration file's bytes for one reading: mapped read-only when it is
// a regular file, read whole otherwise (a pipe, say), and released when the
// ConfigFile goes, so that nothing of the file outlives its parse. At least
// kPadding readable bytes follow the text, as the JSON parser needs. A
// reader that is done with the bytes before some offset may Forget them:
// their pages leave the process (reading them again maps them in again).
//
// Owns the mapping or the buffer. Not thread-safe.

#ifndef ACL_DEVHOST_CONFIG_FILE_H_
#define ACL_DEVHOST_CONFIG_FILE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace devhost {

class ConfigFile {
 public:
  static constexpr size_t kPadding = 64;

  // Throws std::runtime_error "cannot read PATH: REASON".
  explicit ConfigFile(const std::string& path);
  ~ConfigFile();
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;

  std::string_view text() const;
  // Gives back the pages of a mapped file that lie wholly before `offset`.
  void Forget(size_t offset);

 private:
  void* map_ = nullptr;
  size_t mapSize_ = 0;
  size_t textSize_ = 0;
  std::string read_;  // when not mapped
};

}  // namespace devhost

#endif  // ACL_DEVHOST_CONFIG_FILE_H_
