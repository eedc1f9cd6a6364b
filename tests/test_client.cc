#include "tests/test_client.h"

#include <google/protobuf/text_format.h>
#include <grpcpp/impl/client_unary_call.h>
#include <gtest/gtest.h>

#include "proto/acl_tree.grpc.pb.h"

namespace {

using google::protobuf::DescriptorPool;
using google::protobuf::Message;

const google::protobuf::ServiceDescriptor& Service() {
  return *DescriptorPool::generated_pool()->FindServiceByName(
      "acl.ACLService");
}

Answer Unary(grpc::Channel* channel, const std::string& method,
             const Message& request, grpc::ClientContext* context) {
  grpc_service::GetJsonReply reply;
  grpc::Status status = grpc::internal::BlockingUnaryCall(
      channel,
      grpc::internal::RpcMethod(("/acl.ACLService/" + method).c_str(),
                                grpc::internal::RpcMethod::NORMAL_RPC),
      context, request, &reply);
  return Answer{status.error_code(), status.error_message(), {reply.result()}};
}

Answer Stream(const std::shared_ptr<grpc::Channel>& channel,
              const Message& request, grpc::ClientContext* context,
              int cancelAfter) {
  acl::ACLService::Stub stub(channel);
  auto reader = stub.GetJsonACLIPv4BasicRulesStream(
      context, static_cast<const acl::ACLIPv4BasicRules&>(request));
  Answer answer;
  grpc_service::GetJsonReply reply;
  while (reader->Read(&reply)) {
    answer.results.push_back(reply.result());
    if (static_cast<int>(answer.results.size()) == cancelAfter) {
      context->TryCancel();
    }
  }
  grpc::Status status = reader->Finish();
  answer.code = status.error_code();
  answer.message = status.error_message();
  return answer;
}

}  // namespace

Answer CallMethod(const std::shared_ptr<grpc::Channel>& channel,
                  const std::string& method, const Message& request,
                  const char* token, int cancelAfter) {
  grpc::ClientContext context;
  if (token != nullptr) context.AddMetadata("token_id", token);
  return method == kStreamMethod
             ? Stream(channel, request, &context, cancelAfter)
             : Unary(channel.get(), method, request, &context);
}

std::vector<std::string> MethodNames() {
  std::vector<std::string> names;
  for (int i = 0; i < Service().method_count(); ++i) {
    names.push_back(Service().method(i)->name());
  }
  return names;
}

const Message& RequestPrototype(const std::string& method) {
  const auto* m = Service().FindMethodByName(method);
  EXPECT_NE(m, nullptr) << method;
  return *google::protobuf::MessageFactory::generated_factory()->GetPrototype(
      m->input_type());
}

std::unique_ptr<Message> NewRequest(const std::string& method, int elements) {
  std::unique_ptr<Message> request(RequestPrototype(method).New());
  if (elements > 0) FillEveryField(request.get(), elements);
  return request;
}

std::unique_ptr<Message> ParseRequest(const std::string& method,
                                      const std::string& text) {
  std::unique_ptr<Message> message(RequestPrototype(method).New());
  EXPECT_TRUE(
      google::protobuf::TextFormat::ParseFromString(text, message.get()))
      << text;
  return message;
}
