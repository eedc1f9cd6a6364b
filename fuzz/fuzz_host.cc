#include "fuzz/fuzz_host.h"

#include <sanitizer/allocator_interface.h>
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <set>

#include "devhost/split.h"
#include "host/host_api.h"
#include "tree/tree.h"
#include "tree/tree_alloc.h"

struct tagZormRegNode {
  const char* name;
};

namespace fuzzhost {
namespace {

constexpr char kModule[] = "ACL";
constexpr uint32_t kErrorSize = 64;
constexpr uint32_t kMorPrefix = 0x0201;

// Session answers: mostly "exists"; else values that are not exactly 1.
constexpr uint16_t kSessionAnswers[] = {1, 1, 1, 1, 0, 2, 0x101, 0xFFFF};
// Value-check answers that refuse.
constexpr uint16_t kRefusals[] = {0, 2, 0x101, 0xFFFF};
constexpr const char* kPrivateSpellings[] = {"private", "PRIVATE", "Private",
                                             "pRIVATE"};

// Which registry lookup finds nothing (Script::registry, low 3 bits).
enum Missing { kNoRoot = 0, kNoPrivate = 1, kModuleLowerCase = 2,
               kTableLowerCase = 3 };

// Everything one call's host knows.
struct State {
  fuzzscript::Script script;
  std::string table;
  std::string token;
  Ledger ledger;
  tagZormRegNode root{"<root>"};
  tagZormRegNode privateNode{"private"};
  tagZormRegNode moduleNode{kModule};
  tagZormRegNode tableNode{""};
  const tagZormRegNode* lastFound = nullptr;  // the walk so far
  std::string accepted;  // the last accepted check text, until set
  bool acceptedPending = false;
  std::set<const void*> storage;  // live registry storage
};

State& S() {
  static State* state = new State();
  return *state;
}

// The adapter's text and the piece list, watched until freed.
const volatile void* watchedText = nullptr;
const volatile void* watchedList = nullptr;

void OnMalloc(const volatile void*, size_t) {}

void OnFree(const volatile void* block) {
  if (block == nullptr) return;
  if (block == watchedText) {
    watchedText = nullptr;
    S().ledger.textLive = false;
  }
  if (block == watchedList) {
    watchedList = nullptr;
    S().ledger.listLive = false;
  }
}

// FNV-1a over the seed and the given texts: the host's one source of
// choices.
uint32_t Hash(const char* a, const char* b = "") {
  uint32_t h = 2166136261u;
  auto mix = [&h](uint8_t byte) { h = (h ^ byte) * 16777619u; };
  for (int i = 0; i < 4; ++i) mix(static_cast<uint8_t>(S().script.seed >> 8 * i));
  for (const char* p = a; *p != '\0'; ++p) mix(static_cast<uint8_t>(*p));
  mix(0);
  for (const char* p = b; *p != '\0'; ++p) mix(static_cast<uint8_t>(*p));
  return h;
}

// A stream of bytes from a hash (xorshift).
struct Bytes {
  uint32_t x;
  uint8_t Next() {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return static_cast<uint8_t>(x);
  }
  // Never NUL.
  char Char() {
    static constexpr char kAlphabet[] = "abcXYZ019 -_{}:\"\\/%\x7f\x80\xc3\xa9\xff";
    return kAlphabet[Next() % (sizeof(kAlphabet) - 1)];
  }
};

void Require(bool ok, const char* what) {
  if (!ok) Fail(what);
}

void RequireRunning(const char* what) {
  if (S().ledger.stop != Stop::kNone) {
    Fail(std::string(what) + " after the call had failed");
  }
}

// Writes a reason into the zero-filled error buffer: up to its full 64
// bytes without a NUL, or a shorter text, sometimes with bytes after its
// NUL. Returns the reason as the module must report it.
std::string WriteReason(uint32_t hash, char* errorText) {
  Bytes bytes{hash | 1};
  const size_t length = bytes.Next() % 70;
  if (length >= kErrorSize) {
    for (uint32_t i = 0; i < kErrorSize; ++i) errorText[i] = bytes.Char();
    return std::string(errorText, kErrorSize);
  }
  for (size_t i = 0; i < length; ++i) errorText[i] = bytes.Char();
  if (bytes.Next() & 1) {  // text after the NUL is not the reason's
    for (size_t i = length + 1; i < kErrorSize; ++i) errorText[i] = bytes.Char();
  }
  return std::string(errorText, length);
}

// ---- The adapter's view of the tree ---------------------------------------

struct TreeCheck {
  int table = -1;  // the table byte all MOR IDs share

