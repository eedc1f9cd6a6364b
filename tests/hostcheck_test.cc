// The contract checker against the toy host: the toy host as it is keeps
// every promise; broken on purpose, each promise is reported by name, with
// what the host was doing; and the checker knows every table the module
// reads.

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "hostcheck/hostcheck.h"
#include "tables/tables.h"
#include "tests/toy_host.h"

namespace {

using hostcheck::Outcome;

// Threads, rounds, cycles, timeout: a smaller run than the default, which
// is enough for the toy host.
const hostcheck::Options kQuick{4, 30, 500, 60, {}};

class HostcheckTest : public ::testing::Test {
 protected:
  void TearDown() override { toyhost::Break(""); }
};

TEST_F(HostcheckTest, ToyHostKeepsEveryPromise) {
  ASSERT_TRUE(toyhost::Break(""));
  const auto results = hostcheck::Run(toyhost::Facts(), kQuick);
  ASSERT_EQ(results.size(), hostcheck::Promises().size());
  for (const hostcheck::Result& r : results) {
    EXPECT_EQ(r.outcome, Outcome::kKept) << r.promise.name << ": " << r.detail;
  }
}

TEST_F(HostcheckTest, EachBrokenPromiseIsReportedByName) {
  // promise broken -> a part of what the report must say about it
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"builder", "returned null"},
      {"session.live", "returned 2, not 1"},
      {"session.dead", "returned 1 for a token that is no session"},
      {"check.accept", "returned 2, not 1"},
      {"check.reject", "returned 1 for a value the host rejects"},
      {"check.reason", "left no NUL"},
      {"check.bounds", "(byte 64 changed)"},
      {"registry.root", "ZORM_GetRegTreeRoot() returned null"},
      {"registry.private", "(root, \"private\") found nothing"},
      {"registry.acl", "(private, \"ACL\") found nothing"},
      {"registry.tables", "found no table MACRules"},
      {"registry.exact", "(private, \"acl\") found a node"},
      {"types.descriptor", "ZORM_GetTypeInfo(22) (name) returned null"},
      {"types.inline", "type 8 (unsigned 64-bit) has a release function"},
      {"types.release", "set-and-release cycles of type 6"},
      {"setter.length", "while calling ZORM_SetMorValue with a 0-byte text"},
      {"adapter.text", "while releasing the adapter's answer with free()"},
      {"adapter.tree", "changed the Base request tree"},
      {"split.count", "span 19000 bytes, not the text's 20000"},
      {"split.pieces", "piece 2 ends before it begins"},
      {"split.free", "splits whose piece lists were freed"},
      {"threads", "answered 0"},
  };
  std::set<std::string> covered;
  for (const auto& [promise, says] : cases) {
    SCOPED_TRACE(promise);
    covered.insert(promise);
    ASSERT_TRUE(toyhost::Break(promise));
    const auto results = hostcheck::Run(toyhost::Facts(), kQuick);
    const auto r = std::find_if(
        results.begin(), results.end(),
        [name = std::string(promise)](const hostcheck::Result& x) {
          return name == x.promise.name;
        });
    ASSERT_NE(r, results.end());
    EXPECT_EQ(r->outcome, Outcome::kBroken) << r->detail;
    EXPECT_NE(r->detail.find(says), std::string::npos) << r->detail;
  }
  for (const hostcheck::Promise& p : hostcheck::Promises()) {
    EXPECT_TRUE(covered.count(p.name)) << "no broken host for " << p.name;
  }
}

TEST_F(HostcheckTest, KnowsEveryTableOfTheModule) {
  std::set<std::string> module;
  for (const acl_tables::Table* table : acl_tables::kAllTables) {
    module.insert(table->name);
  }
  const auto& known = hostcheck::ModuleTables();
  EXPECT_EQ(module, std::set<std::string>(known.begin(), known.end()));
  EXPECT_EQ(known.size(), module.size());
}

}  // namespace
