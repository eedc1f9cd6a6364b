// The development host's registry (lookups, data file errors) and value
// checks.

#include <sstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "devhost/checks.h"
#include "devhost/registry.h"

namespace devhost {
namespace {

using nlohmann::json;

const Registry& BuiltIn() {
  static const Registry* registry = Registry::BuiltIn().release();
  return *registry;
}

// ---- Registry ----------------------------------------------------------

// Node lookups, each step from the root with the case rule of the case.
// (The case rules of the module's own walk are the contract checker's,
// which the development host passes: hostcheck_devhost.)
TEST(RegistryTest, Lookups) {
  struct Case {
    const char* steps;  // '/'-separated names
    bool ignoreCase;
    const char* found;  // "-": no node; "": a node of no table; else table
  } cases[] = {
      {"private/ACL/IPv4BasicRules", false, "IPv4BasicRules"},
      {"privat", true, "-"},
      {"ACL", true, "-"},
      {"private/ACL/base", false, "-"},
      {"private/acl/base", true, "Base"},
      {"private/ACL/IPv4AdvanceRules/Rule", false, ""},
      {"private/ACL/IPv4AdvanceRules/Rule/SrcIPv4/SrcIPv4Wildcard", false, ""},
  };
  const Registry& r = BuiltIn();
  for (const Case& c : cases) {
    tagZormRegNode* node = r.root();
    std::istringstream steps(c.steps);
    for (std::string name; node != nullptr && std::getline(steps, name, '/');) {
      node = Registry::Child(node, name.c_str(), c.ignoreCase);
    }
    const RegTable* table = r.TableOf(node);
    EXPECT_EQ(node == nullptr ? "-" : table != nullptr ? table->name : "",
              c.found)
        << c.steps;
  }

  struct PathCase {
    const char* path;
    const char* found;  // "<column number>t<type>", or "-"
  } paths[] = {
      {"ACL/Base/ProcessingStatus", "1t1"},
      {"ACL/IPv4NamedAdvanceRules/Rule/SrcIPv4/SrcIPv4Addr", "6t5"},
      {"ACL/IPv4AdvanceRules/Rule/ECN", "64t1"},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "4t14"},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4Addr", "-"},  // lacks its sub
      {"ACL/Base/processingstatus", "-"},
      {"ACL/Base", "-"},
  };
  for (const PathCase& c : paths) {
    const RegColumn* col = r.ColumnAt(c.path);
    EXPECT_EQ(col == nullptr ? "-"
                             : std::to_string(col->number) + "t" +
                                   std::to_string(col->type),
              c.found)
        << c.path;
    if (col != nullptr) {
      EXPECT_EQ(col->path, c.path);
    }
  }
}

TEST(RegistryTest, BadFilesAreRefusedWithTheirPlace) {
  struct Case {
    const char* data;
    const char* error;
  } cases[] = {
      {R"([])", "registry: the registry: must be an object"},
      {R"({"tables": [{"name": "A B", "number": 1, "columns": []}]})",
       "registry: a table: \"name\" must hold letters, digits and '_' only, "
       "not \"A B\""},
      {R"({"tables": [{"name": "T", "number": 0, "columns": []}]})",
       "registry: table \"T\": \"number\" must be a number from 1 to 255"},
      {R"({"tables": [{"name": "T", "number": 1,
                       "columns": [{"name": "C", "column": 1, "type": 7}]}]})",
       "registry: table \"T\": column \"C\": \"type\" 7 is not one of 1, 5, 6, "
       "8, 14, 15, 22"},
      {R"({"tables": [{"name": "T", "number": 1, "columns": [
             {"name": "C", "column": 1, "type": 1, "min": 5, "max": 4}]}]})",
       "registry: table \"T\": column \"C\": \"min\" exceeds \"max\""},
      {R"({"tables": [{"name": "T", "number": 1,
                       "columns": [{"name": "C", "column": 1, "type": 1},
                                   {"name": "D", "column": 1, "type": 1}]}]})",
       "registry: table \"T\": column number 1 is used twice"},
      {R"({"tables": [
             {"name": "T", "number": 1,
              "columns": [{"name": "C", "column": 1, "type": 1}]},
             {"name": "U", "number": 1,
              "columns": [{"name": "C", "column": 1, "type": 1}]}]})",
       "registry: table \"U\": table number 1 is used twice"},
  };
  for (const Case& c : cases) {
    std::string error = "(loaded)";
    try {
      Registry::Load(json::parse(c.data));
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error) << c.data;
  }
}

