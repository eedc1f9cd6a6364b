// The fixed adapter: answers every request tree with the same text, given
// when it is made (acl-devhost --adapter fixed --answer-file FILE).
//
// It does no query work at all, so that a load test can set the module's own
// path beside a plain gRPC server answering the same bytes. Immutable once
// made: safe to call from any number of threads.

#ifndef ACL_DEVHOST_FIXED_ADAPTER_H_
#define ACL_DEVHOST_FIXED_ADAPTER_H_

#include <memory>
#include <string>

#include "devhost/adapter.h"

namespace devhost {

// An adapter whose answer is always a malloc'd copy of `answer`.
std::unique_ptr<Adapter> MakeFixedAdapter(std::string answer);

}  // namespace devhost

#endif  // ACL_DEVHOST_FIXED_ADAPTER_H_
