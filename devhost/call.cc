#include "devhost/call.h"

#include <malloc.h>

#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <grpcpp/server.h>
#include <grpcpp/server_builder.h>
#include <grpcpp/server_context.h>
#include <grpcpp/support/server_interceptor.h>

#include "devhost/memory.h"
#include "devhost/split.h"
#include "tree/tree.h"

namespace devhost {

namespace exp = grpc::experimental;

namespace {

constexpr char kServicePrefix[] = "/acl.ACLService/";

// The call the current thread runs. Plain data, so that the thread reaches
// it without an initialisation check.
struct Call {
  bool counted = false;  // a call of the module's service
  bool unary = false;    // ... and a unary one
  bool bound = false;    // its handler runs
  bool large = false;
  uint64_t checks = 0;
  grpc::ServerContext* trailer = nullptr;  // where the reason goes, once
  const char* answer = nullptr;
  size_t answerSize = 0;
  void* kept = nullptr;  // given back when the handler returns
};
thread_local Call t_call;

}  // namespace

// Starts a call when the server takes it up (on the call's thread, before
// the request is parsed), binds it around its handler, and ends it.
class CallHooks : public exp::ServerInterceptorFactoryInterface,
                  public grpc::Server::GlobalCallbacks {
 public:
  explicit CallHooks(CallTracker* tracker) : tracker_(tracker) {}

  exp::Interceptor* CreateServerInterceptor(exp::ServerRpcInfo* info) override {
    const bool ours = std::strncmp(info->method(), kServicePrefix,
                                   sizeof(kServicePrefix) - 1) == 0;
    t_call.counted = ours;
    t_call.unary = ours && info->type() == exp::ServerRpcInfo::Type::UNARY;
    if (ours) tracker_->started_.fetch_add(1, std::memory_order_acq_rel);
    return nullptr;
  }
  void PreSynchronousRequest(grpc::ServerContext* context) override {
    if (!t_call.counted) return;
    Close();  // what a call left behind goes back now
    t_call.bound = true;
    if (t_call.unary) t_call.trailer = context;
  }
  void PostSynchronousRequest(grpc::ServerContext*) override {
    const bool large = t_call.large || t_call.checks >= kLargeCount;
    Close();
    if (t_call.counted) {
      if (large) tracker_->large_.fetch_add(1, std::memory_order_acq_rel);
      tracker_->ended_.fetch_add(1, std::memory_order_acq_rel);
    }
    t_call.counted = t_call.unary = false;
  }

 private:
  static void Close() {
    GiveBack(std::exchange(t_call.kept, nullptr));
    t_call.bound = t_call.large = false;
    t_call.checks = 0;
    t_call.trailer = nullptr;
    t_call.answer = nullptr;
  }

  CallTracker* const tracker_;
};

void CallTracker::Attach(grpc::ServerBuilder* builder) {
  std::vector<std::unique_ptr<exp::ServerInterceptorFactoryInterface>> list;
  list.emplace_back(new CallHooks(this));
  builder->experimental().SetInterceptorCreators(std::move(list));
  grpc::Server::SetGlobalCallbacks(new CallHooks(this));  // gRPC owns it
}

uint64_t CallTracker::InFlight() const {
  // Ends first: a call that ends between the two reads was counted started,
  // so the difference never goes below zero.
  const uint64_t ended = ended_.load(std::memory_order_acquire);
  return started_.load(std::memory_order_acquire) - ended;
}

void CountCheck() noexcept { ++t_call.checks; }

void RecordRejection(const char* reason, size_t size) noexcept {
  grpc::ServerContext* const context = std::exchange(t_call.trailer, nullptr);
  if (context == nullptr || reason == nullptr) return;
  try {
    std::string text(reason, strnlen(reason, size));
    if (text.empty()) return;
    for (char& c : text) {
      const auto byte = static_cast<unsigned char>(c);  // char's sign varies
      if (byte < 0x20 || byte > 0x7E) c = '?';
    }
    context->AddTrailingMetadata(kReasonTrailerKey, text);
  } catch (const std::exception&) {
    // Out of memory: the call goes without its trailer.
  }
}

void NoteAnswer(const tagGrpcTableOrRow* table, const char* text,
                size_t size) noexcept {
  uint64_t rows = 0;
  for (const tagGrpcTableOrRow* row = table->firstRow;
       row != nullptr && rows < kLargeCount; row = row->next) {
    ++rows;
  }
  if (rows >= kLargeCount || size >= kLargeAnswer) t_call.large = true;
  if (!t_call.bound || text == nullptr) return;
  t_call.answer = text;
  t_call.answerSize = size;
}

char** SplitAnswer(char* text, size_t maxPiece, uint64_t* count) noexcept {
  if (text == nullptr || !t_call.bound || t_call.kept != nullptr) {
    return SplitText(text, maxPiece, count);
  }
  t_call.kept = text;
  // The adapter's answer, its block still large enough to hold it: known.
  const bool known = text == t_call.answer &&
                     malloc_usable_size(text) > t_call.answerSize &&
                     text[t_call.answerSize] == '\0';
  t_call.answer = nullptr;
  return ListPieces(text, known ? t_call.answerSize : std::strlen(text),
                    maxPiece, count);
}

}  // namespace devhost
