#include "testsupport/scripted_host.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "devhost/split.h"
#include "devhost/values.h"
#include "tree/tree.h"
#include "tree/tree_alloc.h"

// The sanitizers' free hook, when one is linked: it tells when the module
// frees the adapter's text or the piece list.
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*)(const volatile void*, size_t), void (*)(const volatile void*))
    __attribute__((weak));

namespace scripted {
namespace {

namespace mv = zorm_mor_value;

constexpr char kModule[] = "ACL";
constexpr uint32_t kErrorSize = 64;
constexpr uint16_t kRefusals[] = {0, 2, 0x101, 0xFFFF};  // never exactly 1

// A registry node, handed out as tagZormRegNode (whose layout is every
// host's own: the development host's may be linked in the same program).
// Any table name is found, as the call's one table: that the module asks
// for the right names, the registry and hostile-host tests prove.
struct RegNode {
  int depth;  // 0 root, 1 private, 2 module, 3 the table
};
constexpr RegNode nodes[] = {{0}, {1}, {2}, {3}};

tagZormRegNode* Handle(const RegNode* node) {
  return reinterpret_cast<tagZormRegNode*>(const_cast<RegNode*>(node));
}

// What the running call has done, for the per-call rules.
struct Call {
  std::string token;
  const RegNode* lastFound = nullptr;  // the walk so far
  const RegNode* table = nullptr;
  std::string tableName;
  // The last accepted check's text, until set.
  std::optional<std::string> accepted;
  const char* answer = nullptr;  // the adapter's text
  bool split = false;
};

bool acceptAll = false;         // read without a lock
Call call;                      // guarded by TheHost().mu
std::set<const void*> storage;  // live registry storage; guarded likewise
std::atomic<const volatile void*> watchedText{nullptr}, watchedList{nullptr};
bool watching = false;

Host& H() { return TheHost(); }

// REQUIRES (of both): the lock is held.
void Breach(const std::string& what) {
  if (H().config.abortOnBreach) {
    std::fprintf(stderr, "\n*** broken rule: %s\n", what.c_str());
    std::abort();
  }
  H().record.breaches.push_back(what);
}
void Require(bool ok, const char* what) {
  if (!ok) Breach(what);
}
void RequireRunning(const char* what) {
  if (H().record.stop != Stop::kNone) {
    Breach(std::string(what) + " after the call had failed");
  }
}

void OnMalloc(const volatile void*, size_t) {}
void OnFree(const volatile void* block) {  // inside free(): atomics only
  for (auto* watched : {&watchedText, &watchedList}) {
    const volatile void* expected = block;
    if (block != nullptr) watched->compare_exchange_strong(expected, nullptr);
  }
}

// FNV-1a over the seed and the given texts: the source of every choice.
uint32_t Hash(const char* a, const char* b = "") {
  uint32_t h = 2166136261u;
  auto mix = [&h](uint8_t byte) { h = (h ^ byte) * 16777619u; };
  for (int i = 0; i < 4; ++i) mix(uint8_t(H().config.seed >> 8 * i));
  for (const char* p = a; *p != '\0'; ++p) mix(uint8_t(*p));
  mix(0);
  for (const char* p = b; *p != '\0'; ++p) mix(uint8_t(*p));
  return h;
}

// Writes a reason from `hash` into the zero-filled error buffer: all its 64
// bytes without a NUL, or a shorter text, sometimes with bytes after its NUL
// (not part of the reason).
void WriteReason(uint32_t hash, char* errorText) {
  const std::string noise = Noise(hash, kErrorSize);
  const size_t length = std::min<size_t>(hash % 70, kErrorSize);
  const bool trailing = length < kErrorSize && (hash >> 8 & 1);
  std::memcpy(errorText, noise.data(), trailing ? kErrorSize : length);
  if (trailing) errorText[length] = '\0';
}

// ---- The adapter's tree: checked (a lone table node and its rows, all of
// the table found; every column of that one table and well formed; lists
// whose tails are their last elements) and put in short (Record::trees).

std::string ValueText(const tagGrpcColumn& c) {
  switch (c.typeCode) {
    case mv::kTypeU64:
      return std::to_string(c.value.u64);
    case mv::kTypeIPv4:
      if (H().config.ipv4InSlot) return '"' + devhost::IPv4Of(c.value) + '"';
      [[fallthrough]];
    case mv::kTypeString:
    case mv::kTypeName:
      return '"' + std::string(devhost::TextOf(c.value)) + '"';
    case mv::kTypeMAC:
      return '"' + devhost::MACOf(c.value) + '"';
    default:
      return std::to_string(c.value.u32);
  }
}

// Checks the column list from `c` and appends it to `out`; `table` is the
// table byte of the columns so far (-1: none yet).
void Columns(const tagGrpcColumn* c, const tagGrpcColumn* tail, int* table,
             std::string* out) {
  const tagGrpcColumn* last = nullptr;
  char hex[8];
  *out += "[";
  for (const char* sep = ""; c != nullptr; last = c, c = c->next, sep = " ") {
    const int t = (c->morId >> 8) & 0xFF;
    Require(c->morId >> 16 == 0x0201 && (*table < 0 || t == *table),
            "MOR ID of another module or table");
    *table = t;
    std::snprintf(hex, sizeof(hex), "%s%02x", sep, c->morId & 0xFF);
    *out += hex;
    Require(c->noValue <= 1 &&
                std::all_of(std::begin(c->padding), std::end(c->padding),
                            [](uint8_t b) { return b == 0; }),
            "no-value flag or padding set wrongly");
    if (c->noValue == 1) {
      Require(c->typeCode == 0 && c->value.u64 == 0,
              "no-value record with a type or a value");
      continue;
    }
    switch (c->typeCode) {
      case mv::kTypeU32:
      case mv::kTypeBool:
        Require(c->value.u64 >> 32 == 0, "32-bit value with high bytes set");
        break;
      case mv::kTypeMAC:
        Require(c->value.u64 >> 48 == 0, "MAC value with bytes 6-7 set");
        break;
      case mv::kTypeU64:
        break;
      case mv::kTypeIPv4:
        if (H().config.ipv4InSlot) break;
        [[fallthrough]];
      case mv::kTypeString:
      case mv::kTypeName:
        Require(c->value.ptr == nullptr || storage.count(c->value.ptr),
                "string slot not holding the registry's storage");
        break;
      default:
        Breach("unknown MOR type code " + std::to_string(c->typeCode));
    }
    *out += ":" + std::to_string(c->typeCode) + "=" + ValueText(*c);
  }
  *out += "]";
  Require(last == tail, "column list tail is not its last record");
}

void Node(const tagGrpcTableOrRow* node, int* table, std::string* out) {
  Require(node->regNode == Handle(call.table), "node of another table");
  Columns(node->columnHead, node->columnTail, table, out);
  *out += "{";
  const tagGrpcSubEntry* last = nullptr;
  for (auto* e = node->subHead; e != nullptr; last = e, e = e->next) {
    Require(e->name != nullptr && e->name[0] != '\0', "sub-entry unnamed");
    *out += std::string(last == nullptr ? "" : " ") + (e->name ? e->name : "");
    Columns(e->columnHead, e->columnTail, table, out);
  }
  *out += "}";
  Require(last == node->subTail, "sub-entry list tail is not its last entry");
}

// The checked tree in short; empty for no tree.
std::string Tree(const tagGrpcTableOrRow* top) {
  Require(top != nullptr && top->kind == mv::kTableNode && top->next == nullptr,
          "tree root is not a lone table node");
  if (top == nullptr) return "";
  int table = -1;
  std::string body = "T";
  Node(top, &table, &body);
  for (auto* row = top->firstRow; row != nullptr; row = row->next) {
    Require(row->kind == mv::kRowNode && row->firstRow == nullptr,
            "row is not a row node");
    body += " R";
    Node(row, &table, &body);
  }
  char hex[4];
  std::snprintf(hex, sizeof(hex), "%02x", table & 0xFF);
  return (table < 0 ? "--" : hex) + (" " + body);
}

// ---- Registry ---------------------------------------------------------------

// The child of `parent` named `name` under the configuration, or null.
const RegNode* Child(const RegNode* parent, const char* name, bool anyCase) {
  const Config& c = H().config;
  auto match = [&](const std::string& want) {
    return anyCase ? strcasecmp(name, want.c_str()) == 0 : want == name;
  };
  if (parent->depth == 0) return match(c.privateName) ? &nodes[1] : nullptr;
  if (parent->depth == 1) return match(c.moduleName) ? &nodes[2] : nullptr;
  Require(parent->depth == 2, "lookup below the table");
  Require(c.table.empty() || c.table == name, "another table asked for");
  if (c.missingTables.count(name)) return nullptr;
  call.tableName = name;
  return &nodes[3];
}

tagZormRegNode* FindChild(tagZormRegNode* handle, const char* name,
                          bool anyCase) {
  if (acceptAll) return handle;
  const auto* parent = reinterpret_cast<const RegNode*>(handle);
  std::lock_guard<std::mutex> lock(H().mu);
  H().record.lookups.push_back(name);
  Require(parent != nullptr && parent == call.lastFound,
          "lookup below a node not found last");
  if (parent == nullptr) return nullptr;
  Require(anyCase == (parent->depth == 0),
          anyCase ? "case-blind lookup below another node than the root"
                  : "exact lookup below the root");
  const RegNode* child = Child(parent, name, anyCase);
  if (child == nullptr) return nullptr;
  call.lastFound = child;
  if (child->depth == 3) {
    call.table = child;
    H().record.tableFound = true;
  }
  return Handle(child);
}

// ---- Registry storage -------------------------------------------------------

void Release(void* value) {
  {
    std::lock_guard<std::mutex> lock(H().mu);
    const bool live = storage.erase(value) == 1;
    Require(live, "release of storage not live, or of null");
    H().record.liveValues -= live;
  }
  std::free(value);
}

const tagZormTypeInfo kStored[] = {{mv::kTypeIPv4, Release},
                                   {mv::kTypeString, Release},
                                   {mv::kTypeName, Release}};

// A setter: the text the check accepted, kept as storage (or an IPv4
// address in the slot) unless the setter is made to fail.
int32_t Store(const char* text, size_t length, tagZormMorValue* value,
              bool ipv4) {
  if (acceptAll) return 0;
  std::lock_guard<std::mutex> lock(H().mu);
  RequireRunning("setter");
  Require(call.accepted.has_value(), "setter without an accepted check");
  const std::string accepted = call.accepted.value_or("");
  Require(std::strncmp(text, accepted.c_str(), length) == 0 &&
              accepted.size() <= length,
          "setter given another text than the check");
  call.accepted.reset();
  if ((Hash("set", accepted.c_str()) & 0xFF) < H().config.setterFails) {
    return -1;
  }
  if (ipv4 && H().config.ipv4InSlot) return devhost::SetIPv4(text, value);
  Require(value->ptr == nullptr, "setter given a used slot");
  const int32_t r = devhost::SetText(text, uint32_t(length), value);
  if (r == 0) {
    storage.insert(value->ptr);
    ++H().record.liveValues;
  }
  return r;
}

}  // namespace

std::string Noise(uint32_t seed, size_t length) {
  static constexpr char kAlphabet[] =
      "abcXYZ019 -_{}:\"\\/%\x7f\x80\xc3\xa9\xff";
  std::string text(length, ' ');
  uint32_t x = seed | 1;
  for (char& c : text) {  // xorshift
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = kAlphabet[x % (sizeof(kAlphabet) - 1)];
  }
  return text;
}

Host& TheHost() {
  static Host* host = new Host();  // never destroyed: threads may outlive
  return *host;
}

void Reset() {
  if (!watching && __sanitizer_install_malloc_and_free_hooks != nullptr) {
    watching = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
  }
  std::lock_guard<std::mutex> lock(H().mu);
  H().config = Config();
  H().record = Record();
  call = Call();
  watchedText = watchedList = nullptr;
}

Record Snapshot() {
  std::lock_guard<std::mutex> lock(H().mu);
  Record r = H().record;
  r.textLive = watchedText != nullptr;
  r.listLive = watchedList != nullptr;
  return r;
}

void SetAcceptAll(bool on) { acceptAll = on; }

}  // namespace scripted

