// The request pipeline every method shares, driven through a real gRPC
// server: which of several token entries is read, and the module's entry
// points. Every outcome the host can force is in hostile_host_test.cc; that
// the token reaches every host operation, whatever its length, the request
// fuzzer checks on every call.

#include <string>

#include "service/acl_service.h"
#include "tests/service_fixture.h"

namespace {

using scripted::TheHost;

TEST_F(ServiceTest, FirstOfSeveralTokenEntriesIsUsed) {
  for (bool goodFirst : {true, false}) {
    grpc::ClientContext context;
    context.AddMetadata("token_id", goodFirst ? kToken : "stranger");
    context.AddMetadata("token_id", goodFirst ? "stranger" : kToken);
    context.AddMetadata("token_idx", kToken);
    grpc_service::GetJsonReply reply;
    grpc::Status s = acl::ACLService::NewStub(channel_)->GetJsonACLBase(
        &context, acl::ACLBase(), &reply);
    EXPECT_EQ(s.error_code(), goodFirst ? 0 : 7) << goodFirst;
  }
  EXPECT_EQ(scripted::Snapshot().sessions,
            (std::vector<std::string>{kToken, "stranger"}));
}

// ServiceCreate and ServiceDestroy in every state, without a running server.
TEST(EntryPoints, CreateAndDestroyInEveryState) {
  scripted::Reset();
  grpc::ServerBuilder first, second;
  TheHost().config.builder = &first;

  ServiceDestroy();  // nothing made yet: nothing happens
  EXPECT_EQ(ACLServiceImpl::server, nullptr);

  EXPECT_EQ(ServiceCreate(), 0);
  ACLServiceImpl* made = ACLServiceImpl::server;
  ASSERT_NE(made, nullptr);
  TheHost().config.builder = &second;
  EXPECT_EQ(ServiceCreate(), 0);  // same object, registered once more
  EXPECT_EQ(ACLServiceImpl::server, made);
  EXPECT_EQ(scripted::Snapshot().builderCalls, 2);

  ServiceDestroy();
  EXPECT_EQ(ACLServiceImpl::server, nullptr);
  ServiceDestroy();
  EXPECT_EQ(ACLServiceImpl::server, nullptr);

  EXPECT_EQ(ServiceCreate(), 0);  // a new object after destruction
  EXPECT_NE(ACLServiceImpl::server, nullptr);
  ServiceDestroy();
}

}  // namespace
