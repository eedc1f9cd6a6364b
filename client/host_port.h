// HOST:PORT as the programs here read it: a device's address (the
// exporter's targets and credentials) and a listening address (acl-devhost
// --listen, acl-exporter --web.listen-address). aclctl hands --addr to gRPC
// as it stands, since gRPC also takes other target forms.
//
// Header only, no state.

#ifndef ACL_CLIENT_HOST_PORT_H_
#define ACL_CLIENT_HOST_PORT_H_

#include <string>
#include <string_view>

namespace acl_client {

// Splits `text` at its last colon into `*host` (as written: an IPv6
// address keeps its brackets) and `*port`. True when the host is not empty
// and the port is one to five decimal digits of a number up to 65535 (0
// included: a listening address's "any free port"). On false, `*host` and
// `*port` are unspecified.
inline bool SplitHostPort(std::string_view text, std::string* host,
                          int* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view digits = text.substr(colon + 1);
  if (digits.empty() || digits.size() > 5) return false;
  int n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n > 65535) return false;
  host->assign(text.substr(0, colon));
  *port = n;
  return true;
}

}  // namespace acl_client

#endif  // ACL_CLIENT_HOST_PORT_H_