  void Columns(const tagGrpcColumn* head, const tagGrpcColumn* tail) {
    const tagGrpcColumn* last = nullptr;
    for (const tagGrpcColumn* c = head; c != nullptr; c = c->next) {
      Require(c->morId >> 16 == kMorPrefix, "MOR ID of another module");
      const int t = (c->morId >> 8) & 0xFF;
      Require(table < 0 || t == table, "MOR IDs of two tables in one tree");
      table = t;
      Require(c->noValue <= 1, "no-value flag neither 0 nor 1");
      for (uint8_t pad : c->padding) Require(pad == 0, "column padding set");
      if (c->noValue == 1) {
        Require(c->typeCode == 0 && c->value.u64 == 0,
                "no-value record with a type or a value");
      } else {
        Value(*c);
      }
      last = c;
    }
    Require(last == tail, "column list tail is not its last record");
  }

  void Value(const tagGrpcColumn& c) {
    switch (c.typeCode) {
      case zorm_mor_value::kTypeU32:
      case zorm_mor_value::kTypeBool:
        Require(c.value.u64 >> 32 == 0, "32-bit value with high bytes set");
        break;
      case zorm_mor_value::kTypeMAC:
        Require(c.value.u64 >> 48 == 0, "MAC value with bytes 6-7 set");
        break;
      case zorm_mor_value::kTypeU64:
        break;
      case zorm_mor_value::kTypeIPv4:
      case zorm_mor_value::kTypeString:
      case zorm_mor_value::kTypeName:
        Require(c.value.ptr == nullptr || S().storage.count(c.value.ptr),
                "string slot not holding the registry's storage");
        break;
      default:
        Fail("unknown MOR type code " + std::to_string(c.typeCode));
    }
  }

  void SubEntries(const tagGrpcSubEntry* head, const tagGrpcSubEntry* tail) {
    const tagGrpcSubEntry* last = nullptr;
    for (const tagGrpcSubEntry* e = head; e != nullptr; e = e->next) {
      Require(e->name != nullptr && std::strlen(e->name) > 0,
              "sub-entry without a name");
      Columns(e->columnHead, e->columnTail);
      last = e;
    }
    Require(last == tail, "sub-entry list tail is not its last entry");
  }

  void Node(const tagGrpcTableOrRow* node) {
    Require(node->regNode == &S().tableNode, "node without its table's node");
    Columns(node->columnHead, node->columnTail);
    SubEntries(node->subHead, node->subTail);
  }

  void Table(const tagGrpcTableOrRow* table) {
    Require(table != nullptr, "adapter given no tree");
    Require(table->kind == zorm_mor_value::kTableNode && table->next == nullptr,
            "tree root is not a lone table node");
    Node(table);
    for (const tagGrpcTableOrRow* row = table->firstRow; row != nullptr;
         row = row->next) {
      Require(row->kind == zorm_mor_value::kRowNode && row->firstRow == nullptr,
              "row is not a row node");
      Node(row);
    }
  }
};

// ---- Registry storage ---------------------------------------------------

void Release(void* value) {
  Require(value != nullptr, "release function called with null");
  Require(S().storage.erase(value) == 1, "release of storage not live");
  --S().ledger.liveStorage;
  std::free(value);
}

const tagZormTypeInfo kInSlot[] = {
    {zorm_mor_value::kTypeU32, nullptr}, {zorm_mor_value::kTypeU64, nullptr},
    {zorm_mor_value::kTypeMAC, nullptr}, {zorm_mor_value::kTypeBool, nullptr}};
const tagZormTypeInfo kStored[] = {{zorm_mor_value::kTypeIPv4, Release},
                                   {zorm_mor_value::kTypeString, Release},
                                   {zorm_mor_value::kTypeName, Release}};

// A setter's value: the text the check accepted, kept as storage unless
// the script makes the setter fail.
int32_t Store(const char* text, size_t length, tagZormMorValue* value) {
  State& s = S();
  RequireRunning("setter");
  Require(s.acceptedPending, "setter without an accepted check");
  Require(std::strncmp(text, s.accepted.c_str(), length) == 0 &&
              std::strlen(s.accepted.c_str()) <= length,
          "setter given another text than the check");
  s.acceptedPending = false;
  Require(value->ptr == nullptr, "setter given a used slot");
  if ((Hash("set", s.accepted.c_str()) & 0xFF) < s.script.setterFails) {
    return -1;
  }
  void* kept = std::malloc(length + 1);
  std::memcpy(kept, text, length);
  static_cast<char*>(kept)[length] = '\0';
  value->ptr = kept;
  s.storage.insert(kept);
  ++s.ledger.liveStorage;
  return 0;
}

}  // namespace

void Begin(const fuzzscript::Script& script, const std::string& table,
           const std::string& token) {
  static bool hooked = [] {
    return __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
  }();
  Require(hooked, "free hook not installed");
  State& s = S();
  s.script = script;
  s.table = table;
  s.token = token;
  s.ledger = Ledger();
  s.privateNode.name = kPrivateSpellings[(script.registry >> 3) & 0x3];
  s.tableNode.name = s.table.c_str();
  s.lastFound = nullptr;
  s.accepted.clear();
  s.acceptedPending = false;
  s.storage.clear();
  watchedText = watchedList = nullptr;
}

const Ledger& Seen() { return S().ledger; }

void Fail(const std::string& what) {
  std::fprintf(stderr, "\n*** broken rule: %s\n", what.c_str());
  std::abort();
}

}  // namespace fuzzhost

