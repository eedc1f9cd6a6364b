// Faults swept over every method of the service.
//
// Allocation failures: for an empty request and for one with every field
// set and three elements of every nested list, each allocation of the
// request tree is failed in turn (k = 1, 2, ... until the call succeeds).
// Every failure ends in exactly "Out of Memory" with nothing written, no
// adapter call, and nothing left live: no tree record and no registry
// storage of a string setter, a half-filled row or sub-entry included.
//
// Refused values: with every field set, each value check is refused in
// turn. The refused column's own message and the "{Err:" reply end the
// call; no later value is checked, the adapter is not asked, nothing is
// left live.

#include <cstdio>
#include <map>
#include <string>
#include <utility>

#include "testsupport/scripted_host.h"
#include "tests/service_fixture.h"

namespace {

constexpr long kMostPoints = 100000;  // a sweep that never ends is a fault

class FaultSweep : public ServiceTest,
                   public ::testing::WithParamInterface<
                       const google::protobuf::MethodDescriptor*> {
 protected:
  // Per method: allocation failure points exercised, values refused.
  static std::map<std::string, std::pair<long, long>>& Counts() {
    static auto* counts = new std::map<std::string, std::pair<long, long>>();
    return *counts;
  }

  static void TearDownTestSuite() {
    long points = 0, refusals = 0;
    std::string each;
    for (const auto& [method, count] : Counts()) {
      points += count.first;
      refusals += count.second;
      each += " " + method.substr(7) + "=" + std::to_string(count.first);
    }
    std::printf("allocation failure points: %ld over %zu methods:%s\n", points,
                Counts().size(), each.c_str());
    std::printf("refused values: %ld over %zu methods\n", refusals,
                Counts().size());
  }

  void ResetHost() {
    ServiceTest::ResetHost();
    scripted::TheHost().config.splitBytes = 1 << 20;
  }

  // Fails each allocation of one call in turn; returns the number of
  // failure points.
  long Sweep(const std::string& method,
             const google::protobuf::Message& request) {
    long k = 1;
    for (; k < kMostPoints; ++k) {
      ResetHost();
      scripted::TheHost().config.failAt = k;
      Outcome a = Written(method, request);
      scripted::Record r = scripted::Snapshot();
      const bool fired = r.stop == scripted::Stop::kOutOfMemory;
      SCOPED_TRACE(method + " k=" + std::to_string(k));
      ExpectNothingLive(r);
      if (!fired) {
        EXPECT_EQ(a.code, 0) << a.message;
        EXPECT_EQ(a.results, std::vector<std::string>{R"({"answer":1})"});
        EXPECT_EQ(r.trees.size(), 1u);
        EXPECT_EQ(r.checks.empty(), request.ByteSizeLong() == 0);
        break;
      }
      EXPECT_EQ(a.code, 8);
      EXPECT_EQ(a.message, "Out of Memory");
      EXPECT_TRUE(r.trees.empty()) << "adapter called";
      EXPECT_EQ(a.results, method == kStreamMethod
                               ? std::vector<std::string>{}
                               : std::vector<std::string>{""});
    }
    EXPECT_GT(k, 1);
    return k - 1;
  }
};

TEST_P(FaultSweep, EveryAllocationFailureIsOutOfMemory) {
  const std::string& method = GetParam()->name();
  const long points = Sweep(method, *NewRequest(*GetParam())) +
                      Sweep(method, *NewRequest(*GetParam(), 3));
  Counts()[method].first = points;
  RecordProperty("failure_points", static_cast<int>(points));
}

// The message a refusal of the column at `path` ends the call with.
std::string InvalidMessage(const std::string& path) {
  return "the value of " + path.substr(path.rfind('/') + 1) + " is invalid";
}

TEST_P(FaultSweep, EveryRefusedValueEndsTheCall) {
  const std::string& method = GetParam()->name();
  const auto request = NewRequest(*GetParam(), 3);
  ResetHost();
  ASSERT_EQ(Written(method, *request).code, 0);
  const std::vector<scripted::Check> all = scripted::Snapshot().checks;
  ASSERT_FALSE(all.empty());
  const std::string reply = std::string("{Err:") + scripted::kNthReason + "}";
  for (size_t n = 1; n <= all.size(); ++n) {
    SCOPED_TRACE(method + " refusing check " + std::to_string(n) + ", " +
                 all[n - 1].path);
    ResetHost();
    scripted::TheHost().config.rejectNth = n;
    Outcome a = Written(method, *request);
    scripted::Record r = scripted::Snapshot();
    EXPECT_EQ(a.code, 3);
    EXPECT_EQ(a.message, InvalidMessage(all[n - 1].path));
    EXPECT_EQ(a.results, std::vector<std::string>{reply});
    // The same checks up to the refused one, none after it.
    EXPECT_TRUE(r.checks == std::vector<scripted::Check>(
                                all.begin(), all.begin() + n));
    EXPECT_TRUE(r.trees.empty()) << "adapter called";
    ExpectNothingLive(r);
  }
  Counts()[method].second = static_cast<long>(all.size());
}

INSTANTIATE_TEST_SUITE_P(EveryMethod, FaultSweep,
                         ::testing::ValuesIn(acl_client::Methods()),
                         [](const auto& info) { return info.param->name(); });

}  // namespace
