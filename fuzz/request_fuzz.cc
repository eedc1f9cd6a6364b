// Fuzzes the request pipeline. Any input becomes one call: a method of
// acl.ACLService chosen from the service's descriptor, its request parsed
// from the input, "token_id" metadata made from it, and the scripted host
// (tests/scripted_host.h) configured by it, which aborts on any rule the
// module breaks inside a host call. After the call, the status, the reply
// and the stream must be exactly what the host's record implies, and
// nothing the call made may be left live. AddressSanitizer and UBSan watch
// the rest.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/test/server_context_test_spouse.h>

#include "fuzz/script.h"
#include "service/pipeline.h"
#include "tables/tables.h"
#include "tests/scripted_host.h"

namespace {

using fuzzscript::Script;
using fuzzscript::TokenMode;
using google::protobuf::MethodDescriptor;
using Reply = grpc_service::GetJsonReply;
using scripted::Record;
using scripted::Stop;

constexpr char kService[] = "acl.ACLService";
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

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "\n*** broken rule: %s\n", what.c_str());
  std::abort();
}

// An answer of `length` bytes, never NUL, varied by `seed`.
std::string AnswerText(uint32_t seed, size_t length) {
  static constexpr char kAlphabet[] =
      "abcXYZ019 -_{}:\"\\/%\x7f\x80\xc3\xa9\xff";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    seed = seed * 1103515245u + 12345u;
    text += kAlphabet[(seed >> 16) % (sizeof(kAlphabet) - 1)];
  }
  return text;
}

// Configures the host as `script` says, for a call of the method reading
// the registry table `table`.
void Configure(const Script& script, const std::string& table) {
  scripted::Reset();
  scripted::Config& c = scripted::TheHost().config;
  c.sessionResult = kSessionAnswers[script.session % std::size(kSessionAnswers)];
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
    c.answer = AnswerText(script.seed, script.adapter - std::min(script.adapter, uint8_t{2}));
  }
  c.split = script.split_mode();
  c.splitBytes = script.piece_size();
  c.failAt = script.failAt;
  c.recordTrees = false;
  c.abortOnBreach = true;
}

const google::protobuf::ServiceDescriptor& Service() {
  static const auto* service =
      google::protobuf::DescriptorPool::generated_pool()->FindServiceByName(
          kService);
  return *service;
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
    const Script& script, grpc::testing::ServerContextTestSpouse* spouse) {
  const std::string seen = script.token.c_str();
  switch (script.token_mode()) {
    case TokenMode::kAbsent:
      return std::nullopt;
    case TokenMode::kOnce:
      spouse->AddClientMetadata(kTokenKey, script.token);
      return seen;
    case TokenMode::kTwice:
      spouse->AddClientMetadata(kTokenKey, script.token);
      spouse->AddClientMetadata(kTokenKey, kSecondToken);
      return seen;
    case TokenMode::kDecoys:
      for (const char* key : kDecoyKeys) {
        spouse->AddClientMetadata(key, kSecondToken);
      }
      if ((script.metadata & fuzzscript::kDecoysWithToken) == 0) {
        return std::nullopt;
      }
      spouse->AddClientMetadata(kTokenKey, script.token);
      return seen;
  }
  return std::nullopt;
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
  Outcome o;
  if (!token) {
    o.code = grpc::PERMISSION_DENIED;
    o.message = kNoToken;
  } else if (seen.sessionAnswers.empty()) {
    Fail("session not checked");
  } else if (seen.sessionAnswers.back() != 1) {
    o.code = grpc::PERMISSION_DENIED;
    o.message = kInvalidToken;
  } else if (!seen.tableFound) {
    o.code = grpc::RESOURCE_EXHAUSTED;
    o.message = kUnimplemented;
  } else if (seen.stop == Stop::kOutOfMemory) {
    o.code = grpc::RESOURCE_EXHAUSTED;
    o.message = kOutOfMemory;
  } else if (seen.stop == Stop::kRejected) {
    const std::string& path = seen.rejectedPath;
    o.code = grpc::INVALID_ARGUMENT;
    o.message = "the value of " + path.substr(path.rfind('/') + 1) +
                " is invalid";
    o.reply = "{Err:" + seen.reason + "}";
    o.writes = {o.reply};
  } else {
    o.reply = scripted::TheHost().config.answer.value_or("");
    o.writes = seen.adapterNull ? std::vector<std::string>{""} : seen.pieces;
  }
  return o;
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
  const uint8_t* bytes = nullptr;
  size_t count = 0;
  if (!fuzzscript::Decode(data, size, &script, &bytes, &count)) return -1;

  const MethodDescriptor& method =
      *Service().method(script.method % Service().method_count());
  const acl_tables::Table& table = TableOf(method);
  std::unique_ptr<google::protobuf::Message> request(
      google::protobuf::MessageFactory::generated_factory()
          ->GetPrototype(method.input_type())
          ->New());
  if (!request->ParseFromArray(bytes, static_cast<int>(count))) return -1;

  grpc::ServerContext context;
  grpc::testing::ServerContextTestSpouse spouse(&context);
  const std::optional<std::string> token = AddMetadata(script, &spouse);
  Configure(script, table.name);

  if (method.server_streaming()) {
    RecordingWriter writer(script.writes);
    const grpc::Status status =
        acl_service::RunStream(&context, *request, table, &writer);
    const Record seen = scripted::Snapshot();
    const Outcome want = Expect(seen, token);
    CheckCall(seen, token, status, want);
    if (writer.results != want.writes) {
      Fail("stream " + Show(writer.results) + ", want " + Show(want.writes));
    }
  } else {
    Reply reply;
    const grpc::Status status =
        acl_service::RunUnary(&context, *request, table, &reply);
    const Record seen = scripted::Snapshot();
    const Outcome want = Expect(seen, token);
    CheckCall(seen, token, status, want);
    if (reply.result() != want.reply) {
      Fail("reply \"" + reply.result() + "\", want \"" + want.reply + "\"");
    }
  }
  return 0;
}
