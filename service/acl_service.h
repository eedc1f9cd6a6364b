// ACLServiceImpl: the module's one service object, serving acl.ACLService.
//
// Each method is one line: the shared pipeline (pipeline.h) run with the
// method's Table. The object holds no data; it lives from ServiceCreate to
// ServiceDestroy, which the host calls while no RPC runs, and is only read
// during calls, from any number of gRPC threads at once.

#ifndef ACL_SERVICE_ACL_SERVICE_H_
#define ACL_SERVICE_ACL_SERVICE_H_

#include "proto/acl_tree.grpc.pb.h"

// The module's entry points, exported under their plain names.
#define ACL_EXPORT __attribute__((visibility("default")))
extern "C" {
// Makes the one service object if there is none and registers it with the
// host's server builder. Always returns 0.
ACL_EXPORT int ServiceCreate();
// Deletes the service object, if any. It stays registered with the builder.
ACL_EXPORT void ServiceDestroy();
}

class ACLServiceImpl final : public acl::ACLService::Service {
 public:
  // The module's one object, or null while there is none. Only the entry
  // points make and delete it.
  static const ACLServiceImpl* Instance() { return instance_; }

  ~ACLServiceImpl() override = default;

  using Context = grpc::ServerContext;
  using Reply = grpc_service::GetJsonReply;

  grpc::Status GetJsonACLBase(Context*, const acl::ACLBase*, Reply*) override;
  grpc::Status GetJsonACLCapability(Context*, const acl::ACLCapability*,
                                    Reply*) override;
  grpc::Status GetJsonACLGroups(Context*, const acl::ACLGroups*,
                                Reply*) override;
  grpc::Status GetJsonACLNamedGroups(Context*, const acl::ACLNamedGroups*,
                                     Reply*) override;
  grpc::Status GetJsonACLIPv4BasicRules(Context*,
                                        const acl::ACLIPv4BasicRules*,
                                        Reply*) override;
  grpc::Status GetJsonACLIPv4BasicRulesStream(
      Context*, const acl::ACLIPv4BasicRules*,
      grpc::ServerWriter<Reply>*) override;
  grpc::Status GetJsonACLIPv4NamedBasicRules(
      Context*, const acl::ACLIPv4NamedBasicRules*, Reply*) override;
  grpc::Status GetJsonACLIPv6BasicRules(Context*,
                                        const acl::ACLIPv6BasicRules*,
                                        Reply*) override;
  grpc::Status GetJsonACLIPv6NamedBasicRules(
      Context*, const acl::ACLIPv6NamedBasicRules*, Reply*) override;
  grpc::Status GetJsonACLIPv4AdvanceRules(Context*,
                                          const acl::ACLIPv4AdvanceRules*,
                                          Reply*) override;
  grpc::Status GetJsonACLIPv4NamedAdvanceRules(
      Context*, const acl::ACLIPv4NamedAdvanceRules*, Reply*) override;
  grpc::Status GetJsonACLIPv6AdvanceRules(Context*,
                                          const acl::ACLIPv6AdvanceRules*,
                                          Reply*) override;
  grpc::Status GetJsonACLIPv6NamedAdvanceRules(
      Context*, const acl::ACLIPv6NamedAdvanceRules*, Reply*) override;
  grpc::Status GetJsonACLMACRules(Context*, const acl::ACLMACRules*,
                                  Reply*) override;
  grpc::Status GetJsonACLMACNamedRules(Context*, const acl::ACLMACNamedRules*,
                                       Reply*) override;
  grpc::Status GetJsonACLUserRules(Context*, const acl::ACLUserRules*,
                                   Reply*) override;
  grpc::Status GetJsonACLUserNamedRules(Context*,
                                        const acl::ACLUserNamedRules*,
                                        Reply*) override;
  grpc::Status GetJsonACLIntervals(Context*, const acl::ACLIntervals*,
                                   Reply*) override;
  grpc::Status GetJsonACLPfilterDefAction(Context*,
                                          const acl::ACLPfilterDefAction*,
                                          Reply*) override;
  grpc::Status GetJsonACLPfilterIgnoreAction(
      Context*, const acl::ACLPfilterIgnoreAction*, Reply*) override;
  grpc::Status GetJsonACLPfilterApply(Context*, const acl::ACLPfilterApply*,
                                      Reply*) override;
  grpc::Status GetJsonACLPfilterGroupRunInfo(
      Context*, const acl::ACLPfilterGroupRunInfo*, Reply*) override;
  grpc::Status GetJsonACLPfilterRuleRunInfo(
      Context*, const acl::ACLPfilterRuleRunInfo*, Reply*) override;
  grpc::Status GetJsonACLPfilterStatisticSum(
      Context*, const acl::ACLPfilterStatisticSum*, Reply*) override;
  grpc::Status GetJsonACLZonePairPfilter(Context*,
                                         const acl::ACLZonePairPfilter*,
                                         Reply*) override;
  grpc::Status GetJsonACLZonePairPfilterRules(
      Context*, const acl::ACLZonePairPfilterRules*, Reply*) override;

 private:
  friend int ::ServiceCreate();
  friend void ::ServiceDestroy();

  static ACLServiceImpl* instance_;
};

#endif  // ACL_SERVICE_ACL_SERVICE_H_
