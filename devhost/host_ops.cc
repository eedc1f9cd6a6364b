// The host and registry operations of host/host_api.h, exported from the
// executable for the module, each a thin call into the process's Host.
// None lets an exception out to the module.
//
// Duties besides: once the host is stopping, the session check, the value
// check, the adapter and the split answer at once, so that handlers still
// running return quickly; and the call's value checks, reason and answer
// go to its record (call.h), which also splits the answer.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "devhost/call.h"
#include "devhost/host.h"
#include "devhost/values.h"
#include "host/host_api.h"

namespace devhost {

Host& TheHost() {
  static Host* host = new Host();  // never destroyed: threads may outlive main
  return *host;
}

void UseBuiltInSample(Host* host, const std::string& token) {
  host->registry = Registry::BuiltIn();
  host->checker =
      std::make_unique<Checker>(*host->registry, std::vector<RejectRule>{});
  host->adapter = MakeJsonAdapter(*host->registry, SampleConfig());
  host->tokens = {token};
}

namespace {

// The value check's reason once the host is stopping.
constexpr char kStoppingReason[] = "the host is shutting down";
constexpr char kCannotJudge[] = "the host cannot judge values";

bool Stopping() {
  return TheHost().stopping.load(std::memory_order_relaxed);
}

}  // namespace
}  // namespace devhost

using devhost::Stopping;
using devhost::TheHost;

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
  const char* reason = devhost::kCannotJudge;
  devhost::CountCheck();
  try {
    if (Stopping()) {
      reason = devhost::kStoppingReason;
    } else if (checker != nullptr) {
      const uint16_t verdict = checker->Check(path, text, errorSize, errorText);
      if (verdict != 1) devhost::RecordRejection(errorText, errorSize);
      return verdict;
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
    devhost::NoteAnswer(table, answer, answer != nullptr ? size : 0);
    return answer;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "acl-devhost: the adapter failed: %s\n", e.what());
    return nullptr;
  }
}

char** GRPC_Split_MassiveData(char* text, uint64_t* count) {
  uint64_t ignored;
  if (count == nullptr) count = &ignored;
  *count = 0;
  if (text == nullptr) return nullptr;
  if (Stopping()) {  // nothing will be sent: spare the work
    std::free(text);
    return nullptr;
  }
  return devhost::SplitAnswer(text, TheHost().splitBytes, count);
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
