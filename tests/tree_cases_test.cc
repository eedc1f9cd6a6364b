// The runners of TreeCase and RejectCase tables: each family's cases (in
// the files named after the families) call a method and compare the
// adapter's tree, the value checks and the reply with golden texts.

#include "tests/fault_alloc.h"
#include "tests/service_fixture.h"

TEST_P(TreeTest, GivesTheTreeAndChecks) {
  const TreeCase& c = GetParam();
  Answer a = CallText(c.method, c.request);
  ASSERT_EQ(a.code, 0) << a.message;
  EXPECT_EQ(Compact(OnlyTree()), c.tree);
  EXPECT_EQ(CheckLines(), c.checks);
  EXPECT_EQ(faultalloc::Live(), 0);
  EXPECT_EQ(testhost::Snapshot().liveTexts, 0);
}

TEST_P(RejectTest, FirstRefusedValueDecides) {
  const RejectCase& c = GetParam();
  testhost::TheHost().config.rejects = c.rejects;
  Answer a = Direct(*ParseRequest(c.method, c.request));
  EXPECT_EQ(a.code, 3);
  EXPECT_EQ(a.message, c.message);
  EXPECT_EQ(a.results[0], c.reply);
  testhost::Record r = testhost::Snapshot();
  EXPECT_EQ(r.checks.size(), c.checks);
  EXPECT_TRUE(r.trees.empty());
  EXPECT_EQ(r.liveTexts, 0);
  EXPECT_EQ(faultalloc::Live(), 0);
}
