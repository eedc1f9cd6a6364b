#include "service/pipeline.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "host/host_api.h"
#include "tables/builder.h"
#include "tree/tree.h"

namespace acl_service {
namespace {

using acl_tables::BuildResult;
using acl_tables::Rejection;
using acl_tables::Table;
using google::protobuf::Message;

constexpr char kTokenKey[] = "token_id";
constexpr char kModule[] = "ACL";
constexpr char kPrivateBranch[] = "private";

constexpr char kNoToken[] = "Request with no token ID";
constexpr char kInvalidToken[] = "Request with invalid token ID";
constexpr char kUnimplemented[] = "Service is unimplemented";
// Short enough for std::string's inline storage: answering "no memory"
// allocates nothing.
constexpr char kOutOfMemory[] = "Out of Memory";
static_assert(sizeof(kOutOfMemory) <= 16, "must fit small-string storage");

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};

// The session token as the host operations take it: a NUL-terminated copy
// of the metadata value, which is not terminated. A token that fits (all
// real ones) stays in the call's own storage, so reading it allocates
// nothing.
class Token {
 public:
  void Assign(grpc::string_ref value) {
    if (value.size() < sizeof(inline_)) {
      std::memcpy(inline_, value.data(), value.size());
      inline_[value.size()] = '\0';
      text_ = inline_;
    } else {
      long_.assign(value.data(), value.size());
      text_ = long_.c_str();
    }
  }
  const char* c_str() const { return text_; }

 private:
  static constexpr size_t kInlineSize = 128;
  char inline_[kInlineSize];
  std::string long_;
  const char* text_ = "";
};

// The table's registry node: root, "private" (any case), "ACL", the table.
tagZormRegNode* FindTable(const char* name) {
  tagZormRegNode* node = ZORM_GetRegTreeRoot();
  if (node != nullptr) {
    node = ZORM_GetChildZormRegNodeIgnoreCase(node, kPrivateBranch);
  }
  if (node != nullptr) node = ZORM_GetChildZormRegNode(node, kModule);
  if (node != nullptr) node = ZORM_GetChildZormRegNode(node, name);
  return node;
}

// One call's state up to the adapter: the token and the request tree, both
// released when the call ends.
class Call {
 public:
  // Reads the "token_id" metadata and checks the session. False, with
  // `*status` set, when either fails.
  bool Admit(grpc::ServerContext* context, grpc::Status* status) {
    const auto& metadata = context->client_metadata();
    auto entry = metadata.lower_bound(kTokenKey);  // first of equal keys
    if (entry == metadata.end() || entry->first != kTokenKey) {
      *status = grpc::Status(grpc::StatusCode::PERMISSION_DENIED, kNoToken);
      return false;
    }
    token_.Assign(entry->second);
    if (GRPC_SESSION_IsExisting(token_.c_str()) != 1) {
      *status =
          grpc::Status(grpc::StatusCode::PERMISSION_DENIED, kInvalidToken);
      return false;
    }
    return true;
  }

  // Walks the registry and builds the request tree. False, with `*status`
  // set, when that fails; rejected() then tells whether a value was refused.
  bool Build(const Message& request, const Table& table,
             grpc::Status* status) {
    tagZormRegNode* regNode = FindTable(table.name);
    if (regNode == nullptr) {
      *status =
          grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, kUnimplemented);
      return false;
    }
    tree_ = zorm_mor_value::MakeNode(zorm_mor_value::kTableNode, regNode);
    const BuildResult result =
        tree_ ? acl_tables::BuildTree(table, request, token_.c_str(),
                                      tree_.get(), &rejection_)
              : BuildResult::kOutOfMemory;
    if (result == BuildResult::kRejected) {
      *status = grpc::Status(grpc::StatusCode::INVALID_ARGUMENT,
                             rejection_.column->message);
    } else if (result == BuildResult::kOutOfMemory) {
      *status =
          grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, kOutOfMemory);
    }
    return result == BuildResult::kBuilt;
  }

  bool rejected() const { return rejection_.column != nullptr; }

  // "{Err:" + the host's reason + "}"; the reason may fill its whole buffer
  // without a NUL.
  std::string ErrorReply() const {
    const char* reason = rejection_.errorText;
    std::string text("{Err:");
    text.append(reason, strnlen(reason, sizeof(rejection_.errorText)));
    text.push_back('}');
    return text;
  }

  // The adapter's answer for the built tree: a heap text or null.
  char* Ask() {
    return GRPC_AdapterGet2Quorvex(tree_.get(), kModule, token_.c_str());
  }

 private:
  Token token_;
  zorm_mor_value::NodePtr tree_;
  Rejection rejection_;
};

}  // namespace

grpc::Status RunUnary(grpc::ServerContext* context, const Message& request,
                      const Table& table, grpc_service::GetJsonReply* reply) {
  Call call;
  grpc::Status status;
  if (!call.Admit(context, &status)) return status;
  if (!call.Build(request, table, &status)) {
    if (call.rejected()) reply->set_result(call.ErrorReply());
    return status;
  }
  std::unique_ptr<char, FreeDeleter> text(call.Ask());
  reply->set_result(text ? text.get() : "");
  return grpc::Status::OK;
}

grpc::Status RunStream(
    grpc::ServerContext* context, const Message& request, const Table& table,
    grpc::ServerWriterInterface<grpc_service::GetJsonReply>* writer) {
  Call call;
  grpc::Status status;
  if (!call.Admit(context, &status)) return status;
  grpc_service::GetJsonReply reply;  // reused for every write of the call
  if (!call.Build(request, table, &status)) {
    if (call.rejected()) {
      reply.set_result(call.ErrorReply());
      writer->Write(reply, grpc::WriteOptions());
    }
    return status;
  }
  char* text = call.Ask();
  if (text == nullptr) {
    writer->Write(reply, grpc::WriteOptions());  // one empty result
    return grpc::Status::OK;
  }
  // The split takes the text over; only its piece list is ours to free.
  uint64_t count = 0;
  std::unique_ptr<char*, FreeDeleter> pieces(
      GRPC_Split_MassiveData(text, &count));
  if (!pieces) return grpc::Status::OK;
  for (uint64_t i = 1; i <= count; ++i) {
    const char* begin = pieces.get()[i - 1];
    const char* end = pieces.get()[i];
    reply.set_result(begin, static_cast<size_t>(end - begin));
    writer->Write(reply, grpc::WriteOptions());  // a failed write goes on
  }
  return grpc::Status::OK;
}

}  // namespace acl_service
