// Fuzzes the request pipeline. Any input becomes one call: a method of
// acl.ACLService chosen from the service's descriptor, its request parsed
// from the input, "token_id" metadata made from it, and the scripted host
// (testsupport/scripted_host.h) configured by it, which aborts on any rule the
// module breaks inside a host call. After the call, the status, the reply
// and the stream must be exactly what the host's record implies, and
// nothing the call made may be left live. AddressSanitizer and UBSan watch
// the rest.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/test/server_context_test_spouse.h>

#include "fuzz/script.h"
#include "service/pipeline.h"
#include "tables/tables.h"
#include "testsupport/scripted_host.h"

namespace {

using fuzzscript::Script;
using google::protobuf::MethodDescriptor;
using Reply = grpc_service::GetJsonReply;
using scripted::Record;
using scripted::Stop;

constexpr char kTokenKey[] = "token_id";
constexpr char kSecondToken[] = "second-token";
// Keys a careless lookup of "token_id" might take for it.
constexpr const char* kDecoyKeys[] = {"token_i", "token_id ", "Token_id",
                                      "token_idx", "token-id"};

constexpr char kNoToken[] = "Request with no token ID";
constexpr char kInvalidToken[] = "Request with invalid token ID";
constexpr char kUnimplemented[] = "Service is unimplemented";
constexpr char kOutOfMemory[] = "Out of Memory";

// Session answers: mostly "exists"; else values that are not exactly 1.
constexpr uint16_t kSessionAnswers[] = {1, 1, 1, 1, 0, 2, 0x101, 0xFFFF};
constexpr const char* kPrivateSpellings[] = {"private", "PRIVATE", "Private",
                                             "pRIVATE"};
constexpr scripted::SplitMode kSplitModes[] = {
    scripted::SplitMode::kPieces, scripted::SplitMode::kNull,
    scripted::SplitMode::kZeroPieces, scripted::SplitMode::kPieces};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "\n*** broken rule: %s\n", what.c_str());
  std::abort();
}

// Configures the host as `script` says, for a call of the method reading
// the registry table `table`.
void Configure(const Script& script, const std::string& table) {
  scripted::Reset();
  scripted::Config& c = scripted::TheHost().config;
  c.sessionResult =
      kSessionAnswers[script.session % std::size(kSessionAnswers)];
  c.privateName = kPrivateSpellings[(script.registry >> 3) & 0x3];
  switch (script.registry & 0x7) {  // which lookup finds nothing
    case 0: c.noRoot = true; break;
    case 1: c.privateName = "public"; break;
    case 2: c.moduleName = "acl"; break;
    case 3: c.missingTables = {table}; break;
  }
  c.table = table;
  c.rejectBelow = script.rejectBelow;
  c.setterFails = script.setterFails;
  c.seed = script.seed;
  c.ipv4InSlot = false;  // addresses kept as registry storage
  c.answer.reset();      // adapter 0: null; 1: empty; n: n - 2 bytes
  if (script.adapter > 0) {
    c.answer = scripted::Noise(c.seed, std::max<size_t>(script.adapter, 2) - 2);
  }
  c.split = kSplitModes[script.split & 0x3];
  c.splitBytes = (script.split >> 2) + 1u;
  c.failAt = script.failAt;
  c.abortOnBreach = true;
}

// The Table of `method`: the one named as its request message without the
// leading "ACL".
const acl_tables::Table& TableOf(const MethodDescriptor& method) {
  for (const acl_tables::Table* table : acl_tables::kAllTables) {
    if (method.input_type()->name() == std::string("ACL") + table->name) {
      return *table;
    }
  }
  Fail("no table for " + method.full_name());
}

// A stream that records what is written; the i-th write (i < 8) fails when
// bit i of `failures` is set.
class RecordingWriter final : public grpc::ServerWriterInterface<Reply> {
 public:
  explicit RecordingWriter(uint8_t failures) : failures_(failures) {}

  void SendInitialMetadata() override {}

  bool Write(const Reply& reply, grpc::WriteOptions options) override {
    if (options.flags() != 0 || options.is_last_message()) {
      Fail("stream write with options");
    }
    const size_t i = results.size();
    results.push_back(reply.result());
    return !(i < 8 && (failures_ >> i & 1));
  }

  std::vector<std::string> results;

 private:
  const uint8_t failures_;
};

// Adds the script's metadata; returns the token as the host must see it
// (up to its first NUL), or nothing when no "token_id" is sent.
std::optional<std::string> AddMetadata(
    const Script& script, const std::string& token,
    grpc::testing::ServerContextTestSpouse* spouse) {
  const int mode = script.metadata & 0x3;  // absent, once, twice, decoys
  if (mode == 3) {
    for (const char* key : kDecoyKeys) {
      spouse->AddClientMetadata(key, kSecondToken);
    }
  }
  if (mode == 0 || (mode == 3 && (script.metadata & 0x4) == 0)) {
    return std::nullopt;
  }
  spouse->AddClientMetadata(kTokenKey, token);
  if (mode == 2) {
    spouse->AddClientMetadata(kTokenKey, kSecondToken);
  }
  return std::string(token.c_str());
}

