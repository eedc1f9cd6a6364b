// A real gRPC server, in process, serving the module's service through the
// recording test host, and a client calling it over an in-process channel.

#ifndef ACL_TESTS_SERVICE_FIXTURE_H_
#define ACL_TESTS_SERVICE_FIXTURE_H_

#include <memory>
#include <string>
#include <vector>

#include <google/protobuf/message.h>
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include "client/service_client.h"
#include "proto/acl_tree.grpc.pb.h"
#include "testsupport/every_field.h"
#include "testsupport/scripted_host.h"

using acl_client::Outcome;

constexpr char kToken[] = "good-token";
constexpr char kStreamMethod[] = "GetJsonACLIPv4BasicRulesStream";

// A request of `method` parsed from its text format (a failed parse fails
// the test).
std::unique_ptr<google::protobuf::Message> ParseRequest(
    const std::string& method, const std::string& text);

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Restores the host's defaults, serving through this fixture's builder.
  void ResetHost();

  // Calls `method` (unary, or the streamed method read to its end) with
  // `request` and kToken.
  Outcome Call(const std::string& method,
               const google::protobuf::Message& request);

  // Runs the unary pipeline on `request` with kToken directly, not over the
  // wire. The gRPC runtime sends no reply message with a status other than
  // OK; this shows what the module put in the reply all the same.
  Outcome Direct(const google::protobuf::Message& request);

  // Calls `method` the way that shows what was written: Direct for a unary
  // method, the wire for the stream (its messages).
  Outcome Written(const std::string& method,
                  const google::protobuf::Message& request) {
    return method == kStreamMethod ? Call(method, request) : Direct(request);
  }

  std::unique_ptr<grpc::ServerBuilder> builder_;
  std::unique_ptr<grpc::Server> server_;
  std::shared_ptr<grpc::Channel> channel_;
};

// Nothing the calls made is left live, and no host rule was broken.
void ExpectNothingLive(const scripted::Record& r);

// Names parameterised cases after their `name` member.
struct CaseName {
  template <class P>
  std::string operator()(const ::testing::TestParamInfo<P>& info) const {
    return info.param.name;
  }
};

#endif  // ACL_TESTS_SERVICE_FIXTURE_H_
