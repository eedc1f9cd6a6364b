// The request pipeline every method of the service runs: read the session
// token, check the session, walk the registry to the method's table, build
// the request tree, ask the host adapter, deliver its text.
//
// RunUnary puts the answer (or the "{Err:...}" text of a rejected value) in
// one reply; RunStream writes it piece by piece on a stream. Both share all
// steps up to the adapter call. RunStream takes the writer's interface, so
// that a harness without a gRPC call (a fuzzer) can stand in for the stream.
//
// Thread-safe: a call keeps everything it makes on its own stack and
// releases it before returning, on every path. The pipeline takes no lock.

#ifndef ACL_SERVICE_PIPELINE_H_
#define ACL_SERVICE_PIPELINE_H_

#include <grpcpp/grpcpp.h>
#include <grpcpp/support/sync_stream.h>

#include "proto/grpc_service.pb.h"
#include "tables/table.h"

namespace acl_service {

grpc::Status RunUnary(grpc::ServerContext* context,
                      const google::protobuf::Message& request,
                      const acl_tables::Table& table,
                      grpc_service::GetJsonReply* reply);

grpc::Status RunStream(
    grpc::ServerContext* context, const google::protobuf::Message& request,
    const acl_tables::Table& table,
    grpc::ServerWriterInterface<grpc_service::GetJsonReply>* writer);

}  // namespace acl_service

#endif  // ACL_SERVICE_PIPELINE_H_
