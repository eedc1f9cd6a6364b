#include "tests/test_host.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "devhost/split.h"
#include "devhost/tree_json.h"
#include "devhost/values.h"
#include "tree/tree.h"

// The test registry's nodes: a name and children, in a fixed tree rebuilt
// from the configuration on every root lookup.
struct tagZormRegNode {
  std::string name;
  std::vector<std::unique_ptr<tagZormRegNode>> children;
};

namespace testhost {
namespace {

// The registry's tables under "ACL", as the device's schema names them.
constexpr const char* kTableNames[] = {
    "Base", "Capability", "Groups", "NamedGroups", "IPv4BasicRules",
    "IPv4NamedBasicRules", "IPv6BasicRules", "IPv6NamedBasicRules",
    "IPv4AdvanceRules", "IPv4NamedAdvanceRules", "IPv6AdvanceRules",
    "IPv6NamedAdvanceRules", "MACRules", "MACNamedRules", "UserRules",
    "UserNamedRules", "Intervals", "PfilterDefAction", "PfilterApply",
    "PfilterGroupRunInfo", "PfilterRuleRunInfo", "PfilterStatisticSum",
    "ZonePairPfilter", "ZonePairPfilterRules", "PfilterIgnoreAction"};

tagZormRegNode* AddChild(tagZormRegNode* parent, const std::string& name) {
  parent->children.push_back(std::make_unique<tagZormRegNode>());
  parent->children.back()->name = name;
  return parent->children.back().get();
}

// Counts calls of the string types' release function.
void CountingRelease(void* value) {
  {
    std::lock_guard<std::mutex> lock(TheHost().mu);
    ++TheHost().record.releases;
    --TheHost().record.liveTexts;
  }
  devhost::TypeInfo(zorm_mor_value::kTypeString)->release(value);
}

const tagZormTypeInfo kCountedString{zorm_mor_value::kTypeString,
                                     CountingRelease};
const tagZormTypeInfo kCountedName{zorm_mor_value::kTypeName, CountingRelease};

}  // namespace

Host& TheHost() {
  static Host* host = new Host();
  return *host;
}

void Reset() {
  std::lock_guard<std::mutex> lock(TheHost().mu);
  TheHost().config = Config();
  TheHost().record = Record();
}

Record Snapshot() {
  std::lock_guard<std::mutex> lock(TheHost().mu);
  return TheHost().record;
}

}  // namespace testhost

using testhost::TheHost;

extern "C" {

grpc::ServerBuilder* GRPC_GetServerBuilder() {
  std::lock_guard<std::mutex> lock(TheHost().mu);
  ++TheHost().record.builderCalls;
  return TheHost().config.builder;
}

uint16_t GRPC_SESSION_IsExisting(const char* token) {
  std::lock_guard<std::mutex> lock(TheHost().mu);
  TheHost().record.sessions.push_back(token);
  if (TheHost().config.sessionResult) return *TheHost().config.sessionResult;
  return TheHost().config.tokens.count(token) ? 1 : 0;
}

uint16_t GRPC_CheckValueOfPara(const char* token, const char* path,
                               const char* text, uint32_t errorSize,
                               char* errorText) {
  std::lock_guard<std::mutex> lock(TheHost().mu);
  TheHost().record.checks.push_back({token, path, text});
  if (TheHost().record.checks.size() == TheHost().config.rejectNth) {
    std::strncpy(errorText, testhost::kNthReason, errorSize);
    return 0;
  }
  for (const testhost::Reject& r : TheHost().config.rejects) {
    if (r.path == path && (!r.text || *r.text == text)) {
      // The reason may fill the whole buffer, without a NUL.
      std::memcpy(errorText, r.reason.data(),
                  std::min<size_t>(r.reason.size(), errorSize));
      return r.result;
    }
  }
  return 1;
}

char* GRPC_AdapterGet2Quorvex(tagGrpcTableOrRow* table, const char*,
                              const char*) {
  std::string tree = devhost::TreeToJson(table);
  std::lock_guard<std::mutex> lock(TheHost().mu);
  TheHost().record.trees.push_back(tree);
  if (!TheHost().config.answer) return nullptr;
  return strdup(TheHost().config.answer->c_str());
}

char** GRPC_Split_MassiveData(char* text, uint64_t* count) {
  std::lock_guard<std::mutex> lock(TheHost().mu);
  switch (TheHost().config.split) {
    case testhost::SplitMode::kNull:
      std::free(text);
      *count = 0;
      return nullptr;
    case testhost::SplitMode::kZeroPieces: {
      std::free(text);
      *count = 0;
      return static_cast<char**>(std::calloc(1, sizeof(char*)));
    }
    case testhost::SplitMode::kPieces:
      break;
  }
  char** list = devhost::SplitText(text, TheHost().config.splitBytes, count);
  TheHost().record.pieces.clear();
  for (uint64_t i = 1; list != nullptr && i <= *count; ++i) {
    TheHost().record.pieces.emplace_back(list[i - 1], list[i] - list[i - 1]);
  }
  return list;
}

tagZormRegNode* ZORM_GetRegTreeRoot() {
  // Built once per configuration; the configuration does not change while
  // calls run.
  static std::map<std::string, std::unique_ptr<tagZormRegNode>> roots;
  std::lock_guard<std::mutex> lock(TheHost().mu);
  const testhost::Config& c = TheHost().config;
  TheHost().record.lookups.push_back("<root>");
  if (c.noRoot) return nullptr;
  std::string key = c.privateName + "/" + c.moduleName;
  for (const std::string& t : c.missingTables) key += "/-" + t;
  for (const std::string& t : c.extraTables) key += "/+" + t;
  auto& root = roots[key];
  if (!root) {
    root = std::make_unique<tagZormRegNode>();
    tagZormRegNode* module =
        testhost::AddChild(testhost::AddChild(root.get(), c.privateName),
                           c.moduleName);
    for (const char* table : testhost::kTableNames) {
      if (!c.missingTables.count(table)) testhost::AddChild(module, table);
    }
    for (const std::string& table : c.extraTables) {
      testhost::AddChild(module, table);
    }
  }
  return root.get();
}

static tagZormRegNode* FindChild(tagZormRegNode* parent, const char* name,
                                 bool ignoreCase) {
  {
    std::lock_guard<std::mutex> lock(TheHost().mu);
    TheHost().record.lookups.push_back(name);
  }
  if (parent == nullptr) return nullptr;
  for (auto& child : parent->children) {
    if (ignoreCase ? strcasecmp(child->name.c_str(), name) == 0
                   : child->name == name) {
      return child.get();
    }
  }
  return nullptr;
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
  int32_t r = devhost::SetText(text, length, value);
  std::lock_guard<std::mutex> lock(TheHost().mu);
  if (r == 0) ++TheHost().record.liveTexts;
  return r;
}

int32_t ZORM_IPV4_SetMorValue(const char* text, tagZormMorValue* value) {
  return devhost::SetIPv4(text, value);
}

const tagZormTypeInfo* ZORM_GetTypeInfo(uint32_t typeCode) {
  {
    std::lock_guard<std::mutex> lock(TheHost().mu);
    ++TheHost().record.typeInfoCalls;
  }
  if (typeCode == zorm_mor_value::kTypeString) return &testhost::kCountedString;
  if (typeCode == zorm_mor_value::kTypeName) return &testhost::kCountedName;
  return devhost::TypeInfo(typeCode);
}

}  // extern "C"
