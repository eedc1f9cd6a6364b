#include "tests/service_fixture.h"

#include <grpcpp/test/server_context_test_spouse.h>

#include <nlohmann/json.hpp>

#include "service/acl_service.h"
#include "service/pipeline.h"
#include "tables/tables.h"

void ServiceTest::SetUp() {
  scripted::Reset();
  builder_ = std::make_unique<grpc::ServerBuilder>();
  scripted::TheHost().config.builder = builder_.get();
  ASSERT_EQ(ServiceCreate(), 0);
  server_ = builder_->BuildAndStart();
  ASSERT_NE(server_, nullptr);
  channel_ = server_->InProcessChannel(grpc::ChannelArguments());
}

void ServiceTest::TearDown() {
  EXPECT_EQ(scripted::Snapshot().breaches, std::vector<std::string>{});
  server_->Shutdown();
  server_->Wait();
  ServiceDestroy();
}

Answer ServiceTest::Call(const std::string& method,
                         const google::protobuf::Message& request,
                         const char* token) {
  return CallMethod(channel_, method, request, token);
}

Answer ServiceTest::CallText(const std::string& method,
                             const std::string& request, const char* token) {
  return Call(method, *ParseRequest(method, request), token);
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

std::string ServiceTest::OnlyTree() {
  scripted::Record record = scripted::Snapshot();
  EXPECT_EQ(record.trees.size(), 1u);
  return record.trees.empty() ? "" : record.trees[0];
}

std::vector<std::string> ServiceTest::CheckLines() {
  std::vector<std::string> lines;
  for (const scripted::Check& c : scripted::Snapshot().checks) {
    lines.push_back(c.path + " " + c.text);
  }
  return lines;
}

void ExpectNothingLive(const scripted::Record& r) {
  EXPECT_EQ(r.liveRecords, 0);
  EXPECT_EQ(r.liveValues, 0);
  EXPECT_FALSE(r.textLive);
  EXPECT_FALSE(r.listLive);
  EXPECT_EQ(r.breaches, std::vector<std::string>{});
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
