// The runner of TreeCase tables: each family's cases (in the files named
// after the families) call a method and compare the adapter's tree and the
// value checks with golden texts.

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
