// PlainService: acl.ACLService with no module behind it. Every unary method
// answers the same fixed text; the streamed method sends it in pieces of a
// fixed size, one reply object reused for every write. It is the yardstick
// the module is measured against: what bare gRPC costs for the same bytes.
//
// Immutable once made: any number of calls at once, no lock.

#ifndef ACL_BENCHMARKS_PLAIN_SERVICE_H_
#define ACL_BENCHMARKS_PLAIN_SERVICE_H_

#include <cstddef>
#include <string>

#include "proto/acl_tree.grpc.pb.h"

namespace acl_bench {

class PlainService final : public acl::ACLService::Service {
 public:
  // REQUIRES: pieceBytes > 0.
  PlainService(std::string answer, size_t pieceBytes);

  using Context = grpc::ServerContext;
  using Reply = grpc_service::GetJsonReply;

#define ACL_PLAIN_UNARY(NAME)                                             \
  grpc::Status GetJsonACL##NAME(Context*, const acl::ACL##NAME*,          \
                                Reply* reply) override {                  \
    return Answer(reply);                                                 \
  }
  ACL_PLAIN_UNARY(Base)
  ACL_PLAIN_UNARY(Capability)
  ACL_PLAIN_UNARY(Groups)
  ACL_PLAIN_UNARY(NamedGroups)
  ACL_PLAIN_UNARY(IPv4BasicRules)
  ACL_PLAIN_UNARY(IPv4NamedBasicRules)
  ACL_PLAIN_UNARY(IPv6BasicRules)
  ACL_PLAIN_UNARY(IPv6NamedBasicRules)
  ACL_PLAIN_UNARY(IPv4AdvanceRules)
  ACL_PLAIN_UNARY(IPv4NamedAdvanceRules)
  ACL_PLAIN_UNARY(IPv6AdvanceRules)
  ACL_PLAIN_UNARY(IPv6NamedAdvanceRules)
  ACL_PLAIN_UNARY(MACRules)
  ACL_PLAIN_UNARY(MACNamedRules)
  ACL_PLAIN_UNARY(UserRules)
  ACL_PLAIN_UNARY(UserNamedRules)
  ACL_PLAIN_UNARY(Intervals)
  ACL_PLAIN_UNARY(PfilterDefAction)
  ACL_PLAIN_UNARY(PfilterIgnoreAction)
  ACL_PLAIN_UNARY(PfilterApply)
  ACL_PLAIN_UNARY(PfilterGroupRunInfo)
  ACL_PLAIN_UNARY(PfilterRuleRunInfo)
  ACL_PLAIN_UNARY(PfilterStatisticSum)
  ACL_PLAIN_UNARY(ZonePairPfilter)
  ACL_PLAIN_UNARY(ZonePairPfilterRules)
#undef ACL_PLAIN_UNARY

  grpc::Status GetJsonACLIPv4BasicRulesStream(
      Context*, const acl::ACLIPv4BasicRules*,
      grpc::ServerWriter<Reply>* writer) override;

 private:
  grpc::Status Answer(Reply* reply) const;

  const std::string answer_;
  const size_t pieceBytes_;
};

}  // namespace acl_bench

#endif  // ACL_BENCHMARKS_PLAIN_SERVICE_H_
