// The generic client of acl.ACLService: any of its methods called by its
// descriptor, with no generated stub (through gRPC's generic stub, the
// messages as bytes). The method table, the request types
// and the reply type all come from the schema's descriptors linked into the
// program (DescriptorPool::generated_pool()); requests and replies are
// messages made from them. A call carries the session token as "token_id"
// metadata and may have a deadline; its outcome holds the status, every
// reply's result and the server's reason trailer ("acl-devhost-reason",
// which the development host adds to a rejected value's status).
//
// Every function here is stateless and may be called from any number of
// threads at once; a call's piece callback runs on the calling thread.

#ifndef ACL_CLIENT_SERVICE_CLIENT_H_
#define ACL_CLIENT_SERVICE_CLIENT_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <grpcpp/grpcpp.h>

namespace acl_client {

extern const char kService[];    // "acl.ACLService"
extern const char kTokenKey[];   // "token_id"
extern const char kReasonKey[];  // "acl-devhost-reason"

// The service, or null when the program does not link its schema.
const google::protobuf::ServiceDescriptor* Service();

// The service's methods in schema order.
// REQUIRES: Service() != nullptr.
std::vector<const google::protobuf::MethodDescriptor*> Methods();

// The method `name` stands for: its full name or the name without the
// GetJsonACL prefix; exact matches first, then case-insensitive ones.
// Null when none matches.
// REQUIRES: Service() != nullptr.
const google::protobuf::MethodDescriptor* FindMethod(const std::string& name);

// An empty message of `type`.
std::unique_ptr<google::protobuf::Message> NewMessage(
    const google::protobuf::Descriptor* type);

// The reply's `result` text; a reply type without one gives its JSON.
std::string ResultOf(const google::protobuf::Message& reply);

// The code's name, such as "PERMISSION_DENIED".
std::string CodeName(grpc::StatusCode code);

// The server's reason trailer of a finished call, or "".
std::string ReasonOf(const grpc::ClientContext& context);

// A channel's credentials: TLS trusting the CA certificates in the PEM file
// `caFile`, or none (plaintext) when it is "". Null, with `*error` set, when
// the file cannot be read or holds no PEM certificate.
std::shared_ptr<grpc::ChannelCredentials> Credentials(
    const std::string& caFile, std::string* error);

// How a call ended.
struct Outcome {
  grpc::StatusCode code = grpc::StatusCode::UNKNOWN;
  std::string message;               // the status message
  std::vector<std::string> results;  // one per reply (a unary call: one)
  std::string reason;                // the reason trailer, or ""

  bool operator==(const Outcome& o) const {
    return code == o.code && message == o.message && results == o.results &&
           reason == o.reason;
  }
  bool ok() const { return code == grpc::StatusCode::OK; }
  // The results joined: the whole answer.
  std::string Joined() const;
};

// Sees the result of each streamed reply as it arrives; returning false
// cancels the call. It is not called again after that, but replies still
// arriving until the call ends are kept in the outcome.
using PieceCallback = std::function<bool(const std::string& result)>;

struct CallOptions {
  std::string token;      // "": no token sent
  double timeout = 0;     // seconds to the deadline; 0: none
  PieceCallback onPiece = nullptr;  // a streamed method's; may be empty
};

// Calls `method` with `request` on `channel` and waits for its end: a
// unary call's reply, or a stream read to its end.
// REQUIRES: `request` is of the method's input type.
Outcome Call(const std::shared_ptr<grpc::ChannelInterface>& channel,
             const google::protobuf::MethodDescriptor& method,
             const google::protobuf::Message& request,
             const CallOptions& options);

}  // namespace acl_client

#endif  // ACL_CLIENT_SERVICE_CLIENT_H_
