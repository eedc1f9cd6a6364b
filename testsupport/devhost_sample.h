// The development host's Host as `acl-devhost --token TOKEN` sets it up,
// for the tests that run the host's operations in process.

#ifndef ACL_TESTSUPPORT_DEVHOST_SAMPLE_H_
#define ACL_TESTSUPPORT_DEVHOST_SAMPLE_H_

#include <memory>
#include <string>
#include <vector>

#include "devhost/adapter.h"
#include "devhost/checks.h"
#include "devhost/config.h"
#include "devhost/host.h"
#include "devhost/registry.h"

namespace acl_test {

// The built-in registry and sample configuration through the json adapter,
// no value refused by rule, one live session: `token`.
inline void UseBuiltInSample(devhost::Host* host, const std::string& token) {
  host->registry = devhost::Registry::BuiltIn();
  host->checker = std::make_unique<devhost::Checker>(
      *host->registry, std::vector<devhost::RejectRule>{});
  host->adapter = devhost::MakeJsonAdapter(
      *host->registry,
      devhost::LoadConfig(*host->registry, devhost::kSampleConfigJson));
  host->tokens = {token};
}

}  // namespace acl_test

#endif  // ACL_TESTSUPPORT_DEVHOST_SAMPLE_H_
