// The host and registry operations of host/host_api.h, exported from the
// executable for the module: thin calls into the Host and the call's record
// (host.h) that let no exception out. Once the host is stopping, the
// session check, the value check, the adapter and the split answer at once,
// so that the handlers still running return quickly.

#include <malloc.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <grpcpp/server.h>
#include <grpcpp/server_builder.h>
#include <grpcpp/server_context.h>
#include <grpcpp/support/server_interceptor.h>

#include "devhost/host.h"
#include "devhost/memory.h"
#include "devhost/split.h"
#include "devhost/values.h"
#include "host/host_api.h"
#include "tree/tree.h"

namespace devhost {

namespace exp = grpc::experimental;

namespace {

constexpr char kServicePrefix[] = "/acl.ACLService/";
// The value check's own reasons: the host stopping, no checker, no text.
constexpr char kStoppingReason[] = "the host is shutting down";
constexpr char kCannotJudge[] = "the host cannot judge values";
constexpr char kNoValue[] = "no value";

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

bool Stopping() { return TheHost().stopping.load(std::memory_order_relaxed); }

// Sends `reason` (up to its first NUL, at most `size` bytes) as the bound
// unary call's trailer, once per call.
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

}  // namespace

// Counts a call as the server takes it up (on its thread, before its
// request is parsed), binds it around its handler, and ends it.
class CallHooks : public exp::ServerInterceptorFactoryInterface,
                  public grpc::Server::GlobalCallbacks {
 public:
  exp::Interceptor* CreateServerInterceptor(exp::ServerRpcInfo* info) override {
    const bool ours = std::strncmp(info->method(), kServicePrefix,
                                   sizeof(kServicePrefix) - 1) == 0;
    t_call.counted = ours;
    t_call.unary = ours && info->type() == exp::ServerRpcInfo::Type::UNARY;
    if (ours) TheHost().started.fetch_add(1, std::memory_order_acq_rel);
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
      if (large) TheHost().large.fetch_add(1, std::memory_order_acq_rel);
      TheHost().ended.fetch_add(1, std::memory_order_acq_rel);
    }
    t_call.counted = t_call.unary = false;
  }

 private:
  // Gives back what the call kept and forgets all but which call it is.
  static void Close() {
    GiveBack(t_call.kept);
    t_call = Call{t_call.counted, t_call.unary};
  }
};

void HookCalls(grpc::ServerBuilder* builder) {
  std::vector<std::unique_ptr<exp::ServerInterceptorFactoryInterface>> list;
  list.emplace_back(new CallHooks());
  builder->experimental().SetInterceptorCreators(std::move(list));
  grpc::Server::SetGlobalCallbacks(new CallHooks());  // gRPC owns it
}

Host& TheHost() {
  static Host* host = new Host();  // never destroyed: threads may outlive main
  return *host;
}

}  // namespace devhost

using devhost::Stopping;
using devhost::TheHost;
using devhost::t_call;

extern "C" {

grpc::ServerBuilder* GRPC_GetServerBuilder() { return TheHost().builder; }

uint16_t GRPC_SESSION_IsExisting(const char* token) {
  if (token == nullptr || Stopping()) return 0;
  try {
    return TheHost().tokens.count(token) != 0 ? 1 : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

uint16_t GRPC_CheckValueOfPara(const char* /*token*/, const char* path,
                               const char* text, uint32_t errorSize,
                               char* errorText) {
  const devhost::Checker* checker = TheHost().checker.get();
  const char* reason = devhost::kCannotJudge;  // also when out of memory
  std::optional<std::string> why;
  ++t_call.checks;
  try {
    if (Stopping()) {
      reason = devhost::kStoppingReason;
    } else if (checker != nullptr) {
      why = text != nullptr ? checker->Judge(path != nullptr ? path : "", text)
                            : devhost::kNoValue;
      if (!why) return 1;
      reason = why->c_str();
    }
  } catch (const std::exception&) {
    // Out of memory while judging: reject below.
  }
  if (errorText != nullptr && errorSize > 0) {
    std::snprintf(errorText, errorSize, "%s", reason);
    devhost::RecordRejection(errorText, errorSize);
  }
  return 0;
}

char* GRPC_AdapterGet2Quorvex(tagGrpcTableOrRow* table, const char* module,
                              const char* /*token*/) {
  const devhost::Adapter* adapter = TheHost().adapter.get();
  if (adapter == nullptr || table == nullptr || Stopping()) return nullptr;
  try {
    size_t size = 0;
    char* answer =
        adapter->Answer(table, module != nullptr ? module : "", &size);
    uint64_t rows = 0;
    for (const tagGrpcTableOrRow* row = table->firstRow;
         row != nullptr && rows < devhost::kLargeCount; row = row->next) {
      ++rows;
    }
    t_call.large |= rows >= devhost::kLargeCount ||
                    (answer != nullptr && size >= devhost::kLargeAnswer);
    if (t_call.bound && answer != nullptr) {
      t_call.answer = answer;
      t_call.answerSize = size;
    }
    return answer;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "acl-devhost: the adapter failed: %s\n", e.what());
    return nullptr;
  }
}

char** GRPC_Split_MassiveData(char* text, uint64_t* count) {
  uint64_t ignored;
  if (count == nullptr) count = &ignored;
  if (Stopping()) {  // nothing will be sent: spare the work
    std::free(text);
    *count = 0;
    return nullptr;
  }
  const size_t maxPiece = TheHost().splitBytes;
  // The bound call keeps the text, which the pieces point into: nothing is
  // copied. REQUIRES: the module splits no other text at the address of an
  // answer it released in the same call.
  if (text == nullptr || !t_call.bound || t_call.kept != nullptr) {
    return devhost::SplitText(text, maxPiece, count);
  }
  t_call.kept = text;
  // The adapter's answer, its block still large enough to hold it: known.
  const bool known = text == t_call.answer &&
                     malloc_usable_size(text) > t_call.answerSize &&
                     text[t_call.answerSize] == '\0';
  t_call.answer = nullptr;
  return devhost::ListPieces(
      text, known ? t_call.answerSize : std::strlen(text), maxPiece, count);
}

tagZormRegNode* ZORM_GetRegTreeRoot() {
  const devhost::Registry* registry = TheHost().registry.get();
  return registry != nullptr ? registry->root() : nullptr;
}

tagZormRegNode* ZORM_GetChildZormRegNode(tagZormRegNode* parent,
                                         const char* name) {
  return devhost::Registry::Child(parent, name, false);
}

tagZormRegNode* ZORM_GetChildZormRegNodeIgnoreCase(tagZormRegNode* parent,
                                                   const char* name) {
  return devhost::Registry::Child(parent, name, true);
}

int32_t ZORM_SetMorValue(const char* text, uint32_t length,
                         tagZormMorValue* value) {
  if (value == nullptr || (text == nullptr && length != 0)) return -1;
  return devhost::SetText(text, length, value);
}

int32_t ZORM_IPV4_SetMorValue(const char* text, tagZormMorValue* value) {
  if (value == nullptr) return -1;
  return devhost::SetIPv4(text, value);
}

const tagZormTypeInfo* ZORM_GetTypeInfo(uint32_t typeCode) {
  return devhost::TypeInfo(typeCode);
}

}  // extern "C"
