// The module's entry points. Every outcome the host can force is in
// hostile_host_test.cc; which of several token entries is read, and that
// the token reaches every host operation whatever its length, the request
// fuzzer checks on every call.

#include <string>

#include "service/acl_service.h"
#include "tests/service_fixture.h"

namespace {

using scripted::TheHost;

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