using namespace scripted;  // NOLINT: the operations below are its own

// Weak: a program that links the module's own allocator
// (tree/tree_alloc_default.cc), as the benchmark does, gets that one.
namespace zorm_mor_value {

[[gnu::weak]] void* TreeCalloc(std::size_t size) {
  if (acceptAll) return std::calloc(1, size);
  std::lock_guard<std::mutex> lock(H().mu);
  RequireRunning("tree allocation");
  if (++H().record.allocations == H().config.failAt) {
    H().record.stop = Stop::kOutOfMemory;
    return nullptr;
  }
  void* block = std::calloc(1, size);
  H().record.liveRecords += block != nullptr;
  return block;
}

[[gnu::weak]] void TreeFree(void* block) {
  if (!acceptAll && block != nullptr) {
    std::lock_guard<std::mutex> lock(H().mu);
    --H().record.liveRecords;
  }
  std::free(block);
}

}  // namespace zorm_mor_value

// The two operations called for every valued column: their recording paths
// apart, so that in accept-all mode each costs a test and a return, as a
// host's own answer would, and the benchmark's builder-to-floor ratio counts
// none of the recording's set-up.
namespace {

[[gnu::noinline]] uint16_t CheckValue(const char* token, const char* path,
                                      const char* text, uint32_t errorSize,
                                      char* errorText) {
  std::lock_guard<std::mutex> lock(H().mu);
  const Config& c = H().config;
  Record& r = H().record;
  RequireRunning("value check");
  Require(r.tableFound && call.token == token,
          "value check before the walk, or given another token");
  const std::string prefix =
      std::string(kModule) + "/" + (call.table ? call.tableName : "?") + "/";
  Require(std::strncmp(path, prefix.c_str(), prefix.size()) == 0,
          "column path outside the table");
  Require(
      errorSize == kErrorSize && std::all_of(errorText, errorText + errorSize,
                                             [](char b) { return b == 0; }),
      "error buffer not 64 zero bytes");
  r.checks.push_back({token, path, text});
  std::optional<uint16_t> refusal;
  if (r.checks.size() == c.rejectNth) {
    std::strncpy(errorText, kNthReason, errorSize);
    refusal = 0;
  }
  const uint32_t hash = Hash(path, text);
  if (!refusal && (hash & 0xFF) < c.rejectBelow) {
    WriteReason(hash >> 8, errorText);
    refusal = kRefusals[(hash >> 8) % std::size(kRefusals)];
  }
  if (!refusal) {
    call.accepted = text;
    return 1;
  }
  r.stop = Stop::kRejected;
  r.rejectedPath = path;
  r.reason.assign(errorText, strnlen(errorText, errorSize));
  return *refusal;
}

[[gnu::noinline]] const tagZormTypeInfo* TypeInfoOf(uint32_t typeCode) {
  const tagZormTypeInfo* info = devhost::TypeInfo(typeCode);
  std::lock_guard<std::mutex> lock(H().mu);
  if (typeCode == 0 || info->typeCode == 0) {
    Breach("type asked for code " + std::to_string(typeCode));
  }
  for (const tagZormTypeInfo& stored : kStored) {
    if (stored.typeCode == typeCode &&
        (typeCode != mv::kTypeIPv4 || !H().config.ipv4InSlot)) {
      return &stored;
    }
  }
  return info;
}

}  // namespace

