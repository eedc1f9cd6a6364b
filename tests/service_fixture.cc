#include "tests/service_fixture.h"

#include <google/protobuf/text_format.h>

#include <grpcpp/test/server_context_test_spouse.h>

#include <nlohmann/json.hpp>

#include "service/acl_service.h"
#include "service/pipeline.h"
#include "tables/tables.h"

void ServiceTest::SetUp() {
  testhost::Reset();
  builder_ = std::make_unique<grpc::ServerBuilder>();
  testhost::TheHost().config.builder = builder_.get();
  ASSERT_EQ(ServiceCreate(), 0);
  server_ = builder_->BuildAndStart();
  ASSERT_NE(server_, nullptr);
  channel_ = server_->InProcessChannel(grpc::ChannelArguments());
}

void ServiceTest::TearDown() {
  server_->Shutdown();
  server_->Wait();
  ServiceDestroy();
}

Answer ServiceTest::Call(const std::string& method,
                         const google::protobuf::Message& request,
                         const char* token) {
  grpc::ClientContext context;
  if (token != nullptr) context.AddMetadata("token_id", token);
  grpc_service::GetJsonReply reply;
  grpc::Status status = grpc::internal::BlockingUnaryCall(
      channel_.get(),
      grpc::internal::RpcMethod(("/acl.ACLService/" + method).c_str(),
                                grpc::internal::RpcMethod::NORMAL_RPC),
      &context, request, &reply);
  return Answer{status.error_code(), status.error_message(), {reply.result()}};
}

Answer ServiceTest::Direct(const google::protobuf::Message& request,
                           const char* token) {
  const acl_tables::Table* table = nullptr;
  for (const acl_tables::Table* t : acl_tables::kAllTables) {
    if (request.GetDescriptor()->name() == std::string("ACL") + t->name) {
      table = t;
    }
  }
  EXPECT_NE(table, nullptr);
  grpc::ServerContext context;
  grpc::testing::ServerContextTestSpouse spouse(&context);
  if (token != nullptr) spouse.AddClientMetadata("token_id", token);
  grpc_service::GetJsonReply reply;
  grpc::Status status =
      acl_service::RunUnary(&context, request, *table, &reply);
  return Answer{status.error_code(), status.error_message(), {reply.result()}};
}

Answer ServiceTest::Stream(const acl::ACLIPv4BasicRules& request,
                           const char* token) {
  auto stub = acl::ACLService::NewStub(channel_);
  grpc::ClientContext context;
  if (token != nullptr) context.AddMetadata("token_id", token);
  auto reader = stub->GetJsonACLIPv4BasicRulesStream(&context, request);
  Answer answer;
  grpc_service::GetJsonReply reply;
  while (reader->Read(&reply)) answer.results.push_back(reply.result());
  grpc::Status status = reader->Finish();
  answer.code = status.error_code();
  answer.message = status.error_message();
  return answer;
}

std::string ServiceTest::OnlyTree() {
  testhost::Record record = testhost::Snapshot();
  EXPECT_EQ(record.trees.size(), 1u);
  return record.trees.empty() ? "" : record.trees[0];
}


Answer ServiceTest::CallAny(const std::string& method,
                            const google::protobuf::Message& request,
                            const char* token) {
  if (method == "GetJsonACLIPv4BasicRulesStream") {
    return Stream(static_cast<const acl::ACLIPv4BasicRules&>(request), token);
  }
  return Call(method, request, token);
}

Answer ServiceTest::CallText(const std::string& method,
                             const std::string& request, const char* token) {
  return CallAny(method, *ParseRequest(method, request), token);
}

std::vector<std::string> ServiceTest::CheckLines() {
  std::vector<std::string> lines;
  for (const testhost::Check& c : testhost::Snapshot().checks) {
    lines.push_back(c.path + " " + c.text);
  }
  return lines;
}

void FillEveryField(google::protobuf::Message* message, int elements) {
  using google::protobuf::FieldDescriptor;
  const auto* reflection = message->GetReflection();
  const auto* descriptor = message->GetDescriptor();
  for (int i = 0; i < descriptor->field_count(); ++i) {
    const FieldDescriptor* f = descriptor->field(i);
    if (f->is_repeated()) {
      for (int e = 0; e < elements; ++e) {
        FillEveryField(reflection->AddMessage(message, f), elements);
      }
      continue;
    }
    switch (f->cpp_type()) {
      case FieldDescriptor::CPPTYPE_UINT32:
        reflection->SetUInt32(message, f, 100u + static_cast<uint32_t>(i));
        break;
      case FieldDescriptor::CPPTYPE_UINT64:
        reflection->SetUInt64(message, f, 5000000000ull + i);
        break;
      case FieldDescriptor::CPPTYPE_BOOL:
        reflection->SetBool(message, f, true);
        break;
      default: {
        const std::string& name = f->name();
        reflection->SetString(
            message, f,
            name.find("MAC") != std::string::npos ? "00-1a-2b-3c-4d-5e"
            : name.find("IPv6") != std::string::npos ? "2001:db8::1"
                                                       : "10.0.0.1");
      }
    }
  }
}

const google::protobuf::Message& RequestPrototype(const std::string& method) {
  const auto* service = google::protobuf::DescriptorPool::generated_pool()
                            ->FindServiceByName("acl.ACLService");
  const auto* m = service->FindMethodByName(method);
  EXPECT_NE(m, nullptr) << method;
  return *google::protobuf::MessageFactory::generated_factory()->GetPrototype(
      m->input_type());
}

std::unique_ptr<google::protobuf::Message> ParseRequest(
    const std::string& method, const std::string& text) {
  std::unique_ptr<google::protobuf::Message> message(
      RequestPrototype(method).New());
  EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(text, message.get()))
      << text;
  return message;
}

namespace {

void CompactColumns(const nlohmann::json& columns, std::string* table,
                    std::string* out) {
  *out += "[";
  bool first = true;
  for (const auto& c : columns) {
    std::string id = c["morId"];  // "0x0201TTCC"
    for (char& ch : id) ch = static_cast<char>(std::tolower(ch));
    if (table->empty()) *table = id.substr(6, 2);
    if (id.substr(0, 6) != "0x0201" || id.substr(6, 2) != *table) {
      *out += "!";  // a MOR ID of another module or table
    }
    if (!first) *out += " ";
    first = false;
    *out += id.substr(8, 2);
    if (!c["noValue"].get<bool>()) {
      *out += ":" + std::to_string(c["type"].get<int>()) + "=" +
              c["value"].dump();
    }
  }
  *out += "]";
}

void CompactNode(const nlohmann::json& node, std::string* table,
                 std::string* out) {
  CompactColumns(node["columns"], table, out);
  *out += "{";
  bool first = true;
  for (const auto& sub : node["subEntries"]) {
    if (!first) *out += " ";
    first = false;
    *out += sub["name"].get<std::string>();
    CompactColumns(sub["columns"], table, out);
  }
  *out += "}";
}

}  // namespace

std::string Compact(const std::string& treeJson) {
  nlohmann::json tree = nlohmann::json::parse(treeJson);
  std::string table, body = "T";
  CompactNode(tree, &table, &body);
  for (const auto& row : tree["rows"]) {
    body += " R";
    CompactNode(row, &table, &body);
  }
  return (table.empty() ? "--" : table) + " " + body;
}
