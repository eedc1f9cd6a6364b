// The host and registry operations of host/host_api.h, exported from the
// executable for the module, each a thin call into the process's Host.
// None lets an exception out to the module.

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "devhost/call_reason.h"
#include "devhost/host.h"
#include "devhost/split.h"
#include "devhost/values.h"
#include "host/host_api.h"

namespace devhost {

Host& TheHost() {
  static Host* host = new Host();  // never destroyed: threads may outlive main
  return *host;
}

}  // namespace devhost

using devhost::TheHost;

extern "C" {

grpc::ServerBuilder* GRPC_GetServerBuilder() { return TheHost().builder; }

uint16_t GRPC_SESSION_IsExisting(const char* token) {
  if (token == nullptr) return 0;
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
  try {
    if (checker != nullptr) {
      const uint16_t result = checker->Check(path, text, errorSize, errorText);
      if (result != 1) devhost::RecordRejection(errorText, errorSize);
      return result;
    }
  } catch (const std::exception&) {
    // Out of memory while judging: reject below.
  }
  if (errorText != nullptr && errorSize > 0) {
    std::snprintf(errorText, errorSize, "%s", "the host cannot judge values");
    devhost::RecordRejection(errorText, errorSize);
  }
  return 0;
}

char* GRPC_AdapterGet2Quorvex(tagGrpcTableOrRow* table, const char* module,
                              const char* /*token*/) {
  const devhost::Adapter* adapter = TheHost().adapter.get();
  if (adapter == nullptr || table == nullptr) return nullptr;
  try {
    return adapter->Answer(table, module != nullptr ? module : "");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "acl-devhost: the adapter failed: %s\n", e.what());
    return nullptr;
  }
}

char** GRPC_Split_MassiveData(char* text, uint64_t* count) {
  uint64_t ignored;
  if (count == nullptr) count = &ignored;
  return devhost::SplitText(text, TheHost().splitBytes, count);
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
