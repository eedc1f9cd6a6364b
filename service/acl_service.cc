#include "service/acl_service.h"

#include "host/host_api.h"
#include "service/pipeline.h"
#include "tables/tables.h"

namespace t = acl_tables;
using acl_service::RunStream;
using acl_service::RunUnary;
using Status = grpc::Status;
using Reply = ACLServiceImpl::Reply;
using Context = ACLServiceImpl::Context;

ACLServiceImpl* ACLServiceImpl::instance_ = nullptr;

// clang-format off
Status ACLServiceImpl::GetJsonACLBase(Context* c, const acl::ACLBase* r, Reply* o) { return RunUnary(c, *r, t::kBase, o); }
Status ACLServiceImpl::GetJsonACLCapability(Context* c, const acl::ACLCapability* r, Reply* o) { return RunUnary(c, *r, t::kCapability, o); }
Status ACLServiceImpl::GetJsonACLGroups(Context* c, const acl::ACLGroups* r, Reply* o) { return RunUnary(c, *r, t::kGroups, o); }
Status ACLServiceImpl::GetJsonACLNamedGroups(Context* c, const acl::ACLNamedGroups* r, Reply* o) { return RunUnary(c, *r, t::kNamedGroups, o); }
Status ACLServiceImpl::GetJsonACLIPv4BasicRules(Context* c, const acl::ACLIPv4BasicRules* r, Reply* o) { return RunUnary(c, *r, t::kIPv4BasicRules, o); }
Status ACLServiceImpl::GetJsonACLIPv4BasicRulesStream(Context* c, const acl::ACLIPv4BasicRules* r, grpc::ServerWriter<Reply>* w) { return RunStream(c, *r, t::kIPv4BasicRules, w); }
Status ACLServiceImpl::GetJsonACLIPv4NamedBasicRules(Context* c, const acl::ACLIPv4NamedBasicRules* r, Reply* o) { return RunUnary(c, *r, t::kIPv4NamedBasicRules, o); }
Status ACLServiceImpl::GetJsonACLIPv6BasicRules(Context* c, const acl::ACLIPv6BasicRules* r, Reply* o) { return RunUnary(c, *r, t::kIPv6BasicRules, o); }
Status ACLServiceImpl::GetJsonACLIPv6NamedBasicRules(Context* c, const acl::ACLIPv6NamedBasicRules* r, Reply* o) { return RunUnary(c, *r, t::kIPv6NamedBasicRules, o); }
Status ACLServiceImpl::GetJsonACLIPv4AdvanceRules(Context* c, const acl::ACLIPv4AdvanceRules* r, Reply* o) { return RunUnary(c, *r, t::kIPv4AdvanceRules, o); }
Status ACLServiceImpl::GetJsonACLIPv4NamedAdvanceRules(Context* c, const acl::ACLIPv4NamedAdvanceRules* r, Reply* o) { return RunUnary(c, *r, t::kIPv4NamedAdvanceRules, o); }
Status ACLServiceImpl::GetJsonACLIPv6AdvanceRules(Context* c, const acl::ACLIPv6AdvanceRules* r, Reply* o) { return RunUnary(c, *r, t::kIPv6AdvanceRules, o); }
Status ACLServiceImpl::GetJsonACLIPv6NamedAdvanceRules(Context* c, const acl::ACLIPv6NamedAdvanceRules* r, Reply* o) { return RunUnary(c, *r, t::kIPv6NamedAdvanceRules, o); }
Status ACLServiceImpl::GetJsonACLMACRules(Context* c, const acl::ACLMACRules* r, Reply* o) { return RunUnary(c, *r, t::kMACRules, o); }
Status ACLServiceImpl::GetJsonACLMACNamedRules(Context* c, const acl::ACLMACNamedRules* r, Reply* o) { return RunUnary(c, *r, t::kMACNamedRules, o); }
Status ACLServiceImpl::GetJsonACLUserRules(Context* c, const acl::ACLUserRules* r, Reply* o) { return RunUnary(c, *r, t::kUserRules, o); }
Status ACLServiceImpl::GetJsonACLUserNamedRules(Context* c, const acl::ACLUserNamedRules* r, Reply* o) { return RunUnary(c, *r, t::kUserNamedRules, o); }
Status ACLServiceImpl::GetJsonACLIntervals(Context* c, const acl::ACLIntervals* r, Reply* o) { return RunUnary(c, *r, t::kIntervals, o); }
Status ACLServiceImpl::GetJsonACLPfilterDefAction(Context* c, const acl::ACLPfilterDefAction* r, Reply* o) { return RunUnary(c, *r, t::kPfilterDefAction, o); }
Status ACLServiceImpl::GetJsonACLPfilterIgnoreAction(Context* c, const acl::ACLPfilterIgnoreAction* r, Reply* o) { return RunUnary(c, *r, t::kPfilterIgnoreAction, o); }
Status ACLServiceImpl::GetJsonACLPfilterApply(Context* c, const acl::ACLPfilterApply* r, Reply* o) { return RunUnary(c, *r, t::kPfilterApply, o); }
Status ACLServiceImpl::GetJsonACLPfilterGroupRunInfo(Context* c, const acl::ACLPfilterGroupRunInfo* r, Reply* o) { return RunUnary(c, *r, t::kPfilterGroupRunInfo, o); }
Status ACLServiceImpl::GetJsonACLPfilterRuleRunInfo(Context* c, const acl::ACLPfilterRuleRunInfo* r, Reply* o) { return RunUnary(c, *r, t::kPfilterRuleRunInfo, o); }
Status ACLServiceImpl::GetJsonACLPfilterStatisticSum(Context* c, const acl::ACLPfilterStatisticSum* r, Reply* o) { return RunUnary(c, *r, t::kPfilterStatisticSum, o); }
Status ACLServiceImpl::GetJsonACLZonePairPfilter(Context* c, const acl::ACLZonePairPfilter* r, Reply* o) { return RunUnary(c, *r, t::kZonePairPfilter, o); }
Status ACLServiceImpl::GetJsonACLZonePairPfilterRules(Context* c, const acl::ACLZonePairPfilterRules* r, Reply* o) { return RunUnary(c, *r, t::kZonePairPfilterRules, o); }
// clang-format on

int ServiceCreate() {
  if (ACLServiceImpl::instance_ == nullptr) {
    ACLServiceImpl::instance_ = new ACLServiceImpl();
  }
  GRPC_GetServerBuilder()->RegisterService(ACLServiceImpl::instance_);
  return 0;
}

void ServiceDestroy() {
  delete ACLServiceImpl::instance_;
  ACLServiceImpl::instance_ = nullptr;
}
