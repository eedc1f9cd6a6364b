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
    ACL_COLUMN(ACLBase, "ACL/Base/", ProcessingStatus, processingstatus, 0x01,
               kU32),
};

constexpr Column kDefActionColumns[] = {
    ACL_COLUMN(ACLPfilterDefAction, "ACL/PfilterDefAction/", DefaultAction,
               defaultaction, 0x01, kU32),
};

constexpr Column kIgnoreActionColumns[] = {
    ACL_COLUMN(ACLPfilterIgnoreAction, "ACL/PfilterIgnoreAction/",
               IgnoreAction, ignoreaction, 0x01, kBool),
};

#define INTERVAL_COLUMNS(M, P)                                \
  ACL_COLUMN(M, P, IntervalType,  intervaltype,  0x01, kU32), \
  ACL_COLUMN(M, P, IntervalValue, intervalvalue, 0x02, kU32)

constexpr Column kIntervalColumns[] = {
    INTERVAL_COLUMNS(Interval, "ACL/Intervals/Interval/"),
};

#undef INTERVAL_COLUMNS

}  // namespace

constexpr Table kBase{"Base", 1, kNoRows, kBaseColumns, {}};
constexpr Table kPfilterDefAction{"PfilterDefAction", 18, kNoRows,
                                  kDefActionColumns, {}};
constexpr Table kPfilterIgnoreAction{"PfilterIgnoreAction", 26, kNoRows,
                                     kIgnoreActionColumns, {}};
constexpr Table kIntervals{"Intervals", 17,
                           ACL_LIST(ACLIntervals, Interval, interval),
                           kIntervalColumns, {}};

}  // namespace acl_tables
