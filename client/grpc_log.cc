#include "client/grpc_log.h"

#include <grpc/support/log.h>

#include <cstdlib>

namespace acl_client {
namespace {

constexpr char kVerbosityVariable[] = "GRPC_VERBOSITY";

void Drop(gpr_log_func_args*) {}

}  // namespace

void QuietGrpcLog(bool verbose) {
  if (verbose || std::getenv(kVerbosityVariable) != nullptr) return;
  gpr_set_log_function(Drop);
}

}  // namespace acl_client