using fuzzhost::Fail;
using fuzzhost::S;

// ---- The tree allocator --------------------------------------------------

namespace zorm_mor_value {

void* TreeCalloc(std::size_t size) {
  fuzzhost::RequireRunning("tree allocation");
  fuzzhost::Ledger& ledger = S().ledger;
  if (++ledger.allocations == S().script.failAt) {
    ledger.stop = fuzzhost::Stop::kOutOfMemory;
    return nullptr;
  }
  void* block = std::calloc(1, size);
  ++ledger.liveRecords;
  return block;
}

void TreeFree(void* block) {
  if (block != nullptr) --S().ledger.liveRecords;
  std::free(block);
}

}  // namespace zorm_mor_value

// ---- Host and registry operations ---------------------------------------

extern "C" {

grpc::ServerBuilder* GRPC_GetServerBuilder() {
  Fail("server builder asked for during a call");
}

uint16_t GRPC_SESSION_IsExisting(const char* token) {
  fuzzhost::State& s = S();
  fuzzhost::Require(s.ledger.sessionChecks++ == 0, "session checked twice");
  fuzzhost::Require(token != nullptr && s.token == token,
                    "session check given another token");
  s.ledger.sessionAnswer =
      fuzzhost::kSessionAnswers[s.script.session %
                                std::size(fuzzhost::kSessionAnswers)];
  return s.ledger.sessionAnswer;
}

uint16_t GRPC_CheckValueOfPara(const char* token, const char* path,
                               const char* text, uint32_t errorSize,
                               char* errorText) {
  fuzzhost::State& s = S();
  fuzzhost::RequireRunning("value check");
  fuzzhost::Require(s.ledger.tableFound, "value check before the walk");
  fuzzhost::Require(s.token == token, "value check given another token");
  const std::string prefix = std::string(fuzzhost::kModule) + "/" + s.table + "/";
  fuzzhost::Require(std::strncmp(path, prefix.c_str(), prefix.size()) == 0,
                    "column path outside the table");
  fuzzhost::Require(errorSize == fuzzhost::kErrorSize, "error buffer size");
  for (uint32_t i = 0; i < errorSize; ++i) {
    fuzzhost::Require(errorText[i] == 0, "error buffer not zero-filled");
  }
  const uint32_t hash = fuzzhost::Hash(path, text);
  if ((hash & 0xFF) >= s.script.rejectBelow) {
    s.accepted = text;
    s.acceptedPending = true;
    return 1;
  }
  s.ledger.stop = fuzzhost::Stop::kRejected;
  s.ledger.rejectedPath = path;
  s.ledger.reason = fuzzhost::WriteReason(hash >> 8, errorText);
  return fuzzhost::kRefusals[(hash >> 8) % std::size(fuzzhost::kRefusals)];
}

char* GRPC_AdapterGet2Quorvex(tagGrpcTableOrRow* table, const char* module,
                              const char* token) {
  fuzzhost::State& s = S();
  fuzzhost::Ledger& ledger = s.ledger;
  fuzzhost::RequireRunning("adapter");
  fuzzhost::Require(ledger.adapterCalls++ == 0, "adapter called twice");
  fuzzhost::Require(std::strcmp(module, fuzzhost::kModule) == 0,
                    "adapter given another module");
  fuzzhost::Require(s.token == token, "adapter given another token");
  fuzzhost::TreeCheck().Table(table);
  if (s.script.adapter == 0) {
    ledger.adapterNull = true;
    return nullptr;
  }
  fuzzhost::Bytes bytes{fuzzhost::Hash("adapter") | 1};
  const size_t length = s.script.adapter == 1 ? 0 : s.script.adapter - 2u;
  for (size_t i = 0; i < length; ++i) ledger.adapterText += bytes.Char();
  char* text = strdup(ledger.adapterText.c_str());
  fuzzhost::watchedText = text;
  ledger.textLive = true;
  return text;
}

char** GRPC_Split_MassiveData(char* text, uint64_t* count) {
  fuzzhost::State& s = S();
  fuzzhost::Ledger& ledger = s.ledger;
  fuzzhost::Require(ledger.textLive && text == fuzzhost::watchedText,
                    "split given another text than the adapter's");
  fuzzhost::Require(ledger.pieces.empty() && !ledger.splitNull,
                    "split called twice");
  char** list = nullptr;
  switch (s.script.split_mode()) {
    case fuzzscript::SplitMode::kNull:
      std::free(text);
      *count = 0;
      ledger.splitNull = true;
      return nullptr;
    case fuzzscript::SplitMode::kZeroPieces:
      std::free(text);
      *count = 0;
      list = static_cast<char**>(std::calloc(1, sizeof(char*)));
      break;
    case fuzzscript::SplitMode::kPieces:
      list = devhost::SplitText(text, s.script.piece_size(), count);
      for (uint64_t i = 1; i <= *count; ++i) {
        ledger.pieces.emplace_back(list[i - 1], list[i] - list[i - 1]);
      }
      break;
  }
  fuzzhost::watchedList = list;
  ledger.listLive = true;
  return list;
}

tagZormRegNode* ZORM_GetRegTreeRoot() {
  fuzzhost::State& s = S();
  fuzzhost::Require(s.lastFound == nullptr, "registry walked twice");
  if ((s.script.registry & 0x7) == fuzzhost::kNoRoot) return nullptr;
  s.lastFound = &s.root;
  return &s.root;
}

tagZormRegNode* ZORM_GetChildZormRegNodeIgnoreCase(tagZormRegNode* parent,
                                                   const char* name) {
  fuzzhost::State& s = S();
  fuzzhost::Require(parent == &s.root && s.lastFound == &s.root,
                    "case-blind lookup below another node than the root");
  if ((s.script.registry & 0x7) == fuzzhost::kNoPrivate ||
      strcasecmp(name, s.privateNode.name) != 0) {
    return nullptr;
  }
  s.lastFound = &s.privateNode;
  return &s.privateNode;
}

tagZormRegNode* ZORM_GetChildZormRegNode(tagZormRegNode* parent,
                                         const char* name) {
  fuzzhost::State& s = S();
  const int missing = s.script.registry & 0x7;
  fuzzhost::Require(parent == s.lastFound, "lookup below a node not found last");
  if (parent == &s.privateNode) {
    if (missing == fuzzhost::kModuleLowerCase ||
        std::strcmp(name, fuzzhost::kModule) != 0) {
      return nullptr;
    }
    s.lastFound = &s.moduleNode;
    return &s.moduleNode;
  }
  fuzzhost::Require(parent == &s.moduleNode,
                    "exact lookup below the root or the table");
  fuzzhost::Require(s.table == name, "the method's table is not asked for");
  if (missing == fuzzhost::kTableLowerCase) return nullptr;
  s.ledger.tableFound = true;
  s.lastFound = &s.tableNode;
  return &s.tableNode;
}

int32_t ZORM_SetMorValue(const char* text, uint32_t length,
                         tagZormMorValue* value) {
  return fuzzhost::Store(text, length, value);
}

int32_t ZORM_IPV4_SetMorValue(const char* text, tagZormMorValue* value) {
  return fuzzhost::Store(text, std::strlen(text), value);
}

const tagZormTypeInfo* ZORM_GetTypeInfo(uint32_t typeCode) {
  fuzzhost::Require(typeCode != 0, "type asked for a no-value record");
  for (const tagZormTypeInfo& info : fuzzhost::kInSlot) {
    if (info.typeCode == typeCode) return &info;
  }
  for (const tagZormTypeInfo& info : fuzzhost::kStored) {
    if (info.typeCode == typeCode) return &info;
  }
  Fail("type asked for an unknown code " + std::to_string(typeCode));
}

}  // extern "C"
