// The development host's process-wide state, behind the host and registry
// operations that the executable exports to the module (host_ops.cc).
//
// main() fills it in before it loads the module and leaves it unchanged
// until the server has shut down and the module is gone; in between the
// operations only read it, from any number of server threads, without a
// lock. The exception is `stopping`, which the stop raises.

#ifndef ACL_DEVHOST_HOST_H_
#define ACL_DEVHOST_HOST_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "devhost/adapter.h"
#include "devhost/checks.h"
#include "devhost/registry.h"

namespace grpc {
class ServerBuilder;
}

namespace devhost {

struct Host {
  std::unique_ptr<Registry> registry;
  std::unique_ptr<Checker> checker;    // refers to *registry
  std::unique_ptr<Adapter> adapter;    // refers to *registry
  std::unordered_set<std::string> tokens;  // the live sessions
  size_t splitBytes = 65536;               // largest streamed piece
  grpc::ServerBuilder* builder = nullptr;  // owned by main()

  // Raised once a stop's grace has passed: from then on the operations
  // answer at once (no session, every value rejected, no answer), so that
  // the handlers still running return quickly.
  std::atomic<bool> stopping{false};
};


// The one Host of the process.
Host& TheHost();

// Sets `host` up as `acl-devhost --token TOKEN` serves: the built-in
// registry and sample configuration through the json adapter, no value
// refused by rule, one live session.
void UseBuiltInSample(Host* host, const std::string& token);

}  // namespace devhost

#endif  // ACL_DEVHOST_HOST_H_
