// A small but complete host: every host and registry operation the module
// calls (host/host_api.h), for the contract checker's tests and for the
// host project built against the installed package. Each promise of the
// checker can be broken on purpose, one at a time, chosen at run time.
//
// Process-wide state: Break() and SetBuilder() are called while no
// operation runs; the operations then only read it, from any number of
// threads (the "threads" fault aside, which races on purpose).

#ifndef ACL_TESTS_TOY_HOST_H_
#define ACL_TESTS_TOY_HOST_H_

#include <string>

#include "hostcheck/hostcheck.h"

namespace grpc {
class ServerBuilder;
}

namespace toyhost {

// From now on breaks `promise` (a name of hostcheck::Promises()) with the
// toy host's fault for it, or nothing when it is empty. False for a name
// that is no promise.
bool Break(const std::string& promise);

// What the contract checker must know of this host.
hostcheck::HostFacts Facts();

// The builder GRPC_GetServerBuilder hands out (default: one of its own).
void SetBuilder(grpc::ServerBuilder* builder);

}  // namespace toyhost

#endif  // ACL_TESTS_TOY_HOST_H_
