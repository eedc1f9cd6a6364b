// A hostile or broken host: odd session answers, reasons that fill their
// buffer, a registry missing any branch, adapters answering nothing or a
// huge text, splits answering nothing, zero pieces or one piece per byte.
// Each outcome is checked on the unary basic-rules method (the reply the
// pipeline made) and on its streamed twin (the messages on the wire), which
// must ask the adapter with the same tree; nothing may be left behind.

#include <algorithm>
#include <functional>

#include "tests/scripted_host.h"
#include "tests/service_fixture.h"

namespace {

using scripted::Config;
using scripted::SplitMode;
using scripted::TheHost;
using Texts = std::vector<std::string>;

constexpr char kUnary[] = "GetJsonACLIPv4BasicRules";
constexpr char kRequest[] =
    R"(rule { GroupID: 2000 srcipv4 { SrcIPv4Addr: "10.1.1.0" } } )"
    R"(rule { RuleID: 5 })";
constexpr char kInvalidToken[] = "Request with invalid token ID";
constexpr char kGroupID[] = "ACL/IPv4BasicRules/Rule/GroupID";
constexpr char kGroupIDInvalid[] = "the value of GroupID is invalid";
constexpr char kDefaultAnswer[] = R"({"answer":1})";

const std::string kHuge(8 << 20, 'h');  // 8 MiB

// `text` cut into pieces of `size` bytes.
Texts Pieces(const std::string& text, size_t size) {
  Texts pieces;
  for (size_t at = 0; at < text.size(); at += size) {
    pieces.push_back(text.substr(at, size));
  }
  return pieces;
}

using Setup = std::function<void(Config&)>;

struct OutcomeCase {
  const char* name;
  Setup host;
  int code;
  std::string message;
  std::string reply;  // the unary reply's result
  Texts stream;       // the streamed messages
};

class OutcomeTest : public ServiceTest,
                    public ::testing::WithParamInterface<OutcomeCase> {};

TEST_P(OutcomeTest, UnaryAndStreamEndAsTheHostDecides) {
  const OutcomeCase& c = GetParam();
  c.host(TheHost().config);
  auto request = ParseRequest(kUnary, kRequest);
  Outcome unary = Direct(*request);
  Outcome stream = Call(kStreamMethod, *request);
  for (const Outcome* a : {&unary, &stream}) {
    EXPECT_EQ(a->code, c.code);
    EXPECT_EQ(a->message, c.message);
  }
  EXPECT_EQ(unary.results, Texts{c.reply});
  EXPECT_TRUE(stream.results == c.stream)
      << stream.results.size() << " messages, not " << c.stream.size();
  scripted::Record r = scripted::Snapshot();
  EXPECT_EQ(r.trees.size(), c.code == 0 ? 2u : 0u);
  if (r.trees.size() == 2) {  // the stream asks with the unary tree
    EXPECT_EQ(r.trees[0], r.trees[1]);
    ASSERT_EQ(r.checks.size(), 6u);
    EXPECT_TRUE(std::equal(r.checks.begin(), r.checks.begin() + 3,
                           r.checks.begin() + 3));
  }
  if (c.code == 7) {
    EXPECT_TRUE(r.lookups.empty()) << "registry asked";
  }
  ExpectNothingLive(r);
}

Setup Session(uint16_t result) {
  return [=](Config& c) { c.sessionResult = result; };
}
Setup Refusing(std::string reason, uint16_t result) {
  return [=](Config& c) { c.reject = {kGroupID, reason, result}; };
}
Setup Answering(std::optional<std::string> text, size_t splitBytes) {
  return [=](Config& c) {
    c.answer = text;
    c.splitBytes = splitBytes;
  };
}
Setup Splitting(SplitMode mode) {
  return [=](Config& c) { c.split = mode; };
}

std::string Err(const std::string& reason) { return "{Err:" + reason + "}"; }

const std::string k64(64, 'r');

INSTANTIATE_TEST_SUITE_P(
    Host, OutcomeTest,
    ::testing::Values(
        OutcomeCase{"SessionZero", Session(0), 7, kInvalidToken, "", {}},
        OutcomeCase{"SessionAllOnes", Session(0xFFFF), 7, kInvalidToken, "",
                    {}},
        // A reason filling all 64 bytes without a NUL is not over-read.
        OutcomeCase{"ReasonFillsBuffer", Refusing(k64, 0xFFFF), 3,
                    kGroupIDInvalid, Err(k64), {Err(k64)}},
        OutcomeCase{"AdapterNull", Answering(std::nullopt, 4), 0, "", "", {""}},
        OutcomeCase{"AdapterHuge", Answering(kHuge, 1 << 16), 0, "", kHuge,
                    Pieces(kHuge, 1 << 16)},
        OutcomeCase{"SplitNull", Splitting(SplitMode::kNull), 0, "",
                    kDefaultAnswer, {}},
        OutcomeCase{"SplitZeroPieces", Splitting(SplitMode::kZeroPieces), 0,
                    "", kDefaultAnswer, {}},
        OutcomeCase{"SplitPerByte", Answering(kHuge.substr(0, 3000), 1), 0, "",
                    kHuge.substr(0, 3000), Pieces(kHuge.substr(0, 3000), 1)}),
    CaseName());

// A registry laid out differently, asked through every method.
struct RegistryCase {
  const char* name;
  std::function<void(Config&, const std::string& table)> registry;
  bool found;
};

class RegistryTest : public ServiceTest,
                     public ::testing::WithParamInterface<RegistryCase> {};

TEST_P(RegistryTest, PrivateInAnyCaseThenExactNamesForEveryMethod) {
  const RegistryCase& c = GetParam();
  for (const auto* method : acl_client::Methods()) {
    SCOPED_TRACE(method->name());
    ResetHost();
    const std::string table = method->input_type()->name().substr(3);
    c.registry(TheHost().config, table);
    Outcome a = Written(method->name(), *NewRequest(*method, 1));
    scripted::Record r = scripted::Snapshot();
    ExpectNothingLive(r);
    if (c.found) {
      EXPECT_EQ(a.code, 0) << a.message;
      EXPECT_EQ(r.lookups, (Texts{"<root>", "private", "ACL", table}));
      continue;
    }
    EXPECT_EQ(a.code, 8);
    EXPECT_EQ(a.message, "Service is unimplemented");
    EXPECT_EQ(a.results, method->name() == kStreamMethod ? Texts{} : Texts{""});
    EXPECT_TRUE(r.checks.empty());
    EXPECT_TRUE(r.trees.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Host, RegistryTest,
    ::testing::Values(
        RegistryCase{"AsUsual", [](auto&, auto&) {}, true},
        RegistryCase{"PrivateMixedCase",
                     [](auto& c, auto&) { c.privateName = "PrIvAtE"; }, true},
        RegistryCase{"NoRoot", [](auto& c, auto&) { c.noRoot = true; }, false},
        RegistryCase{"NoPrivate",
                     [](auto& c, auto&) { c.privateName = "public"; }, false},
        RegistryCase{"ModuleLowerCase",
                     [](auto& c, auto&) { c.moduleName = "acl"; }, false},
        // Found case-blind it would be, but that lookup breaks a rule.
        RegistryCase{"NoTable",
                     [](auto& c, const std::string& table) {
                       c.missingTables = {table};
                     },
                     false}),
    CaseName());

}  // namespace
