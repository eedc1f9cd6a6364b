// Credentials: which targets a probe may reach, and the session token each
// one gets, read from the file given with --token-file.
//
// The file has lines "PATTERN TOKEN" (blank lines and lines starting with
// '#' ignored). A PATTERN is one of
//   HOST:PORT            that target exactly (IP literals compared as
//                        addresses, names without regard to case)
//   A.B.C.D/N:PORT       targets written as IP literals in that network
//   [V6ADDR]/N:PORT      (IPv6 likewise), on that port
//   *.SUFFIX:PORT        targets whose host name ends in .SUFFIX
//   *                    every target (the explicit catch-all)
// Lookup: an exact entry first, then the other patterns in file order; the
// first match gives the token.
//
// Loading refuses the file (the old one stays in use) when it is readable
// or writable by other users, larger than kMaxFileBytes, or has a bad line:
// a single bare word (the old one-token-for-every-target form), more than
// two words, a bad or repeated pattern. Error texts name the file, the line
// number and the pattern, never a token.
//
// TargetPatterns is the ordered pattern list alone (shared with the
// allowed_targets of the exporter configuration).
//
// Immutable once loaded: thread-safe.

#ifndef ACL_EXPORTER_CREDENTIALS_H_
#define ACL_EXPORTER_CREDENTIALS_H_

#include <sys/stat.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace exporter {

// One pattern of targets.
class TargetPattern {
 public:
  // Parses `text`; false with `*error` set (naming the text) when it is not
  // one of the forms above.
  static bool Parse(const std::string& text, TargetPattern* pattern,
                    std::string* error);

  // REQUIRES: `target` is HOST:PORT (IsHostPort).
  bool Matches(const std::string& target) const;

  bool exact() const { return kind_ == kExact; }
  // The exact target in canonical form (REQUIRES: exact()).
  const std::string& key() const { return host_; }

 private:
  enum Kind { kAny, kExact, kNetwork, kSuffix };
  Kind kind_ = kAny;
  std::string host_;       // kExact: canonical HOST:PORT; kSuffix: ".suffix"
  int port_ = 0;
  int family_ = 0;         // kNetwork: AF_INET or AF_INET6
  unsigned char addr_[16] = {};
  int prefix_ = 0;         // kNetwork: bits
};

// HOST:PORT with the host lowercased and an IP literal in canonical text
// (so that "[0::1]:1" and "[::1]:1" are the same target). REQUIRES:
// IsHostPort(target).
std::string CanonicalTarget(const std::string& target);

// Patterns in order, each with a value (its index in the file).
class TargetPatterns {
 public:
  // Adds `pattern`; false when an exact one repeats an earlier one.
  bool Add(const TargetPattern& pattern, size_t value);
  // The value of the first match (exact ones first), or -1.
  long Find(const std::string& target) const;
  bool empty() const { return exact_.empty() && others_.empty(); }

 private:
  std::map<std::string, size_t> exact_;
  std::vector<std::pair<TargetPattern, size_t>> others_;
};

class Credentials {
 public:
  static constexpr size_t kMaxFileBytes = 1 << 20;

  // Reads `path`. Returns nullptr with `*error` set when it cannot be read
  // or is refused (see above).
  static std::unique_ptr<const Credentials> Load(const std::string& path,
                                                 std::string* error);

  // The token for `target` (HOST:PORT), or nullptr when no pattern matches.
  const std::string* Find(const std::string& target) const;

 private:
  Credentials() = default;

  TargetPatterns patterns_;
  std::vector<std::string> tokens_;  // by line order
};

// Reads the whole file `path` (at most Credentials::kMaxFileBytes) into
// `*text`; false with errno set when it cannot be opened or read, or is
// larger (EFBIG).
bool ReadFile(const std::string& path, std::string* text);

// ReadFile for a file of secrets: read only when it is a regular file that
// other users can neither read nor write. Its status goes to `*info` (all
// zero when it could not be opened or stat'ed); false with errno 0 when
// refused for its type or mode.
bool ReadPrivateFile(const std::string& path, std::string* text,
                     struct stat* info);

}  // namespace exporter

#endif  // ACL_EXPORTER_CREDENTIALS_H_
