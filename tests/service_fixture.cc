#include "tests/service_fixture.h"

#include <google/protobuf/text_format.h>

#include <grpcpp/test/server_context_test_spouse.h>

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

