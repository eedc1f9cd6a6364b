// Included by name from its own directory: the host project built against
// the installed package takes only this pair from the source tree.
#include "toy_host.h"

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include <grpcpp/server_builder.h>

#include "host/host_api.h"
#include "tree/tree.h"

struct tagZormRegNode {
  std::string name;
  std::vector<std::unique_ptr<tagZormRegNode>> children;

  tagZormRegNode* Add(std::string childName) {
    children.push_back(std::make_unique<tagZormRegNode>());
    children.back()->name = std::move(childName);
    return children.back().get();
  }
};

namespace toyhost {
namespace {

constexpr char kLiveToken[] = "toy-session";
constexpr char kStatusPath[] = "ACL/Base/ProcessingStatus";
constexpr char kStatusReason[] = "0 or 1";
constexpr char kUnknownReason[] = "unknown column";
constexpr size_t kPiece = 1000;  // largest streamed piece

std::string g_fault;
grpc::ServerBuilder* g_builder = nullptr;

bool Broken(const char* promise) { return g_fault == promise; }

// root -> "private" -> "ACL" -> one node per table.
std::unique_ptr<tagZormRegNode> MakeRegistry() {
  auto root = std::make_unique<tagZormRegNode>();
  tagZormRegNode* acl =
      root->Add("Private")->Add(Broken("registry.acl") ? "Acl" : "ACL");
  for (const std::string& table : hostcheck::ModuleTables()) {
    if (Broken("registry.tables") && table == "MACRules") continue;
    acl->Add(table);
  }
  return root;
}

std::unique_ptr<tagZormRegNode> g_root = MakeRegistry();

tagZormRegNode* Child(tagZormRegNode* parent, const char* name,
                      bool ignoreCase) {
  if (Broken("registry.private")) ignoreCase = false;
  if (Broken("registry.exact")) ignoreCase = true;
  if (parent == nullptr || name == nullptr) return nullptr;
  for (const auto& child : parent->children) {
    const char* own = child->name.c_str();
    if ((ignoreCase ? strcasecmp(own, name) : std::strcmp(own, name)) == 0) {
      return child.get();
    }
  }
  return nullptr;
}

// The reason for `text` at `path`, or null when the value is accepted.
const char* Judge(const char* path, const char* text) {
  if (std::strcmp(path, kStatusPath) != 0) return kUnknownReason;
  if (std::strcmp(text, "0") == 0 || std::strcmp(text, "1") == 0) {
    return nullptr;
  }
  return kStatusReason;
}

// Writes `reason` as the checker's faults ask, else cut to fit with a NUL.
void WriteReason(const char* reason, uint32_t size, char* out) {
  if (Broken("check.reason")) {
    std::memset(out, 'x', size);
  } else if (Broken("check.bounds")) {
    std::snprintf(out, size + 32, "%s: %s", reason,
                  "and a long tail that does not fit in the sixty-four bytes of the buffer");
  } else if (Broken("threads")) {
    static char shared[64];  // one buffer for every thread: a data race
    std::snprintf(shared, sizeof(shared), "%s", reason);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::snprintf(out, size, "%s", shared);
  } else {
    std::snprintf(out, size, "%s", reason);
  }
}

void ReleaseText(void* value) { std::free(value); }
void KeepText(void*) {}

// One block: count + 1 pointers, then a copy of the text they point into.
char** SplitOneBlock(char* text, uint64_t* count) {
  const size_t size = std::strlen(text);
  const size_t n = (size + kPiece - 1) / kPiece;
  auto** list =
      static_cast<char**>(std::malloc((n + 1) * sizeof(char*) + size + 1));
  if (list == nullptr) return nullptr;
  char* copy = reinterpret_cast<char*>(list + n + 1);
  std::memcpy(copy, text, size + 1);
  std::free(text);
  for (size_t i = 0; i <= n; ++i) list[i] = copy + std::min(i * kPiece, size);
  *count = n;
  return list;
}

}  // namespace

bool Break(const std::string& promise) {
  bool known = promise.empty();
  for (const hostcheck::Promise& p : hostcheck::Promises()) {
    known = known || promise == p.name;
  }
  if (!known) return false;
  g_fault = promise;
  g_root = MakeRegistry();
  return true;
}

hostcheck::HostFacts Facts() {
  hostcheck::HostFacts f;
  f.liveToken = kLiveToken;
  f.accepted = {{kStatusPath, "1"}, {kStatusPath, "0"}};
  f.rejected = {{kStatusPath, "7"}, {"ACL/NoSuchTable/Column", "1"}};
  return f;
}

void SetBuilder(grpc::ServerBuilder* builder) { g_builder = builder; }

}  // namespace toyhost

