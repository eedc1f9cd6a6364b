// gRPC's own log lines ("E1207 13:12:52.689 ... ssl_transport_security.cc:
// 807] Could not load any root certificate.") are written for gRPC's
// developers. The programs say in one sentence of their own what went wrong
// and what to do, and show gRPC's lines only when asked to (--verbose, or
// GRPC_VERBOSITY set in the environment).
//
// Process-wide: call once, first thing in main(), before gRPC starts.

#ifndef ACL_CLIENT_GRPC_LOG_H_
#define ACL_CLIENT_GRPC_LOG_H_

namespace acl_client {

// Drops gRPC's log lines unless `verbose` or GRPC_VERBOSITY is set.
void QuietGrpcLog(bool verbose);

}  // namespace acl_client

#endif  // ACL_CLIENT_GRPC_LOG_H_
