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

namespace devhost {

namespace exp = grpc::experimental;

namespace {

constexpr char kServicePrefix[] = "/acl.ACLService/";

// Blocks a call keeps at most: a streamed answer's text is one.
constexpr size_t kKeptBlocks = 4;

// The call the current thread runs, from its start to its end. Plain data,
// so that the thread reaches it without an initialisation check.
struct Call {
  bool counted = false;  // a call of the module's service
  bool unary = false;    // ... and a unary one
  bool bound = false;    // its handler runs
  bool large = false;
  uint64_t checks = 0;   // value checks
  grpc::ServerContext* trailer = nullptr;  // where the reason goes, once
  const char* answer = nullptr;
  size_t answerSize = 0;
  void* blocks[kKeptBlocks] = {};  // given back when the call ends
  size_t blockCount = 0;
};
thread_local Call t_call;

// Gives the call's blocks back and forgets the rest of it.
void CloseCall() {
  for (size_t i = 0; i < t_call.blockCount; ++i) GiveBack(t_call.blocks[i]);
  t_call.blockCount = 0;
  t_call.bound = t_call.large = false;
  t_call.checks = 0;
  t_call.trailer = nullptr;
  t_call.answer = nullptr;
}

}  // namespace

// Called by the server for every call it takes up, on the call's thread,
// before the request is parsed. Counts the module's calls; makes no
// interceptor.
class CallStart : public exp::ServerInterceptorFactoryInterface {
 public:
  explicit CallStart(CallTracker* tracker) : tracker_(tracker) {}
  exp::Interceptor* CreateServerInterceptor(exp::ServerRpcInfo* info) override {
    const bool ours = std::strncmp(info->method(), kServicePrefix,
                                   sizeof(kServicePrefix) - 1) == 0;
    t_call.counted = ours;
    t_call.unary = ours && info->type() == exp::ServerRpcInfo::Type::UNARY;
    if (ours) tracker_->started_.fetch_add(1, std::memory_order_acq_rel);
    return nullptr;
  }

 private:
  CallTracker* const tracker_;
};

// Around every synchronous handler, on its thread.
class CallEnd : public grpc::Server::GlobalCallbacks {
 public:
  explicit CallEnd(CallTracker* tracker) : tracker_(tracker) {}
  void PreSynchronousRequest(grpc::ServerContext* context) override {
    if (!t_call.counted) return;
    CloseCall();  // a call left behind gives its blocks back now
    t_call.bound = true;
    if (t_call.unary) t_call.trailer = context;
  }
  void PostSynchronousRequest(grpc::ServerContext*) override {
    const bool large = t_call.large || t_call.checks >= kLargeCount;
    CloseCall();
    if (t_call.counted) {
      if (large) tracker_->large_.fetch_add(1, std::memory_order_acq_rel);
      tracker_->ended_.fetch_add(1, std::memory_order_acq_rel);
    }
    t_call.counted = t_call.unary = false;
  }

 private:
  CallTracker* const tracker_;
};

void CallTracker::Attach(grpc::ServerBuilder* builder) {
  std::vector<std::unique_ptr<exp::ServerInterceptorFactoryInterface>> list;
  list.push_back(std::make_unique<CallStart>(this));
  builder->experimental().SetInterceptorCreators(std::move(list));
  grpc::Server::SetGlobalCallbacks(new CallEnd(this));  // gRPC owns it
}

uint64_t CallTracker::InFlight() const {
  // Ends first: a call that ends between the two reads was counted started,
  // so the difference never goes below zero.
  const uint64_t ended = ended_.load(std::memory_order_acquire);
  return started_.load(std::memory_order_acquire) - ended;
}

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

void CountCheck() noexcept { ++t_call.checks; }

void NoteAnswer(const char* text, size_t size, uint64_t rows) noexcept {
  if (rows >= kLargeCount || size >= kLargeAnswer) t_call.large = true;
  if (!t_call.bound || text == nullptr) return;
  t_call.answer = text;
  t_call.answerSize = size;
}

size_t AnswerSize(const char* text) noexcept {
  if (text == nullptr || text != t_call.answer ||
      malloc_usable_size(const_cast<char*>(text)) <= t_call.answerSize ||
      text[t_call.answerSize] != '\0') {
    return SIZE_MAX;
  }
  t_call.answer = nullptr;  // split once
  return t_call.answerSize;
}

bool KeepUntilCallEnd(void* block) noexcept {
  if (!t_call.bound || t_call.blockCount == kKeptBlocks) return false;
  t_call.blocks[t_call.blockCount++] = block;
  return true;
}

}  // namespace devhost
