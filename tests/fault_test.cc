// Allocation failures: every allocation of the tree, failed one at a time
// (k = 1, 2, ... until none fires), ends in the normal answer or exactly
// "Out of Memory", with no adapter call and nothing left live.

#include <memory>
#include <string>

#include <google/protobuf/text_format.h>

#include "tests/fault_alloc.h"
#include "tests/service_fixture.h"

namespace {

constexpr char kStream[] = "GetJsonACLIPv4BasicRulesStream";

// A request with every field set and two elements of every repeated field.
constexpr char kEveryField[] = "<every field>";

struct SweepCase {
  const char* name;
  const char* method;
  const char* request;
};

class FaultTest : public ServiceTest,
                  public ::testing::WithParamInterface<SweepCase> {};

TEST_P(FaultTest, EveryAllocationFailureIsOutOfMemory) {
  const SweepCase& c = GetParam();
  const bool stream = std::string(c.method) == kStream;
  const bool every = std::string(c.request) == kEveryField;
  std::unique_ptr<google::protobuf::Message> request =
      ParseRequest(c.method, every ? "" : c.request);
  if (every) FillEveryField(request.get(), 2);

  long k = 1;
  for (;; ++k) {
    testhost::Reset();
    testhost::TheHost().config.builder = builder_.get();
    faultalloc::FailAt(k);
    Answer a = CallAny(c.method, *request);
    const bool fired = faultalloc::Fired();
    faultalloc::FailAt(0);
    testhost::Record r = testhost::Snapshot();
    EXPECT_EQ(faultalloc::Live(), 0) << "k=" << k;
    EXPECT_EQ(r.liveTexts, 0) << "k=" << k;
    if (!fired) {
      EXPECT_EQ(a.code, 0) << a.message;
      EXPECT_EQ(r.trees.size(), 1u);
      break;
    }
    EXPECT_EQ(a.code, 8) << "k=" << k;
    EXPECT_EQ(a.message, "Out of Memory") << "k=" << k;
    EXPECT_TRUE(r.trees.empty()) << "adapter called after k=" << k;
    if (stream) {
      EXPECT_TRUE(a.results.empty()) << "k=" << k;
    } else {
      EXPECT_EQ(a.results[0], "") << "k=" << k;
    }
  }
  EXPECT_GT(k, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Sweep, FaultTest,
    ::testing::Values(
        SweepCase{"BaseEmpty", "GetJsonACLBase", ""},
        SweepCase{"BaseSet", "GetJsonACLBase", "ProcessingStatus: 3"},
        SweepCase{"IntervalsEmpty", "GetJsonACLIntervals", ""},
        SweepCase{"Intervals", "GetJsonACLIntervals",
                  "interval { IntervalType: 1 IntervalValue: 2 } "
                  "interval { IntervalValue: 5 } interval {}"},
        SweepCase{"BasicRules", "GetJsonACLIPv4BasicRules",
                  R"(rule { GroupID: 2000 Comment: "c" srcipv4 { )"
                  R"(SrcIPv4Addr: "10.0.0.0" SrcIPv4Wildcard: "0.0.0.255" } )"
                  R"(srcipv4 {} } rule { TimeRange: "t" } rule {})"},
        SweepCase{"BasicRulesStream", kStream,
                  R"(rule { GroupID: 2000 VRF: "v" srcipv4 { )"
                  R"(SrcIPv4Addr: "10.0.0.0" } } rule { Comment: "x" })"},
        SweepCase{"Capability", "GetJsonACLCapability",
                  "useracll2 { L2MaxOffset: 1 } useraclipv6 {}"},
        SweepCase{"IPv4AdvanceEveryField", "GetJsonACLIPv4AdvanceRules",
                  kEveryField},
        SweepCase{"IPv6NamedAdvanceEveryField",
                  "GetJsonACLIPv6NamedAdvanceRules", kEveryField},
        SweepCase{"MacEveryField", "GetJsonACLMACRules", kEveryField},
        SweepCase{"UserNamedEveryField", "GetJsonACLUserNamedRules",
                  kEveryField},
        SweepCase{"NamedGroups", "GetJsonACLNamedGroups",
                  R"(group { GroupIndex: "a" Name: "b" Description: "" })"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