extern "C" {

grpc::ServerBuilder* GRPC_GetServerBuilder() {
  if (acceptAll) return H().config.builder;
  std::lock_guard<std::mutex> lock(H().mu);
  ++H().record.builderCalls;
  return H().config.builder;
}

uint16_t GRPC_SESSION_IsExisting(const char* token) {
  if (acceptAll) return 1;
  std::lock_guard<std::mutex> lock(H().mu);
  Record& r = H().record;
  call = Call();  // a new call
  call.token = token;
  r.stop = Stop::kNone;
  r.tableFound = r.adapterNull = false;
  r.sessions.push_back(token);
  return H().config.sessionResult;
}

uint16_t GRPC_CheckValueOfPara(const char* token, const char* path,
                               const char* text, uint32_t errorSize,
                               char* errorText) {
  return acceptAll ? 1 : CheckValue(token, path, text, errorSize, errorText);
}

char* GRPC_AdapterGet2Quorvex(tagGrpcTableOrRow* table, const char* module,
                              const char* token) {
  const Config& c = H().config;
  if (acceptAll) return c.answer ? strdup(c.answer->c_str()) : nullptr;
  std::lock_guard<std::mutex> lock(H().mu);
  Record& r = H().record;
  RequireRunning("adapter");
  Require(call.answer == nullptr && !r.adapterNull, "adapter called twice");
  Require(std::strcmp(module, kModule) == 0 && call.token == token,
          "adapter given another module or token");
  const std::string tree = Tree(table);
  ++r.adapterCalls;
  if (table != nullptr) r.trees.push_back(tree);
  r.adapterNull = !c.answer;
  if (!c.answer) return nullptr;
  char* text = strdup(c.answer->c_str());
  call.answer = text;
  if (watching) watchedText = text;
  return text;
}

char** GRPC_Split_MassiveData(char* text, uint64_t* count) {
  const Config& c = H().config;
  if (acceptAll) return devhost::SplitText(text, c.splitBytes, count);
  std::lock_guard<std::mutex> lock(H().mu);
  Record& r = H().record;
  Require(text != nullptr && text == call.answer && !call.split,
          "split given another text than the adapter's, or twice");
  call.split = true;
  watchedText = nullptr;  // the split's now
  char** list = nullptr;
  if (c.split == SplitMode::kPieces) {
    list = devhost::SplitText(text, c.splitBytes, count);
  } else {
    std::free(text);
    *count = 0;
    if (c.split == SplitMode::kZeroPieces) {
      list = static_cast<char**>(std::calloc(1, sizeof(char*)));
    }
  }
  r.pieces.clear();
  for (uint64_t i = 1; list != nullptr && i <= *count; ++i) {
    r.pieces.emplace_back(list[i - 1], list[i] - list[i - 1]);
  }
  if (watching) watchedList = list;
  return list;
}

tagZormRegNode* ZORM_GetRegTreeRoot() {
  if (acceptAll) return Handle(&nodes[0]);
  std::lock_guard<std::mutex> lock(H().mu);
  H().record.lookups.push_back("<root>");
  Require(call.lastFound == nullptr, "registry walked twice");
  if (H().config.noRoot) return nullptr;
  call.lastFound = &nodes[0];
  return Handle(&nodes[0]);
}

tagZormRegNode* ZORM_GetChildZormRegNode(tagZormRegNode* parent,
                                         const char* name) {
  return FindChild(parent, name, false);
}

tagZormRegNode* ZORM_GetChildZormRegNodeIgnoreCase(tagZormRegNode* parent,
                                                   const char* name) {
  return FindChild(parent, name, true);
}

int32_t ZORM_SetMorValue(const char* text, uint32_t length,
                         tagZormMorValue* value) {
  return Store(text, length, value, false);
}

int32_t ZORM_IPV4_SetMorValue(const char* text, tagZormMorValue* value) {
  return acceptAll ? 0 : Store(text, std::strlen(text), value, true);
}

const tagZormTypeInfo* ZORM_GetTypeInfo(uint32_t typeCode) {
  static constexpr tagZormTypeInfo kNoRelease{0, nullptr};
  // Accept-all: setters store nothing.
  return acceptAll ? &kNoRelease : TypeInfoOf(typeCode);
}

}  // extern "C"
