#include "benchmarks/bench_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "host/host_api.h"

// The registry's one node; its layout is the host's own business.
struct tagZormRegNode {
  int unused;
};

namespace acl_bench {
namespace {

struct State {
  grpc::ServerBuilder* builder = nullptr;
  std::string answer;
  size_t pieceBytes = 65536;
  tagZormRegNode node{};
  tagZormTypeInfo noRelease{0, nullptr};
};

State& TheState() {
  static State* state = new State();  // never destroyed: threads may outlive
  return *state;
}

}  // namespace

void SetBuilder(grpc::ServerBuilder* builder) { TheState().builder = builder; }

void SetAnswer(std::string answer, size_t pieceBytes) {
  TheState().answer = std::move(answer);
  TheState().pieceBytes = pieceBytes;
}

}  // namespace acl_bench

using acl_bench::TheState;

extern "C" {

grpc::ServerBuilder* GRPC_GetServerBuilder() { return TheState().builder; }

uint16_t GRPC_SESSION_IsExisting(const char*) { return 1; }

uint16_t GRPC_CheckValueOfPara(const char*, const char*, const char*, uint32_t,
                               char*) {
  return 1;
}

char* GRPC_AdapterGet2Quorvex(tagGrpcTableOrRow*, const char*, const char*) {
  const std::string& answer = TheState().answer;
  auto* text = static_cast<char*>(std::malloc(answer.size() + 1));
  if (text != nullptr) std::memcpy(text, answer.c_str(), answer.size() + 1);
  return text;
}

// Pieces of at most pieceBytes: one block of pointers followed by a copy of
// the text, which is released here.
char** GRPC_Split_MassiveData(char* text, uint64_t* count) {
  const size_t size = std::strlen(text);
  const size_t piece = TheState().pieceBytes;
  const size_t n = (size + piece - 1) / piece;
  const size_t pointers = (n + 1) * sizeof(char*);
  auto* block = static_cast<char*>(std::malloc(pointers + size + 1));
  if (block == nullptr) {
    std::free(text);
    return nullptr;
  }
  char* copy = block + pointers;
  std::memcpy(copy, text, size + 1);
  std::free(text);
  auto** list = reinterpret_cast<char**>(block);
  for (size_t i = 0; i <= n; ++i) list[i] = copy + std::min(i * piece, size);
  *count = n;
  return list;
}

tagZormRegNode* ZORM_GetRegTreeRoot() { return &TheState().node; }

tagZormRegNode* ZORM_GetChildZormRegNode(tagZormRegNode* parent,
                                         const char*) {
  return parent;
}

tagZormRegNode* ZORM_GetChildZormRegNodeIgnoreCase(tagZormRegNode* parent,
                                                   const char*) {
  return parent;
}

int32_t ZORM_SetMorValue(const char*, uint32_t, tagZormMorValue*) { return 0; }

int32_t ZORM_IPV4_SetMorValue(const char*, tagZormMorValue*) { return 0; }

const tagZormTypeInfo* ZORM_GetTypeInfo(uint32_t) {
  return &TheState().noRelease;
}

}  // extern "C"
