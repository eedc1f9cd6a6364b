// The streamed method: every outcome's messages and status, pieces bounded
// by the split's pointers, and the same tree as the unary method.

#include "tests/fault_alloc.h"
#include "tests/service_fixture.h"

namespace {

using testhost::SplitMode;
using testhost::TheHost;

constexpr char kRequest[] =
    R"(rule { GroupID: 2000 srcipv4 { SrcIPv4Addr: "10.1.1.0" } } )"
    R"(rule { RuleID: 5 })";

struct StreamCase {
  const char* name;
  const char* token;
  std::function<void(testhost::Config&)> setup;
  int code;
  std::string message;
  std::vector<std::string> results;
};

class StreamTest : public ServiceTest,
                   public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamTest, WritesWhatTheOutcomeCallsFor) {
  const StreamCase& c = GetParam();
  c.setup(TheHost().config);
  Answer a = CallText("GetJsonACLIPv4BasicRulesStream", kRequest, c.token);
  EXPECT_EQ(a.code, c.code);
  EXPECT_EQ(a.message, c.message);
  EXPECT_EQ(a.results, c.results);
  EXPECT_EQ(faultalloc::Live(), 0);
  EXPECT_EQ(testhost::Snapshot().liveTexts, 0);
}

const std::string kAnswer = R"({"IPv4BasicRules":{"Rule":[]}})";

INSTANTIATE_TEST_SUITE_P(
    Stream, StreamTest,
    ::testing::Values(
        StreamCase{"NoToken", nullptr, [](auto&) {}, 7,
                   "Request with no token ID", {}},
        StreamCase{"InvalidToken", "stranger", [](auto&) {}, 7,
                   "Request with invalid token ID", {}},
        StreamCase{"NoTable", kToken,
                   [](auto& c) { c.missingTables = {"IPv4BasicRules"}; }, 8,
                   "Service is unimplemented", {}},
        StreamCase{"Rejected", kToken,
                   [](auto& c) {
                     c.rejects = {{"ACL/IPv4BasicRules/Rule/GroupID",
                                   std::nullopt, "2000 is taken", 0}};
                   },
                   3, "the value of GroupID is invalid",
                   {"{Err:2000 is taken}"}},
        StreamCase{"AdapterNull", kToken,
                   [](auto& c) { c.answer = std::nullopt; }, 0, "", {""}},
        StreamCase{"SplitNull", kToken,
                   [](auto& c) { c.split = SplitMode::kNull; }, 0, "", {}},
        StreamCase{"SplitZeroPieces", kToken,
                   [](auto& c) { c.split = SplitMode::kZeroPieces; }, 0, "",
                   {}},
        StreamCase{"ThreePieces", kToken,
                   [](auto& c) {
                     c.answer = kAnswer;
                     c.splitBytes = 12;
                   },
                   0, "",
                   {R"({"IPv4BasicR)", R"(ules":{"Rule)", R"(":[]}})"}},
        StreamCase{"OnePiece", kToken,
                   [](auto& c) {
                     c.answer = kAnswer;
                     c.splitBytes = 1000;
                   },
                   0, "", {kAnswer}}),
    CaseName());

TEST_F(ServiceTest, StreamPiecesAreTheSplitsBytesInOrder) {
  TheHost().config.answer = std::string(1000, 'a') + std::string(999, 'b');
  TheHost().config.splitBytes = 64;
  Answer a = CallText("GetJsonACLIPv4BasicRulesStream", kRequest);
  ASSERT_EQ(a.code, 0);
  EXPECT_EQ(a.results, testhost::Snapshot().pieces);
  EXPECT_EQ(a.results.size(), 32u);
  std::string joined;
  for (const std::string& piece : a.results) joined += piece;
  EXPECT_EQ(joined, *TheHost().config.answer);
}

TEST_F(ServiceTest, StreamBuildsTheUnaryTree) {
  for (const char* request :
       {"", kRequest, "rule {} rule { srcipv4 {} srcipv4 {} }"}) {
    testhost::Reset();
    TheHost().config.builder = builder_.get();
    ASSERT_EQ(CallText("GetJsonACLIPv4BasicRules", request).code, 0);
    ASSERT_EQ(CallText("GetJsonACLIPv4BasicRulesStream", request).code, 0);
    testhost::Record r = testhost::Snapshot();
    ASSERT_EQ(r.trees.size(), 2u);
    EXPECT_EQ(r.trees[0], r.trees[1]) << request;
    ASSERT_EQ(r.checks.size() % 2, 0u);
    const size_t half = r.checks.size() / 2;
    EXPECT_EQ(std::vector<testhost::Check>(r.checks.begin(),
                                           r.checks.begin() + half),
              std::vector<testhost::Check>(r.checks.begin() + half,
                                           r.checks.end()));
  }
}

}  // namespace
