// TokenFile: the session tokens of the exporter's targets, read from the
// file given with --token-file.
//
// The file holds either one token (one word on one line) used for every
// target, or lines "HOST:PORT TOKEN" (blank lines and lines starting with
// '#' ignored). It is read again whenever its size or modification time
// changes, so tokens can be rotated without a restart; a file that cannot
// be read fails each lookup until it can. Tokens are never logged: errors
// name the file and the target only.
//
// Thread-safe: lookups from many probes at once share one cached copy.

#ifndef ACL_EXPORTER_TOKEN_FILE_H_
#define ACL_EXPORTER_TOKEN_FILE_H_

#include <sys/types.h>

#include <ctime>
#include <map>
#include <mutex>
#include <string>

namespace exporter {

class TokenFile {
 public:
  // An empty `path` means no tokens: every lookup answers "" (no token).
  explicit TokenFile(std::string path);

  TokenFile(const TokenFile&) = delete;
  TokenFile& operator=(const TokenFile&) = delete;

  // Sets `*token` to the token for `target` (HOST:PORT). Returns false with
  // `*error` set when the file cannot be read or names no token for it.
  bool Lookup(const std::string& target, std::string* token,
              std::string* error);

 private:
  // REQUIRES: mu_ held. Re-reads the file if it changed.
  bool Refresh(std::string* error);

  const std::string path_;
  std::mutex mu_;
  bool loaded_ = false;
  off_t size_ = -1;
  struct timespec mtime_ = {};
  std::string everyTarget_;                    // the one-token form
  std::map<std::string, std::string> perTarget_;  // the HOST:PORT form
};

}  // namespace exporter

#endif  // ACL_EXPORTER_TOKEN_FILE_H_
