// The module's entry points, and an answer larger than a gRPC message. What
// the host's other answers force (sessions refused, registry branches
// missing, adapters answering nothing, splits answering no list or no
// piece, reasons filling their buffer), which of several token entries is
// read, and that the token reaches every host operation whatever its
// length, the request fuzzer checks on every call.

#include <algorithm>
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
  EXPECT_EQ(ACLServiceImpl::Instance(), nullptr);

  EXPECT_EQ(ServiceCreate(), 0);
  const ACLServiceImpl* made = ACLServiceImpl::Instance();
  ASSERT_NE(made, nullptr);
  TheHost().config.builder = &second;
  EXPECT_EQ(ServiceCreate(), 0);  // same object, registered once more
  EXPECT_EQ(ACLServiceImpl::Instance(), made);
  EXPECT_EQ(scripted::Snapshot().builderCalls, 2);

  ServiceDestroy();
  EXPECT_EQ(ACLServiceImpl::Instance(), nullptr);
  ServiceDestroy();
  EXPECT_EQ(ACLServiceImpl::Instance(), nullptr);

  EXPECT_EQ(ServiceCreate(), 0);  // a new object after destruction
  EXPECT_NE(ACLServiceImpl::Instance(), nullptr);
  ServiceDestroy();
}

// An 8 MiB answer: whole in the unary reply, in 64 KiB pieces on the
// stream, which asks the adapter with the unary call's tree and checks.
TEST_F(ServiceTest, HugeAnswerWholeOrInPiecesFromTheSameTree) {
  constexpr char kUnary[] = "GetJsonACLIPv4BasicRules";
  const std::string huge(8 << 20, 'h'), piece(1 << 16, 'h');
  TheHost().config.answer = huge;
  TheHost().config.splitBytes = piece.size();
  const auto request = ParseRequest(
      kUnary, R"(rule { GroupID: 2000 srcipv4 { SrcIPv4Addr: "10.1.1.0" } } )"
              R"(rule { RuleID: 5 })");
  const Outcome whole{grpc::StatusCode::OK, "", {huge}, ""},
      pieces{grpc::StatusCode::OK, "", std::vector<std::string>(128, piece), ""};
  EXPECT_TRUE(Direct(*request) == whole);
  EXPECT_TRUE(Call(kStreamMethod, *request) == pieces);
  const scripted::Record r = scripted::Snapshot();
  ASSERT_EQ(r.trees.size(), 2u);
  EXPECT_EQ(r.trees[0], r.trees[1]);
  ASSERT_EQ(r.checks.size(), 6u);
  EXPECT_TRUE(std::equal(r.checks.begin(), r.checks.begin() + 3,
                         r.checks.begin() + 3));
  ExpectNothingLive(r);
}

}  // namespace
