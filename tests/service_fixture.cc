#include "tests/service_fixture.h"

#include <google/protobuf/text_format.h>
#include <grpcpp/test/server_context_test_spouse.h>

#include "service/acl_service.h"
#include "service/pipeline.h"
#include "tables/tables.h"

std::unique_ptr<google::protobuf::Message> ParseRequest(
    const std::string& method, const std::string& text) {
  const auto* m = acl_client::FindMethod(method);
  EXPECT_NE(m, nullptr) << method;
  auto request = acl_client::NewMessage(m->input_type());
  EXPECT_TRUE(
      google::protobuf::TextFormat::ParseFromString(text, request.get()))
      << text;
  return request;
}

void ServiceTest::SetUp() {
  builder_ = std::make_unique<grpc::ServerBuilder>();
  ResetHost();
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

void ServiceTest::ResetHost() {
  scripted::Reset();
  scripted::TheHost().config.builder = builder_.get();
}

Outcome ServiceTest::Call(const std::string& method,
                          const google::protobuf::Message& request) {
  return acl_client::Call(channel_, *acl_client::FindMethod(method),
                          request, {kToken});
}

Outcome ServiceTest::Direct(const google::protobuf::Message& request) {
  const acl_tables::Table* table = nullptr;
  for (const acl_tables::Table* t : acl_tables::kAllTables) {
    if (request.GetDescriptor()->name() == std::string("ACL") + t->name) {
      table = t;
    }
  }
  EXPECT_NE(table, nullptr);
  grpc::ServerContext context;
  grpc::testing::ServerContextTestSpouse spouse(&context);
  spouse.AddClientMetadata("token_id", kToken);
  grpc_service::GetJsonReply reply;
  grpc::Status status =
      acl_service::RunUnary(&context, request, *table, &reply);
  return {status.error_code(), status.error_message(), {reply.result()}, ""};
}

void ExpectNothingLive(const scripted::Record& r) {
  EXPECT_EQ(r.liveRecords, 0);
  EXPECT_EQ(r.liveValues, 0);
  EXPECT_FALSE(r.textLive);
  EXPECT_FALSE(r.listLive);
  EXPECT_EQ(r.breaches, std::vector<std::string>{});
}