// ---- Value checks ------------------------------------------------------

TEST(CheckerTest, AcceptsAndRejectsByColumn) {
  const Checker checker(
      BuiltIn(), {ParseRejectRule("ACL/IPv4BasicRules/Rule/Comment"),
                  ParseRejectRule("ACL/IPv4BasicRules/Rule/GroupID=2001")});
  const std::string name63(63, 'n'), name64(64, 'n');
  struct Case {
    const char* path;
    std::string text;
    const char* reason;  // "" to accept
  } cases[] = {
      {"ACL/Base/ProcessingStatus", "4294967295", ""},
      {"ACL/Base/ProcessingStatus", "4294967296",
       "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", "+1", "a number from 0 to 4294967295"},
      {"ACL/Base/ProcessingStatus", " 1", "a number from 0 to 4294967295"},
      {"ACL/IPv4BasicRules/Rule/GroupID", "2999", ""},
      {"ACL/IPv4BasicRules/Rule/GroupID", "3000", "a number from 2000 to 2999"},
      {"ACL/IPv4BasicRules/Rule/Count", "18446744073709551615", ""},
      {"ACL/IPv4BasicRules/Rule/Count", "18446744073709551616",
       "a number from 0 to 18446744073709551615"},
      {"ACL/PfilterIgnoreAction/IgnoreAction", "1", ""},
      {"ACL/PfilterIgnoreAction/IgnoreAction", "true", "0 or 1"},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr", "10.1.1.0", ""},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4/SrcIPv4Addr", "10.1.1.256",
       "a dotted IPv4 address, such as 10.1.1.0"},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "00-1a-2B-3c-4D-5e", ""},
      {"ACL/MACRules/Rule/SrcMACAddr/SrcMACAddress", "00:1a:2b:3c:4d:5e",
       "a MAC address, such as 00-1a-2b-3c-4d-5e"},
      {"ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Addr", "::ffff:10.1.1.1", ""},
      {"ACL/IPv6BasicRules/Rule/SrcIPv6/SrcIPv6Addr", "2001:db8::g",
       "an IPv6 address"},
      {"ACL/IPv4NamedBasicRules/Rule/GroupIndex", name63, ""},
      {"ACL/IPv4NamedBasicRules/Rule/GroupIndex", name64,
       "63 characters at most"},
      {"ACL/IPv4BasicRules/Rule/SrcIPv4Addr", "10.1.1.1", "unknown column"},
      // --reject: a whole column, and one text of a column.
      {"ACL/IPv4BasicRules/Rule/Comment", "", "rejected by --reject"},
      {"ACL/IPv4BasicRules/Rule/GroupID", "2001", "rejected by --reject"},
      {"ACL/IPv4BasicRules/Rule/GroupID", "2002", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(checker.Judge(c.path, c.text).value_or(""), c.reason)
        << c.path << " \"" << c.text << "\"";
  }
}

// A bad value of every column gets a reason that fits the module's buffer.
TEST(CheckerTest, EveryColumnRejectsWithAShortReason) {
  const Checker checker(BuiltIn(), {});
  const std::string tooLong(5000, 'x');
  for (const RegTable& t : BuiltIn().tables()) {
    for (const RegColumn& c : t.columns) {
      const bool text = c.type == 6 || c.type == 22;
      if (text && !c.maxLength && c.format.empty()) continue;
      std::optional<std::string> reason =
          checker.Judge(c.path, text && c.format.empty() ? tooLong : "x");
      ASSERT_TRUE(reason.has_value()) << c.path;
      EXPECT_LT(reason->size(), 64u) << c.path;
      EXPECT_FALSE(reason->empty()) << c.path;
    }
  }
}

}  // namespace
}  // namespace devhost
