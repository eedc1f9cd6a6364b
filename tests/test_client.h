// The tests' client side: requests made from the schema, and calls to any
// method of the service over a channel, read to their end.
//
// Stateless; safe to call from any number of threads at once.

#ifndef ACL_TESTS_TEST_CLIENT_H_
#define ACL_TESTS_TEST_CLIENT_H_

#include <memory>
#include <string>
#include <vector>

#include <google/protobuf/message.h>
#include <grpcpp/grpcpp.h>

#include "tests/every_field.h"

constexpr char kStreamMethod[] = "GetJsonACLIPv4BasicRulesStream";

// The outcome of one call: status code, message, and every reply's result
// (one for a unary call, one per message for a stream).
struct Answer {
  int code = -1;
  std::string message;
  std::vector<std::string> results;

  bool operator==(const Answer& o) const {
    return code == o.code && message == o.message && results == o.results;
  }
};

// Calls `method` ("GetJsonACLBase", or the streamed method) with `request`,
// sending `token` as "token_id" unless it is null. A stream is read to its
// end; with `cancelAfter` > 0 the client cancels it once it has read that
// many messages, and the answer holds what arrived.
Answer CallMethod(const std::shared_ptr<grpc::Channel>& channel,
                  const std::string& method,
                  const google::protobuf::Message& request, const char* token,
                  int cancelAfter = 0);

// The names of the service's methods, in schema order.
std::vector<std::string> MethodNames();

// The request prototype of `method`.
const google::protobuf::Message& RequestPrototype(const std::string& method);

// A request of `method`: empty, or with every field set and `elements`
// elements in every repeated field (FillEveryField).
std::unique_ptr<google::protobuf::Message> NewRequest(const std::string& method,
                                                      int elements = 0);

// A request of `method` parsed from its text format (a failed parse fails
// the test).
std::unique_ptr<google::protobuf::Message> ParseRequest(
    const std::string& method, const std::string& text);

#endif  // ACL_TESTS_TEST_CLIENT_H_
