// Base, the packet filter's default and ignore actions, and intervals.

#include "proto/acl_tree.pb.h"
#include "tables/tables.h"

namespace acl_tables {
namespace {

using acl::ACLBase;
using acl::ACLIntervals;
using acl::ACLPfilterDefAction;
using acl::ACLPfilterIgnoreAction;
using Interval = acl::ACLIntervals::Interval;

constexpr Column kBaseColumns[] = {
    ACL_COLUMN(ACLBase, "ACL/Base/", ProcessingStatus, 0x01, kU32),
};

constexpr Column kDefActionColumns[] = {
    ACL_COLUMN(ACLPfilterDefAction, "ACL/PfilterDefAction/", DefaultAction,
               0x01, kU32),
};

constexpr Column kIgnoreActionColumns[] = {
    ACL_COLUMN(ACLPfilterIgnoreAction, "ACL/PfilterIgnoreAction/",
               IgnoreAction, 0x01, kBool),
};

constexpr Column kIntervalColumns[] = {
    ACL_COLUMN(Interval, "ACL/Intervals/Interval/", IntervalType, 0x01, kU32),
    ACL_COLUMN(Interval, "ACL/Intervals/Interval/", IntervalValue, 0x02, kU32),
};

}  // namespace

constexpr Table kBase{"Base", 1, kNoRows, kBaseColumns, {}};
constexpr Table kPfilterDefAction{"PfilterDefAction", 18, kNoRows,
                                  kDefActionColumns, {}};
constexpr Table kPfilterIgnoreAction{"PfilterIgnoreAction", 26, kNoRows,
                                     kIgnoreActionColumns, {}};
constexpr Table kIntervals{"Intervals", 17,
                           ACLIntervals::kIntervalFieldNumber,
                           kIntervalColumns, {}};

}  // namespace acl_tables
