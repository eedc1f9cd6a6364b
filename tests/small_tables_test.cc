// Base, the packet filter's actions and intervals.

#include "tests/service_fixture.h"

namespace {

INSTANTIATE_TEST_SUITE_P(
    SmallTables, TreeTest,
    ::testing::Values(
        TreeCase{"BaseEmpty", "GetJsonACLBase", "", "01 T[01]{}", {}},
        TreeCase{"BaseZeroIsGiven", "GetJsonACLBase", "ProcessingStatus: 0",
                 "01 T[01:1=0]{}", {"ACL/Base/ProcessingStatus 0"}},
        TreeCase{"DefActionLargest", "GetJsonACLPfilterDefAction",
                 "DefaultAction: 4294967295", "12 T[01:1=4294967295]{}",
                 {"ACL/PfilterDefAction/DefaultAction 4294967295"}},
        TreeCase{"IgnoreActionFalse", "GetJsonACLPfilterIgnoreAction",
                 "IgnoreAction: false", "1a T[01:15=0]{}",
                 {"ACL/PfilterIgnoreAction/IgnoreAction 0"}},
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

}  // namespace
