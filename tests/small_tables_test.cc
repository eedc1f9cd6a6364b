// Base, the packet filter's actions and intervals.

#include "tests/fault_alloc.h"
#include "tests/service_fixture.h"

namespace {

INSTANTIATE_TEST_SUITE_P(
    SmallTables, TreeTest,
    ::testing::Values(
        TreeCase{"DefActionEmpty", "GetJsonACLPfilterDefAction", "",
                 "12 T[01]{}", {}},
        TreeCase{"DefActionLargest", "GetJsonACLPfilterDefAction",
                 "DefaultAction: 4294967295", "12 T[01:1=4294967295]{}",
                 {"ACL/PfilterDefAction/DefaultAction 4294967295"}},
        TreeCase{"IgnoreActionFalse", "GetJsonACLPfilterIgnoreAction",
                 "IgnoreAction: false", "1a T[01:15=0]{}",
                 {"ACL/PfilterIgnoreAction/IgnoreAction 0"}},
        TreeCase{"IgnoreActionTrue", "GetJsonACLPfilterIgnoreAction",
                 "IgnoreAction: true", "1a T[01:15=1]{}",
                 {"ACL/PfilterIgnoreAction/IgnoreAction 1"}},
        TreeCase{"IntervalsDefaultRow", "GetJsonACLIntervals", "",
                 "11 T[]{} R[01 02]{}", {}},
        TreeCase{"IntervalOnlyValue", "GetJsonACLIntervals",
                 "interval { IntervalValue: 30 }", "11 T[]{} R[01 02:1=30]{}",
                 {"ACL/Intervals/Interval/IntervalValue 30"}},
        TreeCase{"IntervalsReversed", "GetJsonACLIntervals",
                 "interval { IntervalType: 1 } interval {} "
                 "interval { IntervalType: 3 }",
                 "11 T[]{} R[01:1=3 02]{} R[01 02]{} R[01:1=1 02]{}",
                 {"ACL/Intervals/Interval/IntervalType 1",
                  "ACL/Intervals/Interval/IntervalType 3"}}),
    CaseName());

TEST_F(ServiceTest, RejectedSecondIntervalReleasesBothRows) {
  testhost::TheHost().config.rejects = {
      {"ACL/Intervals/Interval/IntervalType", std::string("9"), "no", 0}};
  Answer a = Direct(Parse<acl::ACLIntervals>(
      "interval { IntervalType: 1 IntervalValue: 2 } "
      "interval { IntervalType: 9 IntervalValue: 3 }"));
  EXPECT_EQ(a.code, 3);
  EXPECT_EQ(a.message, "the value of IntervalType is invalid");
  EXPECT_EQ(a.results[0], "{Err:no}");
  testhost::Record r = testhost::Snapshot();
  EXPECT_TRUE(r.trees.empty());
  EXPECT_EQ(r.checks.size(), 3u);  // the second IntervalValue is never seen
  EXPECT_EQ(faultalloc::Live(), 0);
}

}  // namespace
