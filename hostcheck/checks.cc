#include "hostcheck/checks.h"

#include <malloc.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "host/host_api.h"
#include "hostcheck/host_calls.h"
#include "tree/tree.h"

namespace hostcheck {
namespace {

using zorm_mor_value::NodePtr;

constexpr char kModule[] = "ACL";
constexpr char kBase[] = "Base";
constexpr char kRules[] = "IPv4BasicRules";
constexpr size_t kLongText = 20000;  // an answer worth several pieces
constexpr size_t kShortText = 4096;
constexpr int kWarmUp = 50;          // calls before the heap is measured
constexpr size_t kLeakPerCall = 4;   // more growth per call is a leak

// The type codes the module uses; the value of an in-slot type lives in the
// slot itself, so the type must have no release function.
struct TypeCase {
  uint32_t code;
  const char* name;
  bool inSlot;
};
constexpr TypeCase kTypes[] = {
    {zorm_mor_value::kTypeU32, "unsigned 32-bit", true},
    {zorm_mor_value::kTypeIPv4, "IPv4 address", false},
    {zorm_mor_value::kTypeString, "string", false},
    {zorm_mor_value::kTypeU64, "unsigned 64-bit", true},
    {zorm_mor_value::kTypeMAC, "MAC address", true},
    {zorm_mor_value::kTypeBool, "boolean", true},
    {zorm_mor_value::kTypeName, "name", false},
};

struct FreeDeleter {
  void operator()(void* block) const { std::free(block); }
};
using HeapText = std::unique_ptr<char, FreeDeleter>;

std::string Call(const Value& v) {
  return "GRPC_CheckValueOfPara(" + Quote(v.path) + ", " + Quote(v.text) + ")";
}

// "[0,1,2,...]" cut to `size` bytes: a text whose every stretch differs.
std::string MakeText(size_t size) {
  std::string text = "[";
  for (int i = 0; text.size() < size; ++i) text += std::to_string(i) + ",";
  text.resize(size);
  return text;
}

HeapText HeapCopy(const std::string& text) {
  HeapText copy(static_cast<char*>(std::malloc(text.size() + 1)));
  if (copy) std::memcpy(copy.get(), text.c_str(), text.size() + 1);
  return copy;
}

// Heap growth over `cycles` calls of `step` (after a warm-up), or 0 when it
// stays within what allocator caches explain.
size_t Growth(int cycles, const std::function<void()>& step) {
  for (int i = 0; i < kWarmUp; ++i) step();
  const size_t before = HeapInUse();
  for (int i = 0; i < cycles; ++i) step();
  const size_t after = HeapInUse();
  const size_t grown = after > before ? after - before : 0;
  return grown > static_cast<size_t>(cycles) * kLeakPerCall ? grown : 0;
}

std::string Grew(size_t bytes, int cycles, const std::string& what) {
  return "the heap grew by " + std::to_string(bytes) + " bytes over " +
         std::to_string(cycles) + " " + what;
}

// ---- Builder and sessions -------------------------------------------------

Verdict CheckBuilder(const HostFacts&, const Options&) {
  Note("calling GRPC_GetServerBuilder()");
  if (GRPC_GetServerBuilder() == nullptr) {
    return Broken("GRPC_GetServerBuilder() returned null: the module has "
                  "nothing to register its service with");
  }
  return Kept();
}

uint16_t Session(const std::string& token) {
  Note("calling GRPC_SESSION_IsExisting(" + Quote(token) + ")");
  return GRPC_SESSION_IsExisting(token.c_str());
}

Verdict CheckLiveSession(const HostFacts& f, const Options&) {
  if (f.liveToken.empty()) return NotChecked("the host named no live session");
  const uint16_t r = Session(f.liveToken);
  if (r != 1) {
    return Broken("GRPC_SESSION_IsExisting(" + Quote(f.liveToken) +
                  ") returned " + std::to_string(r) +
                  ", not 1: the module refuses every call of that session");
  }
  return Kept();
}

Verdict CheckDeadSession(const HostFacts& f, const Options&) {
  for (const std::string& token : {f.deadToken, std::string()}) {
    if (Session(token) == 1) {
      return Broken("GRPC_SESSION_IsExisting(" + Quote(token) +
                    ") returned 1 for a token that is no session");
    }
  }
  return Kept();
}

// ---- Value checks ------------------------------------------------------

Verdict CheckAccepted(const HostFacts& f, const Options&) {
  if (f.accepted.empty()) return NotChecked("the host named no value it accepts");
  for (const Value& v : f.accepted) {
    const CheckAnswer a = CheckValue(f.liveToken, v);
    if (a.result != 1) {
      return Broken(Call(v) + " returned " + std::to_string(a.result) +
                    ", not 1, for a value the host accepts: only 1 accepts");
    }
  }
  return Kept();
}

Verdict CheckRejected(const HostFacts& f, const Options&) {
  if (f.rejected.empty()) return NotChecked("the host named no value it rejects");
  for (const Value& v : f.rejected) {
    if (CheckValue(f.liveToken, v).result == 1) {
      return Broken(Call(v) + " returned 1 for a value the host rejects");
    }
  }
  return Kept();
}

Verdict CheckReason(const HostFacts& f, const Options&) {
  if (f.rejected.empty()) return NotChecked("the host named no value it rejects");
  for (const Value& v : f.rejected) {
    const CheckAnswer a = CheckValue(f.liveToken, v);
    if (a.result != 1 && !a.terminated) {
      return Broken(Call(v) + " left no NUL within the 64-byte reason buffer");
    }
  }
  return Kept();
}

Verdict CheckBounds(const HostFacts& f, const Options&) {
  std::vector<Value> values = f.accepted;
  values.insert(values.end(), f.rejected.begin(), f.rejected.end());
  if (values.empty()) return NotChecked("the host named no value to check");
  for (const Value& v : values) {
    const CheckAnswer a = CheckValue(f.liveToken, v);
    if (a.pastEnd >= 0) {
      return Broken(Call(v) + " wrote past the 64-byte reason buffer (byte " +
                    std::to_string(a.pastEnd) + " changed)");
    }
  }
  return Kept();
}

// ---- Registry --------------------------------------------------------------

Verdict CheckRoot(const HostFacts&, const Options&) {
  if (WalkBranch().root == nullptr) {
    return Broken("ZORM_GetRegTreeRoot() returned null: every call would "
                  "answer \"Service is unimplemented\"");
  }
  return Kept();
}

Verdict CheckPrivate(const HostFacts&, const Options&) {
  const Branch b = WalkBranch();
  if (b.root == nullptr) return NotChecked("there is no registry root");
  for (const char* name : {"private", "PRIVATE", "Private", "pRiVaTe"}) {
    Note(std::string("looking up ") + Quote(name) + " ignoring case");
    tagZormRegNode* node = ZORM_GetChildZormRegNodeIgnoreCase(b.root, name);
    const std::string call = "ZORM_GetChildZormRegNodeIgnoreCase(root, " +
                             Quote(name) + ")";
    if (node == nullptr) return Broken(call + " found nothing");
    if (node != b.privateNode) {
      return Broken(call + " found another node than for \"private\"");
    }
  }
  return Kept();
}

Verdict CheckAcl(const HostFacts&, const Options&) {
  const Branch b = WalkBranch();
  if (b.privateNode == nullptr) return NotChecked("the walk finds no \"private\"");
  if (b.acl == nullptr) {
    return Broken("ZORM_GetChildZormRegNode(private, \"ACL\") found nothing");
  }
  return Kept();
}

Verdict CheckTables(const HostFacts&, const Options&) {
  const Branch b = WalkBranch();
  if (b.acl == nullptr) return NotChecked("the walk finds no \"ACL\"");
  std::string missing;
  std::map<tagZormRegNode*, std::string> seen;
  for (const std::string& name : ModuleTables()) {
    tagZormRegNode* node = FindTable(b, name);
    if (node == nullptr) {
      missing += (missing.empty() ? "" : ", ") + name;
    } else if (!seen.emplace(node, name).second) {
      return Broken("tables " + seen[node] + " and " + name +
                    " are the same registry node");
    }
  }
  if (!missing.empty()) {
    return Broken("ZORM_GetChildZormRegNode(ACL, ...) found no table " +
                  missing + ": calls to it answer \"Service is unimplemented\"");
  }
  return Kept();
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

Verdict CheckExact(const HostFacts&, const Options&) {
  const Branch b = WalkBranch();
  if (b.acl == nullptr) return NotChecked("the walk finds no \"ACL\"");
  struct Lookup {
    tagZormRegNode* parent;
    const char* parentName;
    std::string name;
    bool ignoreCase;
  };
  std::vector<Lookup> lookups = {
      {b.root, "root", "priv", true},     {b.root, "root", "privateX", true},
      {b.privateNode, "private", "acl", false},
      {b.privateNode, "private", "Acl", false},
      {b.privateNode, "private", "AC", false},
      {b.privateNode, "private", "ACLX", false},
      {b.acl, "ACL", "Bas", false},       {b.acl, "ACL", "BaseX", false},
      {b.acl, "ACL", "NoSuchTable", false}};
  for (const std::string& table : ModuleTables()) {
    lookups.push_back({b.acl, "ACL", Lower(table), false});
  }
  for (const Lookup& l : lookups) {
    const std::string call =
        std::string(l.ignoreCase ? "ZORM_GetChildZormRegNodeIgnoreCase("
                                 : "ZORM_GetChildZormRegNode(") +
        l.parentName + ", " + Quote(l.name) + ")";
    Note("calling " + call);
    tagZormRegNode* node =
        l.ignoreCase ? ZORM_GetChildZormRegNodeIgnoreCase(l.parent, l.name.c_str())
                     : ZORM_GetChildZormRegNode(l.parent, l.name.c_str());
    if (node != nullptr) {
      return Broken(call + " found a node: a lookup matches whole names " +
                    "only, and the exact one only in their own case");
    }
  }
  return Kept();
}

// ---- Type descriptors and setters ----------------------------------------

const tagZormTypeInfo* TypeInfo(uint32_t code) {
  Note("calling ZORM_GetTypeInfo(" + std::to_string(code) + ")");
  return ZORM_GetTypeInfo(code);
}

// Releases a slot as the module's tree release does.
void Release(const tagZormTypeInfo* info, tagZormMorValue* slot) {
  if (info != nullptr && info->release != nullptr && slot->ptr != nullptr) {
    info->release(slot->ptr);
  }
}

Verdict CheckDescriptors(const HostFacts&, const Options&) {
  for (const TypeCase& t : kTypes) {
    if (TypeInfo(t.code) == nullptr) {
      return Broken("ZORM_GetTypeInfo(" + std::to_string(t.code) + ") (" +
                    t.name + ") returned null");
    }
  }
  return Kept();
}

Verdict CheckInline(const HostFacts&, const Options&) {
  for (const TypeCase& t : kTypes) {
    const tagZormTypeInfo* info = t.inSlot ? TypeInfo(t.code) : nullptr;
    if (info != nullptr && info->release != nullptr) {
      return Broken("type " + std::to_string(t.code) + " (" + t.name +
                    ") has a release function: the module would call it "
                    "with the value held in the slot");
    }
  }
  return Kept();
}

// Sets a slot of stored type `code` from a text, as the module does.
void SetStored(uint32_t code, const std::string& text, tagZormMorValue* slot) {
  if (code == zorm_mor_value::kTypeIPv4) {
    ZORM_IPV4_SetMorValue(text.c_str(), slot);
  } else {
    ZORM_SetMorValue(text.data(), static_cast<uint32_t>(text.size()), slot);
  }
}

Verdict CheckRelease(const HostFacts&, const Options& o) {
  const std::string text(100, 'v');
  for (const TypeCase& t : kTypes) {
    if (t.inSlot) continue;
    const tagZormTypeInfo* info = TypeInfo(t.code);
    const std::string value =
        t.code == zorm_mor_value::kTypeIPv4 ? "192.0.2.1" : text;
    Note("setting and releasing values of type " + std::to_string(t.code) +
         " as the module does");
    const size_t grown = Growth(o.cycles, [&] {
      tagZormMorValue slot{};
      SetStored(t.code, value, &slot);
      Release(info, &slot);
    });
    if (grown != 0) {
      return Broken(Grew(grown, o.cycles, "set-and-release cycles of type " +
                                              std::to_string(t.code) + " (" +
                                              t.name + ")") +
                    ": the release function must free what the setter stores");
    }
  }
  return Kept();
}

Verdict CheckSetterLength(const HostFacts&, const Options&) {
  const tagZormTypeInfo* info = TypeInfo(zorm_mor_value::kTypeString);
  GuardedBytes guarded;
  for (size_t length : {0, 1, 5, 64, 300}) {
    const char* text = guarded.Place(MakeText(length));
    Note("calling ZORM_SetMorValue with a " + std::to_string(length) +
         "-byte text not followed by a NUL");
    tagZormMorValue slot{};
    ZORM_SetMorValue(text, static_cast<uint32_t>(length), &slot);
    Release(info, &slot);
  }
  return Kept();
}

// ---- Adapter ---------------------------------------------------------------

// Asks the adapter about `tree` and releases its answer with free().
void Ask(const HostFacts& f, tagGrpcTableOrRow* tree, const char* table) {
  Note(std::string("calling GRPC_AdapterGet2Quorvex with the ") + table +
       " request tree");
  HeapText answer(GRPC_AdapterGet2Quorvex(tree, kModule, f.liveToken.c_str()));
  if (!answer) return;
  Note("reading the adapter's answer up to its NUL");
  (void)std::strlen(answer.get());
  Note("releasing the adapter's answer with free()");
}

struct Trees {
  NodePtr base, rules;
};

// The module's request trees for two tables, or why there are none.
bool MakeTrees(Trees* trees, std::string* why) {
  const Branch b = WalkBranch();
  tagZormRegNode* base = FindTable(b, kBase);
  tagZormRegNode* rules = FindTable(b, kRules);
  if (base == nullptr || rules == nullptr) {
    *why = "the registry walk finds no \"Base\" or \"IPv4BasicRules\" table";
    return false;
  }
  trees->base = BaseTree(base);
  trees->rules = RulesTree(rules);
  if (!trees->base || !trees->rules) {
    *why = "out of memory";
    return false;
  }
  return true;
}

Verdict CheckAdapterText(const HostFacts& f, const Options& o) {
  Trees trees;
  std::string why;
  if (!MakeTrees(&trees, &why)) return NotChecked(why);
  const int calls = o.cycles / 10 + 1;
  const size_t grown = Growth(calls, [&] {
    Ask(f, trees.base.get(), kBase);
    Ask(f, trees.rules.get(), kRules);
  });
  if (grown != 0) {
    return Broken(Grew(grown, calls, "pairs of adapter calls whose answers "
                                     "were freed") +
                  ": an answer must be one heap block that free() releases");
  }
  return Kept();
}

Verdict CheckAdapterTree(const HostFacts& f, const Options&) {
  Trees trees;
  std::string why;
  if (!MakeTrees(&trees, &why)) return NotChecked(why);
  for (const auto& [tree, table] : {std::make_pair(trees.base.get(), kBase),
                                    std::make_pair(trees.rules.get(), kRules)}) {
    const std::string before = TreeBytes(tree);
    Ask(f, tree, table);
    if (TreeBytes(tree) != before) {
      return Broken(std::string("GRPC_AdapterGet2Quorvex changed the ") +
                    table + " request tree: the adapter must only read it");
    }
  }
  return Kept();
}

// ---- Split -----------------------------------------------------------------

struct PieceList {
  std::unique_ptr<char*, FreeDeleter> list;
  uint64_t count = 0;
};

PieceList Split(const std::string& text) {
  HeapText copy = HeapCopy(text);
  PieceList p;
  if (!copy) return p;
  Note("calling GRPC_Split_MassiveData with a " + std::to_string(text.size()) +
       "-byte text");
  p.list.reset(GRPC_Split_MassiveData(copy.release(), &p.count));
  return p;
}

// Why the piece list of `text` does not have count + 1 pointers spanning
// the text in one block, or "".
std::string CountFault(const PieceList& p, const std::string& text) {
  const std::string of = " for a " + std::to_string(text.size()) + "-byte text";
  if (!p.list) {
    return "GRPC_Split_MassiveData returned null" + of +
           ": the client would receive nothing";
  }
  if (p.count == 0) {
    return "GRPC_Split_MassiveData gave 0 pieces" + of +
           ": the client would receive nothing";
  }
  Note("reading the size of the piece list's heap block");
  const size_t usable = malloc_usable_size(p.list.get());
  if (usable < (p.count + 1) * sizeof(char*)) {
    return "the piece list's block holds " + std::to_string(usable) +
           " bytes, too few for count + 1 = " + std::to_string(p.count + 1) +
           " pointers";
  }
  const ptrdiff_t span = p.list.get()[p.count] - p.list.get()[0];
  if (span != static_cast<ptrdiff_t>(text.size())) {
    return "the pointers of the " + std::to_string(p.count) +
           " pieces span " + std::to_string(span) + " bytes, not the text's " +
           std::to_string(text.size());
  }
  return "";
}

Verdict CheckSplitCount(const HostFacts&, const Options&) {
  for (size_t size : {kLongText, size_t{1}}) {
    const std::string text = MakeText(size);
    const std::string fault = CountFault(Split(text), text);
    if (!fault.empty()) return Broken(fault);
  }
  Split("");  // may give null or no pieces; its list must free all the same
  return Kept();
}

// Why the pieces of `p` do not join into `text`, or "".
// REQUIRES: CountFault(p, text) is "".
std::string PiecesFault(const PieceList& p, const std::string& text) {
  char* const* list = p.list.get();
  for (uint64_t i = 1; i <= p.count; ++i) {
    if (list[i] < list[i - 1]) {
      return "piece " + std::to_string(i) + " ends before it begins";
    }
  }
  if (std::memcmp(list[0], text.data(), text.size()) != 0) {
    return "the pieces joined differ from the text";
  }
  return "";
}

Verdict CheckSplitPieces(const HostFacts&, const Options&) {
  const std::string text = MakeText(kLongText);
  const PieceList p = Split(text);
  if (!CountFault(p, text).empty()) {
    return NotChecked("the piece list is not whole (split.count)");
  }
  const std::string fault = PiecesFault(p, text);
  return fault.empty() ? Kept() : Broken(fault);
}

Verdict CheckSplitFree(const HostFacts&, const Options& o) {
  const std::string text = MakeText(kShortText);
  const size_t grown = Growth(o.cycles, [&] { Split(text); });
  if (grown != 0) {
    return Broken(Grew(grown, o.cycles, "splits whose piece lists were freed") +
                  ": one free() of the list must release what the split keeps");
  }
  return Kept();
}

// ---- Many threads at once ----------------------------------------------------

// The answers that must not depend on how many threads ask at once.
struct Observation {
  uint16_t live = 0, dead = 0;
  std::vector<CheckAnswer> answers;  // accepted values, then rejected ones
  std::vector<tagZormRegNode*> tables;
};

Observation Observe(const HostFacts& f) {
  Observation o;
  o.live = Session(f.liveToken);
  o.dead = Session(f.deadToken);
  for (const auto* values : {&f.accepted, &f.rejected}) {
    for (const Value& v : *values) o.answers.push_back(CheckValue(f.liveToken, v));
  }
  const Branch b = WalkBranch();
  for (const std::string& name : ModuleTables()) o.tables.push_back(FindTable(b, name));
  return o;
}

std::string Difference(const HostFacts& f, const Observation& alone,
                       const Observation& now) {
  if (now.live != alone.live || now.dead != alone.dead) {
    return "GRPC_SESSION_IsExisting answered otherwise than for one thread";
  }
  for (size_t i = 0; i < now.answers.size(); ++i) {
    if (!(now.answers[i] == alone.answers[i])) {
      const Value& v = i < f.accepted.size() ? f.accepted[i]
                                             : f.rejected[i - f.accepted.size()];
      return Call(v) + " answered " + std::to_string(now.answers[i].result) +
             " " + Quote(now.answers[i].reason) + ", for one thread " +
             std::to_string(alone.answers[i].result) + " " +
             Quote(alone.answers[i].reason);
    }
  }
  if (now.tables != alone.tables) {
    return "the registry walk found other nodes than for one thread";
  }
  return "";
}

// A call's worth of trees, setters, adapter and split.
std::string CallRound(const HostFacts& f, const std::string& text) {
  Trees trees;
  std::string why;
  if (MakeTrees(&trees, &why)) {
    Ask(f, trees.base.get(), kBase);
    Ask(f, trees.rules.get(), kRules);
  }
  const PieceList p = Split(text);
  if (CountFault(p, text).empty() && !PiecesFault(p, text).empty()) {
    return "GRPC_Split_MassiveData's pieces did not join into the text";
  }
  return "";
}

Verdict CheckThreads(const HostFacts& f, const Options& o) {
  const Observation alone = Observe(f);
  const std::string text = MakeText(kShortText);
  std::mutex mu;
  std::string first;  // the first difference seen, guarded by mu
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < o.threads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int r = 0; r < o.rounds; ++r) {
        std::string wrong = Difference(f, alone, Observe(f));
        if (wrong.empty()) wrong = CallRound(f, text);
        if (wrong.empty()) continue;
        std::lock_guard<std::mutex> lock(mu);
        if (first.empty()) {
          first = "thread " + std::to_string(t) + ", round " +
                  std::to_string(r) + ": " + wrong;
        }
        return;
      }
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  return first.empty() ? Kept() : Broken(first);
}

}  // namespace

const std::vector<Check>& Checks() {
  static const std::vector<Check> checks = {
      {{"builder", "GRPC_GetServerBuilder gives a server builder"},
       CheckBuilder},
      {{"session.live", "a live session's token answers exactly 1"},
       CheckLiveSession},
      {{"session.dead", "an unknown or empty token answers other than 1"},
       CheckDeadSession},
      {{"check.accept", "an accepted value answers exactly 1"}, CheckAccepted},
      {{"check.reject", "a rejected value answers other than 1"},
       CheckRejected},
      {{"check.reason", "a rejection's reason ends with a NUL within 64 bytes"},
       CheckReason},
      {{"check.bounds", "the value check writes nothing past the 64 bytes"},
       CheckBounds},
      {{"registry.root", "the registry has a root"}, CheckRoot},
      {{"registry.private", "\"private\" is found in any case"}, CheckPrivate},
      {{"registry.acl", "\"ACL\" is found by its exact name"}, CheckAcl},
      {{"registry.tables", "every table is found by its exact name"},
       CheckTables},
      {{"registry.exact", "lookups match whole names, exact ones in case too"},
       CheckExact},
      {{"types.descriptor", "types 1, 5, 6, 8, 14, 15, 22 have descriptors"},
       CheckDescriptors},
      {{"types.inline", "types 1, 8, 14, 15 have no release function"},
       CheckInline},
      {{"types.release", "types 5, 6, 22 release what their setter stores"},
       CheckRelease},
      {{"setter.length", "ZORM_SetMorValue reads only `length` bytes"},
       CheckSetterLength},
      {{"adapter.text", "the adapter's answer is null or a heap text for free()"},
       CheckAdapterText},
      {{"adapter.tree", "the adapter leaves the request tree as it was"},
       CheckAdapterTree},
      {{"split.count", "the split gives count + 1 pointers spanning the text"},
       CheckSplitCount},
      {{"split.pieces", "the pieces run in order and join into the text"},
       CheckSplitPieces},
      {{"split.free", "one free() of the piece list releases all the split keeps"},
       CheckSplitFree},
      {{"threads", "many threads at once get the answers one thread gets"},
       CheckThreads},
  };
  return checks;
}

}  // namespace hostcheck
