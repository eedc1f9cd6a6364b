// Base, the packet filter's actions and intervals, end to end: the tree the
// adapter is given, rendered canonically, against golden text.

#include <string>

#include "tests/fault_alloc.h"
#include "tests/service_fixture.h"

namespace {

using testhost::TheHost;

// Canonical-JSON pieces, to keep the golden texts readable.
std::string NoValue(const char* id) {
  return std::string(R"({"morId":")") + id + R"(","type":0,"noValue":true})";
}
std::string Valued(const char* id, int type, const std::string& value) {
  return std::string(R"({"morId":")") + id + R"(","type":)" +
         std::to_string(type) + R"(,"noValue":false,"value":)" + value + "}";
}
std::string Table(const std::string& columns, const std::string& rows) {
  return R"({"kind":"table","columns":[)" + columns +
         R"(],"subEntries":[],"rows":[)" + rows + "]}";
}
std::string Row(const std::string& columns) {
  return R"({"kind":"row","columns":[)" + columns + R"(],"subEntries":[]})";
}

struct TreeCase {
  const char* name;
  const char* method;
  std::string request;  // text format of the method's request
  std::string tree;     // canonical JSON the adapter must see
  std::vector<testhost::Check> checks;
};

class SmallTableTest : public ServiceTest,
                       public ::testing::WithParamInterface<TreeCase> {};

const google::protobuf::Message& Prototype(const char* method) {
  const auto* service = google::protobuf::DescriptorPool::generated_pool()
                            ->FindServiceByName("acl.ACLService");
  return *google::protobuf::MessageFactory::generated_factory()->GetPrototype(
      service->FindMethodByName(method)->input_type());
}

TEST_P(SmallTableTest, BuildsTheTree) {
  const TreeCase& c = GetParam();
  std::unique_ptr<google::protobuf::Message> request(
      Prototype(c.method).New());
  ASSERT_TRUE(
      google::protobuf::TextFormat::ParseFromString(c.request, request.get()));
  Answer a = Call(c.method, *request);
  ASSERT_EQ(a.code, 0) << a.message;
  EXPECT_EQ(OnlyTree(), c.tree);
  EXPECT_EQ(testhost::Snapshot().checks, c.checks);
  EXPECT_EQ(faultalloc::Live(), 0);
}

const std::string kTypeEmpty = NoValue("0x02011101");
const std::string kValueEmpty = NoValue("0x02011102");

INSTANTIATE_TEST_SUITE_P(
    Tables, SmallTableTest,
    ::testing::Values(
        TreeCase{"DefActionEmpty", "GetJsonACLPfilterDefAction", "",
                 Table(NoValue("0x02011201"), ""), {}},
        TreeCase{"DefActionSet", "GetJsonACLPfilterDefAction",
                 "DefaultAction: 4294967295",
                 Table(Valued("0x02011201", 1, "4294967295"), ""),
                 {{kToken, "ACL/PfilterDefAction/DefaultAction",
                   "4294967295"}}},
        TreeCase{"IgnoreActionFalse", "GetJsonACLPfilterIgnoreAction",
                 "IgnoreAction: false",
                 Table(Valued("0x02011A01", 15, "0"), ""),
                 {{kToken, "ACL/PfilterIgnoreAction/IgnoreAction", "0"}}},
        TreeCase{"IgnoreActionTrue", "GetJsonACLPfilterIgnoreAction",
                 "IgnoreAction: true",
                 Table(Valued("0x02011A01", 15, "1"), ""),
                 {{kToken, "ACL/PfilterIgnoreAction/IgnoreAction", "1"}}},
        TreeCase{"IntervalsDefaultRow", "GetJsonACLIntervals", "",
                 Table("", Row(kTypeEmpty + "," + kValueEmpty)), {}},
        TreeCase{"IntervalOnlyValue", "GetJsonACLIntervals",
                 "interval { IntervalValue: 30 }",
                 Table("", Row(kTypeEmpty + "," +
                               Valued("0x02011102", 1, "30"))),
                 {{kToken, "ACL/Intervals/Interval/IntervalValue", "30"}}},
        TreeCase{"IntervalEmptyElement", "GetJsonACLIntervals",
                 "interval {}",
                 Table("", Row(kTypeEmpty + "," + kValueEmpty)), {}},
        TreeCase{"IntervalsReversed", "GetJsonACLIntervals",
                 "interval { IntervalType: 1 } interval { IntervalType: 2 } "
                 "interval { IntervalType: 3 }",
                 Table("", Row(Valued("0x02011101", 1, "3") + "," +
                               kValueEmpty) +
                               "," +
                               Row(Valued("0x02011101", 1, "2") + "," +
                                   kValueEmpty) +
                               "," +
                               Row(Valued("0x02011101", 1, "1") + "," +
                                   kValueEmpty)),
                 {{kToken, "ACL/Intervals/Interval/IntervalType", "1"},
                  {kToken, "ACL/Intervals/Interval/IntervalType", "2"},
                  {kToken, "ACL/Intervals/Interval/IntervalType", "3"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, RejectedSecondIntervalReleasesBothRows) {
  TheHost().config.rejects = {
      {"ACL/Intervals/Interval/IntervalType", std::string("9"), "no", 0}};
  auto request = Parse<acl::ACLIntervals>(
      "interval { IntervalType: 1 IntervalValue: 2 } "
      "interval { IntervalType: 9 IntervalValue: 3 }");
  Answer a = Direct(request);
  EXPECT_EQ(a.code, 3);
  EXPECT_EQ(a.message, "the value of IntervalType is invalid");
  EXPECT_EQ(a.results[0], "{Err:no}");
  testhost::Record r = testhost::Snapshot();
  EXPECT_TRUE(r.trees.empty());
  EXPECT_EQ(r.checks.size(), 3u);  // the second IntervalValue is never seen
  EXPECT_EQ(faultalloc::Live(), 0);
}

}  // namespace
