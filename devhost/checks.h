// The development host's value checks (GRPC_CheckValueOfPara): each value is
// judged by the registry column its path names. Numbers (types 1, 8) are
// decimal digits only (no sign or space) within the column's min/max and
// the type's range; booleans (15) "0" or "1"; IPv4 addresses (5) dotted;
// MAC addresses (14) six hyphen-separated hex bytes (00-1a-2b-3c-4d-5e);
// strings (6, 22) at most maxLength bytes, an IPv6 address for the format
// "ipv6". A rejection comes with a short reason ("a number from 0 to 65535",
// "unknown column"). Reject rules (--reject PATH[=TEXT]) reject a column's
// every value, or one text of it, with the reason "rejected by --reject".
//
// Immutable once made: safe to call from any number of threads. Keeps a
// reference to the registry, which must outlive it.

#ifndef ACL_DEVHOST_CHECKS_H_
#define ACL_DEVHOST_CHECKS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devhost/registry.h"

namespace devhost {

struct RejectRule {
  std::string path;                 // "ACL/Base/ProcessingStatus"
  std::optional<std::string> text;  // only this text, or every value
};

// Judges `text` as a value of `column` by the rules above: nothing when it
// is one, else the reason. An address's bytes go to `address`, and their
// count (4, 6, or 16 for the format "ipv6") to `*size`; 0 for the others.
std::optional<std::string> JudgeValue(const RegColumn& column,
                                      std::string_view text,
                                      uint8_t address[16], size_t* size);

// Parses the argument of --reject: "PATH" or "PATH=TEXT" (TEXT may be empty
// and may hold '='). Throws std::invalid_argument for an empty path.
RejectRule ParseRejectRule(const std::string& arg);

class Checker {
 public:
  // Throws std::invalid_argument when a rule names a path that is no column
  // of `registry`.
  Checker(const Registry& registry, std::vector<RejectRule> rejects);

  // Null when `text` is a valid value of the column at `path`, else the
  // reason.
  std::optional<std::string> Judge(std::string_view path,
                                   std::string_view text) const;

 private:
  const Registry& registry_;
  const std::vector<RejectRule> rejects_;
};

}  // namespace devhost

#endif  // ACL_DEVHOST_CHECKS_H_