// What one call must give.
struct Outcome {
  int code = 0;
  std::string message;
  std::string reply;                 // unary
  std::vector<std::string> writes;   // stream
};

// The outcome the host's record implies.
Outcome Expect(const Record& seen, const std::optional<std::string>& token) {
  const scripted::Config& config = scripted::TheHost().config;
  if (!token) return {grpc::PERMISSION_DENIED, kNoToken, "", {}};
  if (seen.sessions.empty()) Fail("session not checked");
  if (config.sessionResult != 1) {
    return {grpc::PERMISSION_DENIED, kInvalidToken, "", {}};
  }
  if (!seen.tableFound) {
    return {grpc::RESOURCE_EXHAUSTED, kUnimplemented, "", {}};
  }
  if (seen.stop == Stop::kOutOfMemory) {
    return {grpc::RESOURCE_EXHAUSTED, kOutOfMemory, "", {}};
  }
  if (seen.stop == Stop::kRejected) {
    const std::string& path = seen.rejectedPath;
    const std::string reply = "{Err:" + seen.reason + "}";
    return {grpc::INVALID_ARGUMENT,
            "the value of " + path.substr(path.rfind('/') + 1) + " is invalid",
            reply,
            {reply}};
  }
  return {grpc::OK, "", config.answer.value_or(""),
          seen.adapterNull ? std::vector<std::string>{""} : seen.pieces};
}

std::string Show(const std::vector<std::string>& texts) {
  std::string out = std::to_string(texts.size()) + " [";
  for (const std::string& t : texts) out += "\"" + t + "\" ";
  return out + "]";
}

// The rules every call keeps, whatever its outcome.
void CheckCall(const Record& seen, const std::optional<std::string>& token,
               const grpc::Status& status, const Outcome& want) {
  if (seen.sessions != (token ? std::vector<std::string>{*token}
                              : std::vector<std::string>{})) {
    Fail("session checked " + Show(seen.sessions));
  }
  if (seen.builderCalls != 0) Fail("server builder asked for during a call");
  if (want.code == grpc::PERMISSION_DENIED && !seen.lookups.empty()) {
    Fail("registry walked without a session");
  }
  if (status.error_code() != want.code ||
      status.error_message() != want.message) {
    Fail("status " + std::to_string(status.error_code()) + " \"" +
         status.error_message() + "\", want " + std::to_string(want.code) +
         " \"" + want.message + "\"");
  }
  if (seen.adapterCalls != (want.code == grpc::OK ? 1 : 0)) {
    Fail("adapter called " + std::to_string(seen.adapterCalls) + " times");
  }
  if (!seen.tableFound && seen.allocations != 0) {
    Fail("tree records made before the table was found");
  }
  if (seen.liveRecords != 0) Fail("tree records left live");
  if (seen.liveValues != 0) Fail("registry storage left live");
  if (seen.textLive) Fail("adapter's text neither freed nor split");
  if (seen.listLive) Fail("piece list not freed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Script script;
  std::string_view tokenBytes, bytes;
  if (!fuzzscript::Decode({reinterpret_cast<const char*>(data), size},
                          &script, &tokenBytes, &bytes)) {
    return -1;
  }
  static const auto* service =
      google::protobuf::DescriptorPool::generated_pool()->FindServiceByName(
          "acl.ACLService");
  const MethodDescriptor& method =
      *service->method(script.method % service->method_count());
  const acl_tables::Table& table = TableOf(method);
  std::unique_ptr<google::protobuf::Message> request(
      google::protobuf::MessageFactory::generated_factory()
          ->GetPrototype(method.input_type())
          ->New());
  if (!request->ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) {
    return -1;
  }
  grpc::ServerContext context;
  grpc::testing::ServerContextTestSpouse spouse(&context);
  const std::optional<std::string> token =
      AddMetadata(script, std::string(tokenBytes), &spouse);
  Configure(script, table.name);

  RecordingWriter writer(script.writes);
  Reply reply;
  const grpc::Status status =
      method.server_streaming()
          ? acl_service::RunStream(&context, *request, table, &writer)
          : acl_service::RunUnary(&context, *request, table, &reply);
  const Record seen = scripted::Snapshot();
  const Outcome want = Expect(seen, token);
  CheckCall(seen, token, status, want);
  if (method.server_streaming() ? writer.results != want.writes
                                : reply.result() != want.reply) {
    Fail((method.server_streaming() ? "stream " + Show(writer.results)
                                    : "reply \"" + reply.result() + "\"") +
         ", want " + Show(want.writes) + " / \"" + want.reply + "\"");
  }
  return 0;
}