namespace hostcheck {

// The toy host as the checker's program runs it: "--break PROMISE" breaks
// one promise.
bool SetUpHost(const std::vector<std::string>& args, HostFacts* facts,
               std::string* error) {
  std::string fault;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--break" && i + 1 < args.size()) {
      fault = args[++i];
    } else {
      *error = "unknown argument \"" + args[i] + "\" (--break PROMISE)";
      return false;
    }
  }
  if (!toyhost::Break(fault)) {
    *error = "no fault for \"" + fault + "\"";
    return false;
  }
  *facts = toyhost::Facts();
  return true;
}

}  // namespace hostcheck

using toyhost::Broken;

extern "C" {

grpc::ServerBuilder* GRPC_GetServerBuilder() {
  static auto* own = new grpc::ServerBuilder();  // lives as long as the host
  if (Broken("builder")) return nullptr;
  return toyhost::g_builder != nullptr ? toyhost::g_builder : own;
}

uint16_t GRPC_SESSION_IsExisting(const char* token) {
  if (Broken("session.dead")) return 1;
  const bool live = token != nullptr && std::strcmp(token, toyhost::kLiveToken) == 0;
  if (live && Broken("session.live")) return 2;
  return live ? 1 : 0;
}

uint16_t GRPC_CheckValueOfPara(const char*, const char* path, const char* text,
                               uint32_t errorSize, char* errorText) {
  const char* reason = toyhost::Judge(path, text);
  if (reason == nullptr) return Broken("check.accept") ? 2 : 1;
  if (Broken("check.reject")) return 1;
  toyhost::WriteReason(reason, errorSize, errorText);
  return 0;
}

char* GRPC_AdapterGet2Quorvex(tagGrpcTableOrRow* table, const char* module,
                              const char*) {
  if (table == nullptr || table->regNode == nullptr) return nullptr;
  if (Broken("adapter.text")) {
    alignas(16) static char answer[] = " {}";
    return answer + 1;  // not a heap block
  }
  if (Broken("adapter.tree") && table->columnHead != nullptr) {
    table->columnHead->noValue ^= 1;
  }
  const std::string text = std::string("{\"module\":\"") + module +
                           "\",\"table\":\"" + table->regNode->name + "\"}";
  return strdup(text.c_str());
}

char** GRPC_Split_MassiveData(char* text, uint64_t* count) {
  *count = 0;
  if (text == nullptr) return nullptr;
  if (Broken("split.free")) {  // pieces point into the text, never freed
    auto** list = static_cast<char**>(std::malloc(2 * sizeof(char*)));
    list[0] = text;
    list[1] = text + std::strlen(text);
    *count = 1;
    return list;
  }
  char** list = toyhost::SplitOneBlock(text, count);
  if (list == nullptr) return nullptr;
  if (Broken("split.count")) --*count;
  if (Broken("split.pieces") && *count >= 3) std::swap(list[1], list[2]);
  return list;
}

tagZormRegNode* ZORM_GetRegTreeRoot() {
  return Broken("registry.root") ? nullptr : toyhost::g_root.get();
}

tagZormRegNode* ZORM_GetChildZormRegNode(tagZormRegNode* parent,
                                         const char* name) {
  return toyhost::Child(parent, name, false);
}

tagZormRegNode* ZORM_GetChildZormRegNodeIgnoreCase(tagZormRegNode* parent,
                                                   const char* name) {
  return toyhost::Child(parent, name, true);
}

int32_t ZORM_SetMorValue(const char* text, uint32_t length,
                         tagZormMorValue* value) {
  if (Broken("setter.length")) length = static_cast<uint32_t>(std::strlen(text));
  char* copy = static_cast<char*>(std::malloc(length + 1));
  if (copy == nullptr) return -1;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  value->ptr = copy;
  return 0;
}

int32_t ZORM_IPV4_SetMorValue(const char* text, tagZormMorValue* value) {
  unsigned b[4];
  if (std::sscanf(text, "%u.%u.%u.%u", &b[0], &b[1], &b[2], &b[3]) != 4) {
    return -1;
  }
  for (int i = 0; i < 4; ++i) value->bytes[i] = static_cast<uint8_t>(b[i]);
  return 0;
}

const tagZormTypeInfo* ZORM_GetTypeInfo(uint32_t typeCode) {
  static const tagZormTypeInfo kInSlot{0, nullptr};
  static const tagZormTypeInfo kText{zorm_mor_value::kTypeString,
                                     toyhost::ReleaseText};
  static const tagZormTypeInfo kLeakyText{zorm_mor_value::kTypeString,
                                          toyhost::KeepText};
  static const tagZormTypeInfo kNumberFreed{zorm_mor_value::kTypeU64,
                                            toyhost::ReleaseText};
  switch (typeCode) {
    case zorm_mor_value::kTypeName:
      if (Broken("types.descriptor")) return nullptr;
      [[fallthrough]];
    case zorm_mor_value::kTypeString:
      return Broken("types.release") ? &kLeakyText : &kText;
    case zorm_mor_value::kTypeU64:
      return Broken("types.inline") ? &kNumberFreed : &kInSlot;
    default:
      return &kInSlot;
  }
}

}  // extern "C"
