// The request pipeline every method shares, driven through a real gRPC
// server: token and session, registry walk, value check, error replies,
// adapter answer, and the module's entry points.

#include <atomic>
#include <string>
#include <thread>

#include "service/acl_service.h"
#include "tests/fault_alloc.h"
#include "tests/service_fixture.h"

namespace {

using testhost::TheHost;

constexpr char kEmptyBase[] =
    R"({"kind":"table","columns":[{"morId":"0x02010101","type":0,)"
    R"("noValue":true}],"subEntries":[],"rows":[]})";

acl::ACLBase BaseWith(uint32_t status) {
  acl::ACLBase request;
  request.set_processingstatus(status);
  return request;
}

struct TokenCase {
  const char* name;
  const char* token;                     // null: no "token_id" entry
  std::optional<uint16_t> sessionResult;  // fixed answer of the session check
  int code;
  const char* message;
};

class TokenTest : public ServiceTest,
                  public ::testing::WithParamInterface<TokenCase> {};

TEST_P(TokenTest, DecidesBeforeAnythingElse) {
  const TokenCase& c = GetParam();
  TheHost().config.sessionResult = c.sessionResult;
  Answer a = Call("GetJsonACLBase", acl::ACLBase(), c.token);
  EXPECT_EQ(a.code, c.code);
  EXPECT_EQ(a.message, c.message);
  testhost::Record r = testhost::Snapshot();
  if (c.token == nullptr) {
    EXPECT_TRUE(r.sessions.empty());
  }
  if (c.code != 0) {
    EXPECT_EQ(a.results[0], "");
    EXPECT_TRUE(r.lookups.empty()) << "registry asked after a token failure";
    EXPECT_TRUE(r.trees.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pipeline, TokenTest,
    ::testing::Values(
        TokenCase{"NoToken", nullptr, {}, 7, "Request with no token ID"},
        TokenCase{"Unknown", "stranger", {}, 7,
                  "Request with invalid token ID"},
        TokenCase{"SessionZero", kToken, 0, 7,
                  "Request with invalid token ID"},
        TokenCase{"SessionTwo", kToken, 2, 7,
                  "Request with invalid token ID"},
        TokenCase{"Known", kToken, {}, 0, ""},
        TokenCase{"EmptyKnown", "", 1, 0, ""}),
    [](const auto& info) { return std::string(info.param.name); });

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
  EXPECT_EQ(testhost::Snapshot().sessions,
            (std::vector<std::string>{kToken, "stranger"}));
}

TEST_F(ServiceTest, TokenReachesEveryHostOperation) {
  // Short and long tokens alike, on both sides of the call's own storage.
  for (size_t size : {4, 127, 128, 1000}) {
    const std::string token = "t-42" + std::string(size - 4, 'x');
    testhost::Reset();
    TheHost().config.tokens = {token};
    ASSERT_EQ(Call("GetJsonACLBase", BaseWith(7), token.c_str()).code, 0);
    testhost::Record r = testhost::Snapshot();
    EXPECT_EQ(r.sessions, std::vector<std::string>{token});
    ASSERT_EQ(r.checks.size(), 1u);
    EXPECT_EQ(r.checks[0].token, token);
    EXPECT_EQ(r.adapterArgs, std::vector<std::string>{"ACL " + token});
  }
}

struct RegistryCase {
  const char* name;
  bool noRoot;
  const char* privateName;
  const char* moduleName;
  bool dropBase;
  int code;
};

class RegistryTest : public ServiceTest,
                     public ::testing::WithParamInterface<RegistryCase> {};

TEST_P(RegistryTest, WalksPrivateAnyCaseThenExactNames) {
  const RegistryCase& c = GetParam();
  testhost::Config& config = TheHost().config;
  config.noRoot = c.noRoot;
  config.privateName = c.privateName;
  config.moduleName = c.moduleName;
  if (c.dropBase) {
    config.missingTables = {"Base"};
    config.extraTables = {"base", "BASE"};
  }
  Answer a = Call("GetJsonACLBase", BaseWith(1));
  EXPECT_EQ(a.code, c.code);
  EXPECT_EQ(a.message, c.code == 0 ? "" : "Service is unimplemented");
  testhost::Record r = testhost::Snapshot();
  if (c.code != 0) {
    EXPECT_TRUE(r.checks.empty());
    EXPECT_TRUE(r.trees.empty());
    EXPECT_EQ(faultalloc::Live(), 0);
  } else {
    EXPECT_EQ(r.lookups, (std::vector<std::string>{"<root>", "private",
                                                   "ACL", "Base"}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pipeline, RegistryTest,
    ::testing::Values(
        RegistryCase{"Found", false, "private", "ACL", false, 0},
        RegistryCase{"PrivateInCapitals", false, "PRIVATE", "ACL", false, 0},
        RegistryCase{"PrivateMixedCase", false, "PrIvAtE", "ACL", false, 0},
        RegistryCase{"NoRoot", true, "private", "ACL", false, 8},
        RegistryCase{"NoPrivate", false, "public", "ACL", false, 8},
        RegistryCase{"ModuleLowerCase", false, "private", "acl", false, 8},
        RegistryCase{"TableOtherCase", false, "private", "ACL", true, 8}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, EmptyBaseAsksForTheWholeTableWithoutChecks) {
  Answer a = Call("GetJsonACLBase", acl::ACLBase());
  EXPECT_EQ(a.code, 0);
  EXPECT_EQ(a.results[0], R"({"answer":1})");
  EXPECT_TRUE(testhost::Snapshot().checks.empty());
  EXPECT_EQ(OnlyTree(), kEmptyBase);
}

TEST_F(ServiceTest, PresentZeroIsCheckedAndCarried) {
  ASSERT_EQ(Call("GetJsonACLBase", BaseWith(0)).code, 0);
  EXPECT_EQ(testhost::Snapshot().checks,
            (std::vector<testhost::Check>{
                {kToken, "ACL/Base/ProcessingStatus", "0"}}));
  EXPECT_EQ(OnlyTree(),
            R"({"kind":"table","columns":[{"morId":"0x02010101","type":1,)"
            R"("noValue":false,"value":0}],"subEntries":[],"rows":[]})");
}

struct ReasonCase {
  const char* name;
  std::string reason;
  uint16_t result;
  std::string reply;
};

class ReasonTest : public ServiceTest,
                   public ::testing::WithParamInterface<ReasonCase> {};

TEST_P(ReasonTest, RepliesErrTextAndNeverAsksTheAdapter) {
  const ReasonCase& c = GetParam();
  TheHost().config.rejects = {
      {"ACL/Base/ProcessingStatus", std::nullopt, c.reason, c.result}};
  Answer a = Direct(BaseWith(99));
  EXPECT_EQ(a.code, 3);
  EXPECT_EQ(a.message, "the value of ProcessingStatus is invalid");
  EXPECT_EQ(a.results[0], c.reply);
  Answer wire = Call("GetJsonACLBase", BaseWith(99));
  EXPECT_EQ(wire.code, 3);
  EXPECT_EQ(wire.message, a.message);
  EXPECT_TRUE(testhost::Snapshot().trees.empty());
  EXPECT_EQ(faultalloc::Live(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Pipeline, ReasonTest,
    ::testing::Values(
        ReasonCase{"Reason", "out of range", 0, "{Err:out of range}"},
        ReasonCase{"EmptyReason", "", 0, "{Err:}"},
        ReasonCase{"ResultTwo", "no", 2, "{Err:no}"},
        ReasonCase{"ResultMax", "no", 0xFFFF, "{Err:no}"},
        // A reason that fills all 64 bytes, with no NUL, is not over-read.
        ReasonCase{"FullBuffer", std::string(64, 'r'), 0,
                   "{Err:" + std::string(64, 'r') + "}"},
        ReasonCase{"LongerThanBuffer", std::string(80, 'x'), 0,
                   "{Err:" + std::string(64, 'x') + "}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, AdapterWithoutAnswerGivesEmptyResult) {
  TheHost().config.answer = std::nullopt;
  Answer a = Call("GetJsonACLBase", acl::ACLBase());
  EXPECT_EQ(a.code, 0);
  EXPECT_EQ(a.message, "");
  EXPECT_EQ(a.results[0], "");
  EXPECT_EQ(testhost::Snapshot().trees.size(), 1u);
}

TEST_F(ServiceTest, ManyCallsAtOnceShareNothing) {
  TheHost().config.rejects = {
      {"ACL/Base/ProcessingStatus", std::string("13"), "unlucky", 0}};
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        const uint32_t value = static_cast<uint32_t>(t * 100 + i % 20);
        Answer a = Call("GetJsonACLBase", BaseWith(value));
        const bool rejected = value == 13;
        // Over the wire a rejection carries its status only.
        if (a.code != (rejected ? 3 : 0) ||
            a.results[0] != (rejected ? "" : R"({"answer":1})")) {
          ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(faultalloc::Live(), 0);
}

// ServiceCreate and ServiceDestroy in every state, without a running server.
TEST(EntryPoints, CreateAndDestroyInEveryState) {
  testhost::Reset();
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
  EXPECT_EQ(testhost::Snapshot().builderCalls, 2);

  ServiceDestroy();
  EXPECT_EQ(ACLServiceImpl::server, nullptr);
  ServiceDestroy();
  EXPECT_EQ(ACLServiceImpl::server, nullptr);

  EXPECT_EQ(ServiceCreate(), 0);  // a new object after destruction
  EXPECT_NE(ACLServiceImpl::server, nullptr);
  ServiceDestroy();
}

}  // namespace
