#include "benchmarks/plain_service.h"

#include <algorithm>
#include <utility>

namespace acl_bench {

PlainService::PlainService(std::string answer, size_t pieceBytes)
    : answer_(std::move(answer)), pieceBytes_(pieceBytes) {}

grpc::Status PlainService::Answer(Reply* reply) const {
  reply->set_result(answer_);
  return grpc::Status::OK;
}

grpc::Status PlainService::GetJsonACLIPv4BasicRulesStream(
    Context*, const acl::ACLIPv4BasicRules*,
    grpc::ServerWriter<Reply>* writer) {
  Reply reply;
  if (answer_.empty()) {
    writer->Write(reply, grpc::WriteOptions());
    return grpc::Status::OK;
  }
  for (size_t at = 0; at < answer_.size(); at += pieceBytes_) {
    reply.set_result(answer_.data() + at,
                     std::min(pieceBytes_, answer_.size() - at));
    writer->Write(reply, grpc::WriteOptions());
  }
  return grpc::Status::OK;
}

}  // namespace acl_bench
