// The check of each promise, run by Run() in a child process of its own.
//
// A check calls the host operations as the module does and judges what
// comes back; it leaves a Note before every call that may crash. Checks keep
// no state between runs.

#ifndef ACL_HOSTCHECK_CHECKS_H_
#define ACL_HOSTCHECK_CHECKS_H_

#include <vector>

#include "hostcheck/hostcheck.h"
#include "hostcheck/probe.h"

namespace hostcheck {

struct Check {
  Promise promise;
  Verdict (*run)(const HostFacts& facts, const Options& options);
};

// Every check, in the order of Promises().
const std::vector<Check>& Checks();

}  // namespace hostcheck

#endif  // ACL_HOSTCHECK_CHECKS_H_
