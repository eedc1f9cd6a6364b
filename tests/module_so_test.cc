// The built module as a host sees it: a 64-bit little-endian shared object
// for the machine these tests are built for (so a cross build's module is
// the target's), exactly two exported names, and the host and registry
// operations left for the loading process. (Loading it
// and serving a call is the business of the end-to-end and package tests.)

#include <elf.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

#if defined(__aarch64__)
constexpr uint16_t kMachine = EM_AARCH64;
#elif defined(__x86_64__)
constexpr uint16_t kMachine = EM_X86_64;
#else
#error "name this architecture's ELF machine"
#endif

TEST(ModuleSo, IsASharedObjectForThisMachine) {
  Elf64_Ehdr header{};
  std::ifstream file(ACL_MODULE_PATH, std::ios::binary);
  ASSERT_TRUE(file.read(reinterpret_cast<char*>(&header), sizeof(header)));
  EXPECT_EQ(std::memcmp(header.e_ident, ELFMAG, SELFMAG), 0);
  EXPECT_EQ(header.e_ident[EI_CLASS], ELFCLASS64);
  EXPECT_EQ(header.e_ident[EI_DATA], ELFDATA2LSB);
  EXPECT_EQ(header.e_type, ET_DYN);
  EXPECT_EQ(header.e_machine, kMachine);
}

std::set<std::string> Symbols(const std::string& nmFlags) {
  std::string command =
      "nm -D " + nmFlags + " --format=just-symbols " ACL_MODULE_PATH;
  std::set<std::string> names;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char name[512];
  while (std::fscanf(pipe, "%511s", name) == 1) names.insert(name);
  pclose(pipe);
  return names;
}

TEST(ModuleSo, ExportsOnlyItsTwoEntryPoints) {
  EXPECT_EQ(Symbols("--defined-only"),
            (std::set<std::string>{"ServiceCreate", "ServiceDestroy"}));
}

TEST(ModuleSo, LeavesHostOperationsToTheLoadingProcess) {
  std::set<std::string> undefined = Symbols("--undefined-only");
  for (const char* name :
       {"GRPC_GetServerBuilder", "GRPC_SESSION_IsExisting",
        "GRPC_CheckValueOfPara", "GRPC_AdapterGet2Quorvex",
        "GRPC_Split_MassiveData", "ZORM_GetRegTreeRoot",
        "ZORM_GetChildZormRegNode", "ZORM_GetChildZormRegNodeIgnoreCase",
        "ZORM_SetMorValue", "ZORM_IPV4_SetMorValue", "ZORM_GetTypeInfo"}) {
    EXPECT_TRUE(undefined.count(name)) << name;
  }
}

}  // namespace
